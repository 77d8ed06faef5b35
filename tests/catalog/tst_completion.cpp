#include "catalog/Completion.h"

#include <QtTest>

using namespace Catalog;
using Sql::Dialect;

Q_DECLARE_METATYPE(Sql::Dialect)

// The context at a cursor (marked "|") and the candidates one catalog per dialect gives for it.
class tst_Completion : public QObject
{
    Q_OBJECT

    static Column column(const char *name, const char *type, int key = 0)
    {
        Column c;
        c.name = QLatin1String(name);
        c.type = QLatin1String(type);
        c.keySeq = key;
        return c;
    }

    static Snapshot snapshot(Dialect dialect)
    {
        QVector<Object> objects;
        QHash<QString, QVector<Column>> columns;
        const auto table = [&](const char *schema, const char *name, QVector<Column> cols,
                               Kind kind = Kind::Table) {
            objects.append({ QLatin1String(schema), QLatin1String(name), kind, {} });
            if (!cols.isEmpty())
                columns.insert(
                    Snapshot::key(QString::fromLatin1(schema), QString::fromLatin1(name)), cols);
        };
        if (dialect == Dialect::Db2) {
            table("T301DBA", "ORDERS",
                { column("ID", "INTEGER", 1), column("CUSTOMER_ID", "INTEGER"),
                    column("AMOUNT", "DECIMAL") });
            table("T301DBA", "CUSTOMER", { column("ID", "INTEGER", 1), column("NAME", "VARCHAR") },
                Kind::Alias);
            table("T301DBA", "ORDER_LINES", {}); // columns not read yet
            table("T311DBA", "ORDERS", { column("ID", "INTEGER") });
        } else if (dialect == Dialect::PostgreSql) {
            table("public", "orders", { column("id", "integer"), column("amount", "numeric") });
            table("public", "Order Items", { column("id", "integer") });
            table("sales", "orders", { column("id", "integer"), column("region", "text") });
        } else {
            table("main", "orders", { column("id", "INTEGER"), column("amount", "REAL") });
            table("main", "customer", { column("id", "INTEGER"), column("name", "TEXT") });
        }
        return Snapshot(QStringLiteral("A"), QDateTime(), objects, columns);
    }

private slots:
    void candidates_data()
    {
        QTest::addColumn<QString>("text"); // "|" marks the cursor
        QTest::addColumn<Dialect>("dialect");
        QTest::addColumn<QStringList>("expected"); // the first candidates' insertions
        QTest::addColumn<QString>("replaced");
        QTest::addColumn<QString>("missing"); // tables whose columns are asked for

        const Dialect db2 = Dialect::Db2, pg = Dialect::PostgreSql, lite = Dialect::Sqlite;
        QTest::newRow("schema.") << "select * from T301DBA.ORD|" << db2
                                 << QStringList { "ORDERS", "ORDER_LINES" } << "ORD"
                                 << "";
        QTest::newRow("after FROM, qualified")
            << "select * from ord|" << db2
            << QStringList { "T301DBA.ORDERS", "T311DBA.ORDERS", "T301DBA.ORDER_LINES" } << "ord"
            << "";
        QTest::newRow("schemas first")
            << "select * from t3|" << db2 << QStringList { "T301DBA.", "T311DBA." } << "t3"
            << "";
        QTest::newRow("correlation.") << "select o.| from T301DBA.ORDERS o" << db2
                                      << QStringList { "ID", "CUSTOMER_ID", "AMOUNT" } << ""
                                      << "";
        QTest::newRow("table name.")
            << "select ORDERS.am| from T301DBA.ORDERS" << db2 << QStringList { "AMOUNT" } << "am"
            << "";
        QTest::newRow("word's rest replaced") << "select o.am|ount from T301DBA.ORDERS o" << db2
                                              << QStringList { "AMOUNT" } << "amount"
                                              << "";
        QTest::newRow("ON")
            << "select 1 from T301DBA.ORDERS o join T301DBA.CUSTOMER c on c.| = o.ID" << db2
            << QStringList { "ID", "NAME" } << ""
            << "";
        QTest::newRow("select list, keywords after")
            << "select a| from T301DBA.ORDERS o, T301DBA.CUSTOMER c" << db2
            << QStringList { "AMOUNT", "all", "and" } << "a"
            << "";
        QTest::newRow("a name in two tables")
            << "select i| from T301DBA.ORDERS o, T301DBA.CUSTOMER c" << db2
            << QStringList { "o.ID", "c.ID" } << "i"
            << "";
        QTest::newRow("WHERE after the FROM") << "select * from T301DBA.CUSTOMER where n|" << db2
                                              << QStringList { "NAME", "new", "not" } << "n"
                                              << "";
        QTest::newRow("in a string")
            << "select * from T301DBA.ORDERS where 'T301DBA.|'" << db2 << QStringList {} << ""
            << "";
        QTest::newRow("in a comment")
            << "-- from T301DBA.|\nselect 1" << db2 << QStringList {} << ""
            << "";
        QTest::newRow("after a table, keywords")
            << "select * from T301DBA.ORDERS wher|" << db2 << QStringList { "where" } << "wher"
            << "";
        QTest::newRow("statement start")
            << "select 1;\nSEL|" << db2 << QStringList { "SELECT" } << "SEL"
            << "";
        QTest::newRow("t.* expanded") << "select o.*| from T301DBA.ORDERS o" << db2
                                      << QStringList { "o.ID, o.CUSTOMER_ID, o.AMOUNT" } << "o.*"
                                      << "";
        QTest::newRow("* expanded")
            << "select *| from T301DBA.CUSTOMER" << db2 << QStringList { "ID, NAME" } << "*"
            << "";
        QTest::newRow("columns not read yet")
            << "select l.| from T301DBA.ORDER_LINES l" << db2 << QStringList {} << ""
            << "T301DBA.ORDER_LINES";
        QTest::newRow("postgres: quoted, ambiguous qualified")
            << "select * from ord|" << pg
            << QStringList { "\"Order Items\"", "public.orders", "sales.orders" } << "ord"
            << "";
        QTest::newRow("postgres: INSERT column list")
            << "insert into orders (|" << pg << QStringList { "id", "amount" } << ""
            << "";
        QTest::newRow("postgres: open quote")
            << "select * from \"Order|" << pg
            << QStringList { "\"Order Items\"", "public.\"orders\"" } << "\"Order"
            << "";
        QTest::newRow("sqlite: default schema left out")
            << "select * from cu|" << lite << QStringList { "customer" } << "cu"
            << "";
        QTest::newRow("sqlite: UPDATE SET")
            << "update customer set n|" << lite << QStringList { "name", "not" } << "n"
            << "";
    }

