#include "catalog/CatalogSnapshot.h"

#include <QtTest>

using namespace Catalog;

// The lookups completion and "did you mean" rely on: prefixes without case, per schema or all,
// bounded, and columns that join a snapshot without touching the one readers hold.
class tst_CatalogSnapshot : public QObject
{
    Q_OBJECT

    static Snapshot sample()
    {
        return Snapshot(QStringLiteral("DB2T301"), QDateTime::currentDateTime(),
            { { "T301DBA", "ORDERS", Kind::Table, {} },
                { "T301DBA", "ORDER_LINES", Kind::Table, {} },
                { "T301DBA", "ORDERS_V", Kind::View, {} }, { "public", "orders", Kind::Table, {} },
                { "T301DBA", "CUSTOMER", Kind::Alias, {} },
                { "SYSIBM", "SYSTABLES", Kind::Table, {} } });
    }

    static QStringList names(const QVector<const Object *> &objects)
    {
        QStringList list;
        for (const Object *object : objects)
            list << object->schema + '.' + object->name;
        return list;
    }

private slots:
    void prefixes_data()
    {
        QTest::addColumn<QString>("schema");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("all schemas, folded") << ""
                                             << "ord" << 10
                                             << QStringList { "public.orders", "T301DBA.ORDERS",
                                                    "T301DBA.ORDERS_V", "T301DBA.ORDER_LINES" };
        QTest::newRow("one schema, its spelling free")
            << "t301dba"
            << "ORDERS" << 10 << QStringList { "T301DBA.ORDERS", "T301DBA.ORDERS_V" };
        QTest::newRow("limit") << ""
                               << "" << 2 << QStringList { "T301DBA.CUSTOMER", "public.orders" };
        QTest::newRow("no such schema") << "NONE"
                                        << "" << 10 << QStringList {};
        QTest::newRow("prefix past every name") << ""
                                                << "ZZ" << 10 << QStringList {};
        QTest::newRow("empty prefix in a schema") << "SYSIBM"
                                                  << "" << 10 << QStringList { "SYSIBM.SYSTABLES" };
    }
    void prefixes()
    {
        QFETCH(QString, schema);
        QFETCH(QString, prefix);
        QFETCH(int, limit);
        QFETCH(QStringList, expected);
        const Snapshot snapshot = sample();
        QCOMPARE(names(snapshot.objects(schema, prefix, limit)), expected);
    }

    void lookups()
    {
        const Snapshot snapshot = sample();
        QCOMPARE(snapshot.schemas(), (QStringList { "public", "SYSIBM", "T301DBA" }));
        QCOMPARE(
            names(snapshot.named(u"Orders")), (QStringList { "public.orders", "T301DBA.ORDERS" }));
        QVERIFY(snapshot.find(u"PUBLIC", u"ORDERS"));
        QCOMPARE(snapshot.find(u"PUBLIC", u"ORDERS")->schema, QStringLiteral("public"));
        QVERIFY(!snapshot.find(u"SYSIBM", u"ORDERS"));

        QVERIFY(!snapshot.columns(u"T301DBA", u"ORDERS"));
        const auto more = snapshot.withColumns({ { Snapshot::key(u"T301DBA", u"ORDERS"),
            { { "ORDER_ID", "INTEGER", 10, 0, false, 1, {} } } } });
        QVERIFY(!snapshot.columns(u"T301DBA", u"ORDERS"));
        QVERIFY(more->columns(u"t301dba", u"orders"));
        QCOMPARE(more->columns(u"t301dba", u"orders")->first().keySeq, 1);
        QCOMPARE(names(more->objects(u"", u"ORDERS_", 5)), QStringList { "T301DBA.ORDERS_V" });
    }
};

QTEST_APPLESS_MAIN(tst_CatalogSnapshot)
#include "tst_catalogsnapshot.moc"
