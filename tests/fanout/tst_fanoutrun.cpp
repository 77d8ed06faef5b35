#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "fanout/FanOutRun.h"
#include "fanout/SchemaMap.h"
#include "support/PgServer.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"

#include <QtTest>

#include <map>

// One statement on several aliases through the real driver manager (SQLite data sources and the
// private PostgreSQL server): rows merged under ALIAS, schema names following the alias, a
// failing alias or one whose columns differ leaving the others be, and a stop during the fetch.
class tst_fanoutrun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void merged_data();
    void merged();
    void columnsDiffer();
    void stopDuringFetch();

private:
    void setUp();
    // Runs the statement on the aliases (its schema names rewritten for each) until every alias
    // ended; the merged result, fetched whole, in `result` (null when no alias answered).
    QVector<FanOutRun::Status> run(
        const QStringList &aliases, const QString &sql, std::unique_ptr<QueryDataset> &result);

    std::vector<std::unique_ptr<Connection>> m_connections;
};

namespace {

constexpr int Timeout = 120000; // for events only; nothing here is timed

QString numbers(int n)
{
    return QStringLiteral("with recursive seq(n) as (select 1 union all select n + 1 from seq "
                          "where n < %1) ")
        .arg(n);
}

} // namespace

void tst_fanoutrun::initTestCase()
{
    try {
        setUp();
    } catch (const std::exception &e) {
        QFAIL(e.what());
    }
}

void tst_fanoutrun::setUp()
{
    const QString create = QStringLiteral("create table items(id integer, name varchar(20))");
    TestEnv::addSqliteDsn(QStringLiteral("LITE1"),
        { create, QStringLiteral("insert into items values (1, 'one'), (2, 'two'), (3, 'three')"),
            QStringLiteral("create table many(id integer, name varchar(20))"),
            numbers(30000) + QStringLiteral("insert into many select n, 'row ' || n from seq") });
    TestEnv::addSqliteDsn(QStringLiteral("LITE2"),
        { create, QStringLiteral("insert into items values (4, 'four')") });
    TestEnv::addSqliteDsn(QStringLiteral("LITE3"),
        { QStringLiteral("create table items(id integer, label varchar(20))"),
            QStringLiteral("insert into items values (5, 'five')") });
    TestEnv::addSqliteDsn(QStringLiteral("LITE4")); // no table at all
    PgServer &server = PgServer::instance();
    for (const QString &dsn :
        { QStringLiteral("PGFAN"), QStringLiteral("DB2T301"), QStringLiteral("DB2T302") })
        server.addDsn(dsn, QStringLiteral("fanout"));
    server.exec(
        QStringLiteral("create table items(id int, name varchar(20));"
                       "insert into items values (6, 'six'), (7, 'seven');"
                       "create table many as select n as id, 'row ' || n as name "
                       "from generate_series(1, 30000) n;"
                       "create schema t301dba; create schema t302dba;"
                       "create table t301dba.items(id int, name varchar(20));"
                       "create table t302dba.items(id int, name varchar(20));"
                       "insert into t301dba.items values (301, 'test one');"
                       "insert into t302dba.items values (302, 'test two'), (303, 'test two');"
                       "grant usage on schema t301dba, t302dba to public;"
                       "grant select on all tables in schema t301dba, t302dba to public;"),
        QStringLiteral("fanout"));
    for (const char *dsn : { "LITE1", "LITE2", "LITE3", "LITE4", "PGFAN", "DB2T301", "DB2T302" }) {
        m_connections.push_back(TestEnv::connection(QLatin1String(dsn)));
        if (!QLatin1String(dsn).startsWith(QLatin1String("LITE")))
            m_connections.back()->Params = server.loginParams();
        m_connections.back()->OpenConnection();
    }
}

QVector<FanOutRun::Status> tst_fanoutrun::run(
    const QStringList &aliases, const QString &sql, std::unique_ptr<QueryDataset> &result)
{
    const SchemaMap map({ { QStringLiteral("T301DBA"), QStringLiteral("T302DBA") } },
        [](const QString &schema) { return QStringLiteral("DB2") + schema.left(4); });
    QVector<FanOutRun::Target> targets;
    for (const QString &alias : aliases) {
        const SchemaMap::Rewrite rewrite = map.forAlias(sql, alias, Sql::Dialect::Ansi);
        targets.append({ alias, sessionConnection(alias), rewrite.text, rewrite.skipped });
    }
    FanOutRun fanOut(1024 * 1024); // a small budget: the merged rows go to the file early
    QSignalSpy finished(&fanOut, &FanOutRun::finished);
    connect(&fanOut, &FanOutRun::resultReady, this, [&] { result = fanOut.takeResult(); });
    fanOut.start(targets);
    [&] { QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, Timeout); }();
    if (result)
        result->CountRecords();
    return fanOut.statuses();
}

