#include "catalog/PrimaryKey.h"

#include <QtTest>

using namespace Catalog;

// The primary key of the one table a statement reads, from a snapshot built here.
class tst_PrimaryKey : public QObject
{
    Q_OBJECT

private slots:
    void primaryKey_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("key");
        QTest::newRow("qualified")
            << "select * from T301DBA.ORDERS where AMOUNT > 0" << QStringList { "ID" };
        QTest::newRow("unqualified, with a correlation name")
            << "select o.* from orders o" << QStringList { "ID" };
        QTest::newRow("two columns, in key order")
            << "select * from T301DBA.LINES" << QStringList { "ORDER_ID", "LINE" };
        QTest::newRow("a join") << "select * from T301DBA.ORDERS o join T301DBA.LINES l on 1 = 1"
                                << QStringList();
        QTest::newRow("no key") << "select * from T301DBA.NOTES" << QStringList();
        QTest::newRow("columns not read yet") << "select * from T301DBA.LATER" << QStringList();
        QTest::newRow("unknown table") << "select * from T301DBA.NOWHERE" << QStringList();
        QTest::newRow("no table") << "select 1 as ID" << QStringList();
    }

    void primaryKey()
    {
        QFETCH(QString, sql);
        QFETCH(QStringList, key);
        const auto column = [](const char *name, int keySeq) {
            Column c;
            c.name = QLatin1String(name);
            c.keySeq = keySeq;
            return c;
        };
        QVector<Object> objects;
        QHash<QString, QVector<Column>> columns;
        for (const char *name : { "ORDERS", "LINES", "NOTES", "LATER" })
            objects.append({ QStringLiteral("T301DBA"), QLatin1String(name), Kind::Table, {} });
        columns.insert(
            Snapshot::key(u"T301DBA", u"ORDERS"), { column("ID", 1), column("AMOUNT", 0) });
        columns.insert(Snapshot::key(u"T301DBA", u"LINES"),
            { column("LINE", 2), column("TEXT", 0), column("ORDER_ID", 1) });
        columns.insert(Snapshot::key(u"T301DBA", u"NOTES"), { column("TEXT", 0) });
        const Snapshot snapshot(QStringLiteral("DB2T301"), QDateTime(), objects, columns);
        QCOMPARE(Catalog::primaryKey(snapshot, sql, Sql::Dialect::Db2), key);
    }
};

QTEST_GUILESS_MAIN(tst_PrimaryKey)
#include "tst_primarykey.moc"
