#include "catalog/CatalogService.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <functional>

using namespace Catalog;

// The catalog service end to end on the real drivers: names, then columns on first use, a reload
// after a CREATE, a failing read that leaves the snapshot, and the cache file warm at the next
// start, rebuilt when damaged. Each test runs on SQLite and on PostgreSQL.
class tst_CatalogService : public QObject
{
    Q_OBJECT

    struct Database
    {
        QString alias, user, password, schema;
        std::function<void(const QString &)> exec; // runs SQL beside the catalog's connection
        // true: a new catalog connection with another user name fails
        std::function<void(bool)> breakIt;
        CatalogService::SettingsOf settings; // the ODBC catalog functions or the source's SQL
    };

    Database database()
    {
        QFETCH_GLOBAL(QString, engine);
        const QStringList tables { "CREATE TABLE orders (id INTEGER PRIMARY KEY,"
                                   " customer VARCHAR(20) NOT NULL, amount DECIMAL(10,2))",
            "CREATE INDEX orders_by_customer ON orders (customer)",
            "CREATE VIEW open_orders AS SELECT id, customer FROM orders" };
        Database db;
        db.alias = "CAT_" + engine.toUpper();
        if (engine == "odbc") {
            // The SQLite driver's catalog functions: the road of any other driver.
            db.alias = "CAT_SQLITE";
            db.settings = [](const QString &) {
                CatalogService::AliasSettings settings;
                settings.driverFunctions = true;
                return settings;
            };
        }
        if (engine == "sqlite" || engine == "odbc") {
            const QString file = TestEnv::root() + "/" + db.alias + ".db";
            if (!QFile::exists(file))
                TestEnv::addSqliteDsn(db.alias, tables);
            db.user = "any";
            db.schema = engine == "odbc" ? "" : "main"; // the functions know no schema
            db.exec = [file](const QString &sql) {
                QCOMPARE(QProcess::execute("sqlite3", { file, sql }), 0);
            };
            db.breakIt = [file](bool on) {
                // A folder where the database was: the driver cannot open it.
                QVERIFY(on ? QFile::rename(file, file + ".away") && QDir().mkdir(file)
                           : QDir().rmdir(file) && QFile::rename(file + ".away", file));
            };
        } else {
            PgServer &server = PgServer::instance();
            const QString name = "catalogtest";
            server.addDsn(db.alias, name);
            if (server.value("SELECT count(*) FROM pg_class WHERE relname = 'orders'", name) == "0")
                server.exec(tables.join(";"), name);
            db.user = server.user();
            db.schema = "public";
            db.exec = [&server, name](const QString &sql) { server.exec(sql, name); };
            db.breakIt = [](bool) {}; // the server knows no such role
        }
        db.password = engine == "sqlite" ? QString() : PgServer::instance().password();
        return db;
    }

    static QString cachePath(const QString &name)
    {
        QFETCH_GLOBAL(QString, engine);
        return TestEnv::root() + "/" + engine + "-" + name + ".db";
    }