void tst_fanoutrun::merged_data()
{
    QTest::addColumn<QStringList>("aliases");
    QTest::addColumn<QString>("sql");
    // Per alias: its end and the rows it merged (Failed with the text its error holds).
    QTest::addColumn<QStringList>("ends");
    const QString items = QStringLiteral("select id, name from items order by id");
    QTest::newRow("SQLite and PostgreSQL") << QStringList { "LITE1", "LITE2", "PGFAN" } << items
                                           << QStringList { "Done 3", "Done 1", "Done 2" };
    QTest::newRow("one alias fails, the others run") << QStringList { "LITE1", "LITE4",
        "PGFAN" } << items << QStringList { "Done 3", "Failed items", "Done 2" };
    QTest::newRow("schema names follow the alias")
        << QStringList { "DB2T301", "DB2T302", "LITE1" }
        << QStringLiteral("select id, name from T301DBA.items")
        << QStringList { "Done 1", "Done 2", "Skipped T301DBA" };
    QTest::newRow("failing in the middle of the fetch")
        << QStringList { "PGFAN", "LITE1" }
        << QStringLiteral("select id, 'n' || (100 / (id - 20000)) as name from many order by id")
        << QStringList { "Failed division by zero", "Done 30000" };
    QTest::newRow("five aliases, four at a time")
        << QStringList { "LITE1", "LITE2", "PGFAN", "DB2T301", "LITE1" } << items
        << QStringList { "Done 3", "Done 1", "Done 2", "Done 2", "Done 3" };
}

void tst_fanoutrun::merged()
{
    QFETCH(QStringList, aliases);
    QFETCH(QString, sql);
    QFETCH(QStringList, ends);
    std::unique_ptr<QueryDataset> result;
    const QVector<FanOutRun::Status> statuses = run(aliases, sql, result);
    QVERIFY(result);
    QCOMPARE(result->FieldCount(), 3);
    QCOMPARE(result->FieldTitle(0), QStringLiteral("ALIAS"));
    QCOMPARE(result->FieldTitle(1).toUpper(), QStringLiteral("ID"));

    std::map<QString, qint64> merged; // rows per alias, as the ALIAS column tells
    for (int record = 0; record < result->fetchedCount(); ++record)
        ++merged[result->text(record, 0)];
    std::map<QString, qint64> expected;
    QCOMPARE(statuses.size(), ends.size());
    for (int i = 0; i < ends.size(); ++i) {
        const QString state = ends[i].section(QLatin1Char(' '), 0, 0);
        const QString detail = ends[i].section(QLatin1Char(' '), 1);
        const FanOutRun::Status &status = statuses[i];
        QCOMPARE(status.alias, aliases[i]);
        if (state == QLatin1String("Done")) {
            QCOMPARE(status.state, FanOutRun::State::Done);
            QCOMPARE(status.rows, detail.toLongLong());
            expected[aliases[i]] += status.rows;
        } else {
            QCOMPARE(status.state,
                state == QLatin1String("Failed") ? FanOutRun::State::Failed
                                                 : FanOutRun::State::Skipped);
            QVERIFY2(status.error.contains(detail, Qt::CaseInsensitive), qPrintable(status.error));
            if (status.rows > 0) // the rows before a failure stay
                expected[aliases[i]] += status.rows;
        }
    }
    expected.erase(QString()); // no alias merges zero rows into the map
    for (auto it = expected.begin(); it != expected.end();)
        it = it->second == 0 ? expected.erase(it) : std::next(it);
    QCOMPARE(merged, expected);
}

// Columns that differ in names: whichever alias answers first gives the merged columns, the other
// is an error line and adds no row.
void tst_fanoutrun::columnsDiffer()
{
    std::unique_ptr<QueryDataset> result;
    const QVector<FanOutRun::Status> statuses =
        run({ QStringLiteral("LITE1"), QStringLiteral("LITE3") },
            QStringLiteral("select * from items"), result);
    QVERIFY(result);
    const int failed = statuses[0].state == FanOutRun::State::Failed ? 0 : 1;
    QCOMPARE(statuses[failed].state, FanOutRun::State::Failed);
    QVERIFY2(statuses[failed].error.contains(QLatin1String("differ")),
        qPrintable(statuses[failed].error));
    const FanOutRun::Status &done = statuses[1 - failed];
    QCOMPARE(done.state, FanOutRun::State::Done);
    QCOMPARE(qint64(result->fetchedCount()), done.rows);
    QCOMPARE(result->text(0, 0), done.alias);
}

// Esc during the fetch: statements without an end on both kinds of database stop, and the rows
// merged before stay in a result that is whole as it stands.
void tst_fanoutrun::stopDuringFetch()
{
    QVector<FanOutRun::Target> targets {
        { QStringLiteral("LITE2"), sessionConnection(QStringLiteral("LITE2")),
            QStringLiteral("with recursive s(n) as (select 1 union all select n + 1 from s) "
                           "select n from s"),
            QString() },
        { QStringLiteral("PGFAN"), sessionConnection(QStringLiteral("PGFAN")),
            QStringLiteral("select n from generate_series(1, 2000000000) n"), QString() },
    };
    FanOutRun fanOut(1024 * 1024);
    QSignalSpy arrived(&fanOut, &FanOutRun::rowsArrived);
    QSignalSpy finished(&fanOut, &FanOutRun::finished);
    std::unique_ptr<QueryDataset> result;
    connect(&fanOut, &FanOutRun::resultReady, this, [&] { result = fanOut.takeResult(); });
    fanOut.start(targets);
    QTRY_VERIFY_WITH_TIMEOUT(arrived.count() > 0 && result, Timeout);
    QVERIFY(fanOut.isRunning());
    fanOut.stop();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, Timeout);
    qint64 rows = 0;
    for (const FanOutRun::Status &status : fanOut.statuses()) {
        QCOMPARE(status.state, FanOutRun::State::Stopped);
        rows += status.rows;
    }
    QCOMPARE(qint64(result->CountRecords()), rows); // the rows merged before the stop stay
    QVERIFY(result->allFetched());
}

STELVIK_TEST_GUILESS_MAIN(tst_fanoutrun)
#include "tst_fanoutrun.moc"