    void candidates()
    {
        QFETCH(QString, text);
        QFETCH(Dialect, dialect);
        QFETCH(QStringList, expected);
        QFETCH(QString, replaced);
        QFETCH(QString, missing);
        const int cursor = int(text.indexOf(QLatin1Char('|')));
        text.remove(cursor, 1);
        const Snapshot catalog = snapshot(dialect);
        const CompletionContext context = completionContext(text, cursor, dialect);
        const Completion result = complete(context, &catalog, dialect);
        QStringList inserted;
        for (const Candidate &candidate : result.candidates)
            inserted << candidate.insert;
        QCOMPARE(inserted.mid(0, expected.size()), expected);
        if (!expected.isEmpty())
            QCOMPARE(text.mid(context.from, context.to - context.from), replaced);
        QStringList asked;
        for (const Object *table : result.missingColumns)
            asked << table->schema + QLatin1Char('.') + table->name;
        QCOMPARE(asked.join(QLatin1Char(',')), missing);
    }

    void describedTable_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("qualified") << "select * from T301DBA.OR|DERS"
                                   << "T301DBA.ORDERS";
        QTest::newRow("correlation") << "select o|.ID from T311DBA.ORDERS o"
                                     << "T311DBA.ORDERS";
        QTest::newRow("column") << "select NA|ME from T301DBA.CUSTOMER"
                                << "T301DBA.CUSTOMER";
        QTest::newRow("keyword") << "sel|ect 1"
                                 << "";
    }

    void describedTable()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const int cursor = int(text.indexOf(QLatin1Char('|')));
        text.remove(cursor, 1);
        const Snapshot catalog = snapshot(Dialect::Db2);
        const Object *table = tableAt(text, cursor, Dialect::Db2, catalog);
        QCOMPARE(table ? table->schema + QLatin1Char('.') + table->name : QString(), expected);
    }
};

QTEST_GUILESS_MAIN(tst_Completion)
#include "tst_completion.moc"
