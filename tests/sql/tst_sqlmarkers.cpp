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
};

QTEST_APPLESS_MAIN(tst_SqlMarkers)
#include "tst_sqlmarkers.moc"
