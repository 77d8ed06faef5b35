#include "app/CatalogFreshness.h"
#include "catalog/Catalogs.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"
#include "support/WindowFixture.h"

#include <QtTest>

// Which schema a definition Stelvik ran touched, so that only that one is read again; the
// window loads the catalog of the alias it runs on and reads it again after a definition.
class tst_CatalogFreshness : public QObject
{
    Q_OBJECT

private slots:
    void touchedSchemas_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("schemas");
        QTest::newRow("qualified table")
            << "CREATE TABLE t301dba.orders (id INTEGER, note VARCHAR(20))"
            << QStringList { "T301DBA" };
        QTest::newRow("unqualified: the current schema")
            << "create table orders (id integer)" << QStringList { "" };
        QTest::newRow("a view reading another schema")
            << "CREATE VIEW open_orders AS SELECT * FROM APP.ORDERS" << QStringList { "" };
        QTest::newRow("an index on a table")
            << "CREATE INDEX S.I ON S.T (C)" << QStringList { "S" };
        QTest::newRow("a query changes nothing") << "SELECT * FROM S.T" << QStringList {};
        QTest::newRow("several, each once")
            << "DROP TABLE A.X; ALTER TABLE B.Y ADD C INT; COMMENT ON TABLE A.Z IS 'x'"
            << QStringList { "A", "B" };
    }
    void touchedSchemas()
    {
        QFETCH(QString, sql);
        QFETCH(QStringList, schemas);
        QCOMPARE(CatalogFreshness::touchedSchemas(sql, Sql::Dialect::Db2), schemas);
    }

    void windowKeepsTheCatalogFresh()
    {
        TestEnv::addSqliteDsn("CATWIN", { "create table first_t (a integer)" });
        WindowFixture w;
        QVERIFY(w.open());
        w->setDBParms(PgServer::loginText("any", "x"));
        Catalog::Catalogs *catalogs = w->catalogs();
        const auto has = [catalogs](QStringView name) {
            const Catalog::SnapshotPtr snapshot = catalogs->snapshot("CATWIN");
            return snapshot && snapshot->find(u"main", name);
        };
        w.start(w.runButton(), "CATWIN", "select * from first_t");
        QVERIFY(w.waitIdle());
        QTRY_VERIFY_WITH_TIMEOUT(has(u"first_t"), 60000);
        w.start(w.execButton(), "CATWIN", "create table made_here (b integer)");
        QVERIFY(w.waitIdle());
        QTRY_VERIFY_WITH_TIMEOUT(has(u"made_here"), 60000);
        // A definition in a script counts as one run on its own.
        w.type(QStringLiteral("select 1;\ncreate table made_by_script (c integer);\n"));
        w.chooseAlias("CATWIN");
        QTest::keyClick(w.editor(), Qt::Key_X, Qt::AltModifier);
        QVERIFY(w.waitIdle());
        QTRY_VERIFY_WITH_TIMEOUT(has(u"made_by_script"), 60000);
    }
};

STELVIK_TEST_MAIN(tst_CatalogFreshness)
#include "tst_catalogfreshness.moc"
