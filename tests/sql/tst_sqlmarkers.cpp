#include "sql/SqlMarkers.h"

#include <QtTest>

// Where a statement's values go: what counts as a marker in each dialect, what the driver is
// sent, and which value each "?" takes.
class tst_SqlMarkers : public QObject
{
    Q_OBJECT

private slots:
    void markers_data()
    {
        using Sql::Dialect;
        QTest::addColumn<QString>("text");
        QTest::addColumn<Dialect>("dialect");
        QTest::addColumn<QString>("driverText");
        QTest::addColumn<QStringList>("binding"); // the value of each "?" sent

        QTest::newRow("named, repeated is one value")
            << "SELECT NOTE FROM single WHERE NOTE = :note OR ALT=:note AND N = :n" << Dialect::Db2
            << "SELECT NOTE FROM single WHERE NOTE = ? OR ALT=? AND N = ?"
            << QStringList { ":note", ":note", ":n" };
        QTest::newRow("positional, each its own")
            << "VALUES (?, ?)" << Dialect::Sqlite << "VALUES (?, ?)" << QStringList { "?1", "?2" };
        QTest::newRow("in strings, comments, names, directives")
            << "--#SET TERMINATOR :x\nSELECT ':a', \"b:c\" /* :d ? */ FROM t -- :e ?\nWHERE r ~ "
               "'[:digit:]'"
            << Dialect::Db2
            << "--#SET TERMINATOR :x\nSELECT ':a', \"b:c\" /* :d ? */ FROM t -- :e ?\nWHERE r ~ "
               "'[:digit:]'"
            << QStringList {};
        QTest::newRow("labels are no markers")
            << "L1:BEGIN DECLARE X INT; L2: LOOP LEAVE L2; END LOOP; END" << Dialect::Db2
            << "L1:BEGIN DECLARE X INT; L2: LOOP LEAVE L2; END LOOP; END" << QStringList {};
        QTest::newRow("casts and slices")
            << "SELECT a::int, b[lo:hi], b[1:n], b[:k] FROM t WHERE c = :c" << Dialect::PostgreSql
            << "SELECT a::int, b[lo:hi], b[1:n], b[:k] FROM t WHERE c = ?" << QStringList { ":c" };
        QTest::newRow("dollar numbers on PostgreSQL")
            << "SELECT $2, $1, $2, $$ :no $$" << Dialect::PostgreSql << "SELECT ?, ?, ?, $$ :no $$"
            << QStringList { "$2", "$1", "$2" };
        QTest::newRow("dollar is a name's letter on DB2")
            << "SELECT A$1 FROM T WHERE X = ?" << Dialect::Db2 << "SELECT A$1 FROM T WHERE X = ?"
            << QStringList { "?1" };
        QTest::newRow("call escape") << "{call S.P(:a, ?)}" << Dialect::Ansi << "{call S.P(?, ?)}"
                                     << QStringList { ":a", "?1" };
    }
    void markers()
    {
        QFETCH(QString, text);
        QFETCH(Sql::Dialect, dialect);
        QFETCH(QString, driverText);
        QFETCH(QStringList, binding);
        const Sql::Markers markers = Sql::parameterMarkers(text, dialect);
        QCOMPARE(markers.driverText, driverText);
        QCOMPARE(markers.bindingOrder(), binding);
        QCOMPARE(markers.isEmpty(), binding.isEmpty());
        for (const Sql::Marker &marker : markers.occurrences)
            QCOMPARE(text.mid(marker.start, marker.length).left(1),
                markers.names.at(marker.value).left(1));
    }

    void inLists_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVector<int>>("items"); // per value
        QTest::addColumn<QString>("expanded");
        QTest::addColumn<QString>("bindings"); // value.item per "?"
        QTest::newRow("list of three")
            << "SELECT * FROM T WHERE ID IN (:ids) AND N = :n" << QVector<int> { 3, 2 }
            << "SELECT * FROM T WHERE ID IN (?, ?, ?) AND N = ?"
            << "0.0 0.1 0.2 1.0";
        QTest::newRow("repeated list")
            << "select 1 where a in ( :ids ) or b in(:ids)" << QVector<int> { 2 }
            << "select 1 where a in ( ?, ? ) or b in(?, ?)"
            << "0.0 0.1 0.0 0.1";
        QTest::newRow("not alone in the list")
            << "SELECT 1 FROM T WHERE ID IN (:a, :b)" << QVector<int> { 3, 3 }
            << "SELECT 1 FROM T WHERE ID IN (?, ?)"
            << "0.0 1.0";
        QTest::newRow("not after IN")
            << "SELECT COALESCE(:a) FROM T" << QVector<int> { 3 } << "SELECT COALESCE(?) FROM T"
            << "0.0";
    }
    void inLists()
    {
        QFETCH(QString, text);
        QFETCH(QVector<int>, items);
        QFETCH(QString, expanded);
        QFETCH(QString, bindings);
        const Sql::Markers markers = Sql::parameterMarkers(text, Sql::Dialect::Db2);
        QVector<Sql::Binding> made;
        QCOMPARE(Sql::expandedText(text, markers, items, &made), expanded);
        QStringList shown;
        for (const Sql::Binding &binding : made)
            shown << QStringLiteral("%1.%2").arg(binding.value).arg(binding.item);
        QCOMPARE(shown.join(' '), bindings);
    }
};

QTEST_APPLESS_MAIN(tst_SqlMarkers)
#include "tst_sqlmarkers.moc"
