#include "catalog/DidYouMean.h"

#include <QtTest>

using namespace Catalog;

// The undefined name read from each database's message, and the names and aliases offered.
class tst_DidYouMean : public QObject
{
    Q_OBJECT

    static SnapshotPtr catalog(
        const char *alias, QVector<Object> objects, QHash<QString, QVector<Column>> columns = {})
    {
        return std::make_shared<Snapshot>(QLatin1String(alias), QDateTime(), objects, columns);
    }

private slots:
    void suggestions_data()
    {
        QTest::addColumn<QString>("sqlState");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("expected");

        QTest::newRow("DB2 SQL0204N, nearest first, other alias")
            << "42704"
            << "[IBM][CLI Driver][DB2/LINUX] SQL0204N  \"T301DBA.ORDRS\" is an undefined name.  "
               "SQLSTATE=42704"
            << "select * from T301DBA.ORDRS"
            << "Did you mean T301DBA.ORDERS or T301DBA.ORDERS2? ORDRS is in OTHER.";
        QTest::newRow("DB2 SQL0206N, the statement's columns")
            << "42703"
            << "SQL0206N  \"AMOUNTT\" is not valid in the context where it is used."
            << "select amountt from T301DBA.ORDERS"
            << "Did you mean AMOUNT?";
        QTest::newRow("PostgreSQL 42703 qualified")
            << "42703"
            << "ERROR: column o.amont does not exist;\nError while executing the query"
            << "select o.amont from T301DBA.ORDERS o"
            << "Did you mean AMOUNT?";
        QTest::newRow("SQLite no such table, far names left out")
            << "HY000"
            << "no such table: ORDERZ (1)"
            << "select * from ORDERZ"
            << "Did you mean ORDERS or ORDERS2?";
        QTest::newRow("another schema of the same alias")
            << "42P01"
            << "ERROR: relation \"T302DBA.ORDERS\" does not exist"
            << "select * from T302DBA.ORDERS"
            << "Did you mean T301DBA.ORDERS or T301DBA.ORDERS2?";
        QTest::newRow("another error") << "23505"
                                       << "duplicate key"
                                       << "insert into t values (1)"
                                       << "";
    }

    void suggestions()
    {
        QFETCH(QString, sqlState);
        QFETCH(QString, message);
        QFETCH(QString, statement);
        QFETCH(QString, expected);
        Column amount;
        amount.name = QStringLiteral("AMOUNT");
        Column id;
        id.name = QStringLiteral("ID");
        const SnapshotPtr own = catalog("OWN",
            { { "T301DBA", "ORDERS", Kind::Table, {} }, { "T301DBA", "ORDERS2", Kind::Table, {} },
                { "T301DBA", "CUSTOMERS", Kind::Table, {} } },
            { { Snapshot::key(u"T301DBA", u"ORDERS"), { id, amount } } });
        const SnapshotPtr other = catalog("OTHER", { { "T301DBA", "ORDRS", Kind::Table, {} } });
        const UndefinedName name = undefinedName(message, { { sqlState, message } });
        const Suggestions found =
            suggest(name, statement, own.get(), Sql::Dialect::Db2, { own, other });
        QCOMPARE(found.text(name), expected);
    }

    void editDistance_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("distance");
        QTest::newRow("case") << "orders"
                              << "ORDERS" << 0;
        QTest::newRow("swap") << "ORDRES"
                              << "ORDERS" << 1;
        QTest::newRow("insert and delete") << "ORDRS"
                                           << "ORDERSX" << 2;
        QTest::newRow("empty") << ""
                               << "ABC" << 3;
    }

    void editDistance()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, distance);
        QCOMPARE(Catalog::editDistance(a, b), distance);
    }
};

QTEST_GUILESS_MAIN(tst_DidYouMean)
#include "tst_didyoumean.moc"
