#include "compare/ResultCompare.h"
#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"

#include <QtTest>

// Two results compared on their keys through the real driver manager (SQLite data sources and
// the private PostgreSQL server): rows only on one side, changed and the same, NULLs, repeated
// keys, numbers equal by value, columns on one side only, and a sort that goes to its files.
class tst_resultcompare : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void compared_data();
    void compared();
    void refused_data();
    void refused();

private:
    std::unique_ptr<QueryDataset> fetched(const QString &alias, const QString &sql);

    std::vector<std::unique_ptr<Connection>> m_connections;
};

void tst_resultcompare::initTestCase()
{
    TestEnv::addSqliteDsn(QStringLiteral("LEFT"),
        { QStringLiteral("create table t(id integer, name varchar(20), qty integer)"),
            QStringLiteral("insert into t values (1, 'a', 10), (2, 'b', 20), (3, 'c', 30), "
                           "(5, null, 50), (6, null, 60), (7, 'g', 70), (7, 'h', 71)") });
    TestEnv::addSqliteDsn(QStringLiteral("RIGHT"),
        { QStringLiteral("create table t(id integer, name varchar(20), qty integer, extra int)"),
            QStringLiteral(
                "insert into t values (2, 'b', 20, 0), (3, 'C', 30, 0), "
                "(4, 'd', 40, 0), (5, 'e', 50, 0), (6, null, 60, 0), (7, 'g', 70, 0)") });
    PgServer &server = PgServer::instance();
    server.addDsn(QStringLiteral("PGCMP"), QStringLiteral("compare"));
    m_connections.push_back(TestEnv::connection(QStringLiteral("LEFT")));
    m_connections.push_back(TestEnv::connection(QStringLiteral("RIGHT")));
    m_connections.push_back(TestEnv::connection(QStringLiteral("PGCMP")));
    m_connections.back()->Params = server.loginParams();
    for (auto &connection : m_connections)
        connection->OpenConnection();
}

std::unique_ptr<QueryDataset> tst_resultcompare::fetched(const QString &alias, const QString &sql)
{
    auto dataset = std::make_unique<QueryDataset>(64 * 1024); // small: the rows go to the file
    dataset->setConnection(alias, sessionConnection(alias));
    dataset->setSql(sql);
    dataset->OpenQuery();
    dataset->CountRecords();
    return dataset;
}

// Compares the two statements' results; the rows of the compared result as "a|b|…" ("~" for
// NULL) in `rows`, the counts' summary in `summary`, the columns not compared in `notCompared`.
static bool compare(std::unique_ptr<QueryDataset> left, std::unique_ptr<QueryDataset> right,
    const QStringList &keys, bool keepSame, std::size_t runBytes, QStringList &rows,
    QString &summary, QStringList &notCompared, QString &error)
{
    ResultCompare compare(64 * 1024);
    compare.setSortRunBytes(runBytes);
    QSignalSpy finished(&compare, &ResultCompare::finished);
    if (!compare.start(ResultCompare::sideOf(*left, QStringLiteral("L")),
            ResultCompare::sideOf(*right, QStringLiteral("R")), keys, keepSame)) {
        error = compare.error();
        return false;
    }
    std::unique_ptr<QueryDataset> result = compare.takeResult();
    const int records = result->CountRecords();
    if (!finished.count() && !finished.wait(120000))
        return false;
    QStringList titles;
    for (int f = 0; f < result->FieldCount(); ++f)
        titles << result->FieldTitle(f);
    rows << titles.join(QLatin1Char('|'));
    for (int r = 0; r < records; ++r) {
        QStringList cells;
        for (int f = 0; f < result->FieldCount(); ++f)
            cells << (result->isNull(r, f) ? QStringLiteral("~") : result->text(r, f));
        rows << cells.join(QLatin1Char('|'));
    }
    summary = ResultCompare::summary(compare.counts());
    notCompared = compare.notCompared();
    error = compare.error();
    return true;
}