    static bool has(const CatalogService &service, const Database &db, const QString &name)
    {
        const SnapshotPtr snapshot = service.snapshot(db.alias);
        return snapshot && snapshot->find(db.schema, name);
    }

private slots:
    void initTestCase_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::newRow("SQLite") << "sqlite";
        QTest::newRow("PostgreSQL") << "postgres";
        QTest::newRow("ODBC catalog functions") << "odbc";
    }

    void namesColumnsReload()
    {
        const Database db = database();
        CatalogService service(cachePath("names"), db.settings);
        service.setLogin(db.alias, db.user, db.password);
        service.ensureLoaded(db.alias);
        QTRY_VERIFY_WITH_TIMEOUT(has(service, db, "open_orders"), 60000);
        const SnapshotPtr names = service.snapshot(db.alias);
        QCOMPARE(names->find(db.schema, u"ORDERS")->kind, Kind::Table);
        QCOMPARE(names->find(db.schema, u"open_orders")->kind, Kind::View);

        service.requestColumns(db.alias, db.schema.toUpper(), "Orders");
        QTRY_VERIFY_WITH_TIMEOUT(service.snapshot(db.alias)->columns(db.schema, u"orders"), 60000);
        const SnapshotPtr snapshot = service.snapshot(db.alias);
        const QVector<Column> &columns = *snapshot->columns(db.schema, u"orders");
        QCOMPARE(columns.size(), 3);
        QCOMPARE(columns[0].name, "id");
        QCOMPARE(columns[0].keySeq, 1);
        QCOMPARE(columns[1].name, "customer");
        QCOMPARE(columns[1].nullable, false);
        QCOMPARE(columns[1].length, 20);
        QCOMPARE(columns[2].length, 10);
        QCOMPARE(columns[2].scale, 2);
        QVERIFY(columns[2].nullable);
        const QVector<Index> *indexes = snapshot->indexes(db.schema, u"orders");
        QVERIFY(indexes);
        const auto byCustomer = std::find_if(indexes->cbegin(), indexes->cend(),
            [](const Index &index) { return index.name == "orders_by_customer"; });
        QVERIFY(byCustomer != indexes->cend());
        QCOMPARE(byCustomer->columns, QStringList { "customer" });
        QVERIFY(!byCustomer->unique);

        // A definition ran elsewhere: the current schema is read again, unqualified.
        db.exec("CREATE TABLE added_" + QString::number(QDateTime::currentMSecsSinceEpoch())
            + " (x INTEGER)");
        db.exec("DROP VIEW open_orders");
        db.exec("CREATE VIEW open_orders AS SELECT id, customer FROM orders");
        service.reloadSchema(db.alias, QString());
        QTRY_VERIFY_WITH_TIMEOUT(
            !service.snapshot(db.alias)->objects(db.schema, u"added_", 5).isEmpty(), 60000);
        QVERIFY(has(service, db, "orders"));
    }

    void failureLeavesSnapshot()
    {
        const Database db = database();
        CatalogService service(cachePath("failure"), db.settings);
        QSignalSpy failed(&service, &Catalogs::loadFailed);
        service.setLogin(db.alias, db.user, db.password);
        service.ensureLoaded(db.alias);
        QTRY_VERIFY_WITH_TIMEOUT(has(service, db, "orders"), 60000);
        const SnapshotPtr before = service.snapshot(db.alias);

        db.breakIt(true);
        service.setLogin(db.alias, db.user + "_nobody", db.password);
        for (int attempt = 0; attempt < 2; ++attempt) {
            service.reloadAlias(db.alias);
            QTRY_VERIFY_WITH_TIMEOUT(!service.busy(db.alias), 60000);
        }
        db.breakIt(false);
        service.setLogin(db.alias, db.user, db.password);
        QCOMPARE(failed.count(), 1); // told once
        QCOMPARE(failed.first().at(0).toString(), db.alias);
        QVERIFY(!failed.first().at(1).toString().isEmpty());
        QCOMPARE(service.snapshot(db.alias), before);

        service.reloadAlias(db.alias);
        QTRY_VERIFY_WITH_TIMEOUT(service.snapshot(db.alias) != before, 60000);
    }

    void cacheWarmAndRebuilt()
    {
        const Database db = database();
        const QString path = cachePath("warm");
        {
            CatalogService first(path, db.settings);
            first.setLogin(db.alias, db.user, db.password);
            first.ensureLoaded(db.alias);
            QTRY_VERIFY_WITH_TIMEOUT(has(first, db, "orders"), 60000);
            QTRY_VERIFY_WITH_TIMEOUT(!first.busy(db.alias), 60000); // the file written
        }
        {
            // No login: only the file can answer.
            CatalogService warm(path, db.settings);
            warm.ensureLoaded(db.alias);
            QTRY_VERIFY_WITH_TIMEOUT(has(warm, db, "orders"), 60000);
            QCOMPARE(warm.ageText(db.alias),
                "catalog of " + db.alias + " as of "
                    + warm.snapshot(db.alias)->loadedAt().toString("HH:mm"));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray(8192, 'x'));
        file.close();
        {
            CatalogService damaged(path, db.settings);
            damaged.ensureLoaded(db.alias);
            QTRY_VERIFY_WITH_TIMEOUT(!damaged.busy(db.alias), 60000);
            QVERIFY(!damaged.snapshot(db.alias)); // nothing cached any more
            damaged.setLogin(db.alias, db.user, db.password);
            QTRY_VERIFY_WITH_TIMEOUT(has(damaged, db, "orders"), 60000);
            QTRY_VERIFY_WITH_TIMEOUT(!damaged.busy(db.alias), 60000);
        }
        {
            CatalogService rebuilt(path, db.settings);
            rebuilt.ensureLoaded(db.alias);
            QTRY_VERIFY_WITH_TIMEOUT(has(rebuilt, db, "orders"), 60000);
        }
        // Closing while a read runs waits for nothing.
        CatalogService closing(path, db.settings);
        closing.setLogin(db.alias, db.user, db.password);
        closing.reloadAlias(db.alias);
    }
};

STELVIK_TEST_GUILESS_MAIN(tst_CatalogService)
#include "tst_catalogservice.moc"