void tst_resultcompare::compared_data()
{
    QTest::addColumn<QString>("left"); // alias: statement
    QTest::addColumn<QString>("right");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<bool>("keepSame");
    QTest::addColumn<QStringList>("rows"); // the titles, then the first rows
    QTest::addColumn<int>("records");
    QTest::addColumn<QString>("summary");

    const QString table = QStringLiteral("select * from t");
    QTest::newRow("only left, only right, changed, NULL against a value, a repeated key")
        << "LEFT:" + table << "RIGHT:" + table << QStringList { "id" } << false
        << QStringList { "COMPARE|CHANGED|id|name (L)|name (R)|qty (L)|qty (R)",
               "only left|~|1|a|~|10|~", "changed|name|3|c|C|30|30", "only right|~|4|~|d|~|40",
               "changed|name|5|~|e|50|50", "only left|~|7|h|~|71|~" }
        << 5 << "2 only left, 1 only right, 2 changed, 3 same; keys repeated: 1 left, 0 right";
    QTest::newRow("equal rows kept, two key columns")
        << "LEFT:select id, name, qty from t where id < 4"
        << "RIGHT:select qty, name, id from t where id < 4" << QStringList { "ID", "NAME" } << true
        << QStringList { "COMPARE|CHANGED|id|name|qty (L)|qty (R)", "only left|~|1|a|10|~",
               "same|~|2|b|20|20", "only right|~|3|C|~|30", "only left|~|3|c|30|~" }
        << 4 << "2 only left, 1 only right, 0 changed, 1 same";
    // Rows of a repeated key pair first with a row of the same values, the rest in order.
    QTest::newRow("a repeated key on both sides")
        << "LEFT:select 8 as id, 'x' as name union all select 8, 'y'"
        << "RIGHT:select 8 as id, 'y' as name union all select 8, 'z'" << QStringList { "id" }
        << true
        << QStringList { "COMPARE|CHANGED|id|name (L)|name (R)", "same|~|8|y|y",
               "changed|name|8|x|z" }
        << 2 << "0 only left, 0 only right, 1 changed, 1 same; keys repeated: 1 left, 1 right";
    // Numbers compare by value whatever their type or text; texts compare as texts.
    QTest::newRow("1.0 against 1, SQLite against PostgreSQL")
        << "LEFT:select 1 as k, 1.0 as n, '1.0' as s union all select 2, 2.5, 'x'"
        << "PGCMP:select 1.00::numeric as k, 1 as n, '1' as s union all select 2, 2.50, 'x'"
        << QStringList { "k" } << true
        << QStringList { "COMPARE|CHANGED|k|n (L)|n (R)|s (L)|s (R)", "changed|s|1|1.0|1|1.0|1",
               "same|~|2|2.5|2.5|x|x" }
        << 2 << "0 only left, 0 only right, 1 changed, 1 same";
    // Tiny sort runs: both sides are sorted through temporary files and merged. SQLite calls
    // the counter's column text: the keys order as texts.
    const QString numbers = QStringLiteral(
        "with recursive n(i) as (select 1 union all select i + 1 from n where i < 5000) ");
    QTest::newRow("sorted through files")
        << "LEFT:" + numbers + "select i as id, 'v' || i as v from n order by random()"
        << "RIGHT:" + numbers
            + "select i as id, case when i % 100 = 0 then 'w' else 'v' end || i as v from n "
              "where i > 10 order by -i"
        << QStringList { "id" } << false
        << QStringList { "COMPARE|CHANGED|id|v (L)|v (R)", "only left|~|1|v1|~",
               "only left|~|10|v10|~" }
        << 60 << "10 only left, 0 only right, 50 changed, 4940 same";
}

void tst_resultcompare::compared()
{
    QFETCH(QString, left);
    QFETCH(QString, right);
    QFETCH(QStringList, keys);
    QFETCH(bool, keepSame);
    QFETCH(QStringList, rows);
    QFETCH(int, records);
    QFETCH(QString, summary);
    QStringList got;
    QString gotSummary;
    QStringList notCompared;
    QString error;
    QVERIFY(compare(fetched(left.section(':', 0, 0), left.section(':', 1)),
        fetched(right.section(':', 0, 0), right.section(':', 1)), keys, keepSame, 1024, got,
        gotSummary, notCompared, error));
    QCOMPARE(error, QString());
    QCOMPARE(gotSummary, summary);
    QCOMPARE(got.mid(0, rows.size()), rows);
    QCOMPARE(got.size() - 1, records);
}

void tst_resultcompare::refused_data()
{
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("right");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("notCompared");
    QTest::newRow("no key") << "select * from t"
                            << "select * from t" << QStringList()
                            << "Choose the key columns the rows are matched on." << QStringList();
    QTest::newRow("a key on one side only")
        << "select * from t"
        << "select * from t" << QStringList { "extra" }
        << "The key column extra is not in the result L." << QStringList();
    QTest::newRow("columns on one side only")
        << "select id, name as label from t"
        << "select id, name, qty from t" << QStringList { "id" } << QString()
        << QStringList { "label (L)", "name (R)", "qty (R)" };
}

void tst_resultcompare::refused()
{
    QFETCH(QString, left);
    QFETCH(QString, right);
    QFETCH(QStringList, keys);
    QFETCH(QString, error);
    QFETCH(QStringList, notCompared);
    QStringList rows;
    QString summary;
    QStringList gotNotCompared;
    QString gotError;
    const bool started =
        compare(fetched(QStringLiteral("LEFT"), left), fetched(QStringLiteral("RIGHT"), right),
            keys, false, 1024, rows, summary, gotNotCompared, gotError);
    QCOMPARE(started, error.isEmpty());
    QCOMPARE(gotError, error);
    QCOMPARE(gotNotCompared, notCompared);
}

STELVIK_TEST_GUILESS_MAIN(tst_resultcompare)
#include "tst_resultcompare.moc"
