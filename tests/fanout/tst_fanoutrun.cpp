#include "connection/Connection.h"
#include "connection/ConnectionHandle.h"
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
    void autoCommitOff();

private:
    // Runs the statement on the aliases (its schema names rewritten for each) until every alias
    // ended, or stops them once rows arrived; the merged result, fetched whole, in `result`
    // (null when no alias answered).
    QVector<FanOutRun::Status> run(const QStringList &aliases, const QString &sql,
        std::unique_ptr<QueryDataset> &result, bool stopAtRows = false);

    std::vector<std::unique_ptr<Connection>> m_connections;
    static constexpr int Timeout = 120000; // for events only; nothing here is timed
};

void tst_fanoutrun::initTestCase()
{
    const QString create = QStringLiteral("create table items(id integer, name varchar(20))");
    TestEnv::addSqliteDsn(QStringLiteral("LITE1"),
        { create, QStringLiteral("insert into items values (1, 'one'), (2, 'two'), (3, 'three')"),
            QStringLiteral("create table many as select * from items") });
    TestEnv::addSqliteDsn(QStringLiteral("LITE2"),
        { create, QStringLiteral("insert into items values (4, 'four')") });
    TestEnv::addSqliteDsn(QStringLiteral("LITE3"),
        { QStringLiteral("create table items(id integer, label varchar(20))"),
            QStringLiteral("insert into items values (5, 'five')") });
    PgServer &server = PgServer::instance();
    for (const char *dsn : { "PGFAN", "DB2T301", "DB2T302" })
        server.addDsn(QLatin1String(dsn), QStringLiteral("fanout"));
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
    for (const char *dsn : { "LITE1", "LITE2", "LITE3", "PGFAN", "DB2T301", "DB2T302" }) {
        m_connections.push_back(TestEnv::connection(QLatin1String(dsn)));
        if (!QLatin1String(dsn).startsWith(QLatin1String("LITE")))
            m_connections.back()->Params = server.loginParams();
        m_connections.back()->OpenConnection();
    }
}

QVector<FanOutRun::Status> tst_fanoutrun::run(const QStringList &aliases, const QString &sql,
    std::unique_ptr<QueryDataset> &result, bool stopAtRows)
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
    connect(&fanOut, &FanOutRun::rowsArrived, this, [&] {
        if (stopAtRows && result && fanOut.isRunning())
            fanOut.stop();
    });
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
    // Per alias: its rows when done, else its state, "with rows" when it merged some before.
    QTest::addColumn<QStringList>("ends");
    QTest::addColumn<QString>("error"); // what the error of an alias that did not run holds
    const QString items = QStringLiteral("select id, name from items order by id");
    QTest::newRow("SQLite and PostgreSQL") << QStringList { "LITE1", "LITE2", "PGFAN" } << items
                                           << QStringList { "3", "1", "2" } << QString();
    QTest::newRow("one alias fails, the others run")
        << QStringList { "LITE1", "LITE3", "PGFAN" } << items << QStringList { "3", "Failed", "2" }
        << "name";
    QTest::newRow("schema names follow the alias")
        << QStringList { "DB2T301", "DB2T302", "LITE1" }
        << QStringLiteral("select id, name from T301DBA.items")
        << QStringList { "1", "2", "Skipped" } << "T301DBA";
    QTest::newRow("failing in the middle of the fetch")
        << QStringList { "PGFAN", "LITE1" }
        << QStringLiteral("select id, 'n' || (100 / (id - 20000)) as name from many")
        << QStringList { "Failed with rows", "3" } << "division by zero";
    QTest::newRow("five aliases, four at a time")
        << QStringList { "LITE1", "LITE2", "PGFAN", "DB2T301", "LITE1" } << items
        << QStringList { "3", "1", "2", "2", "3" } << QString();
}

void tst_fanoutrun::merged()
{
    QFETCH(QStringList, aliases);
    QFETCH(QString, sql);
    QFETCH(QStringList, ends);
    QFETCH(QString, error);
    std::unique_ptr<QueryDataset> result;
    const QVector<FanOutRun::Status> statuses = run(aliases, sql, result);
    QVERIFY(result);
    QVERIFY(result->FieldCount() == 3 && result->FieldTitle(0) == QLatin1String("ALIAS"));

    QStringList actual;
    std::map<QString, qint64> expected; // rows per alias; the rows before a failure stay
    for (const FanOutRun::Status &status : statuses) {
        const char *const states[] = { "Waiting", "Running", "", "Failed", "Stopped", "Skipped" };
        const bool done = status.state == FanOutRun::State::Done;
        actual << (done ? QString::number(status.rows)
                        : QLatin1String(states[int(status.state)])
                    + QLatin1String(status.rows ? " with rows" : ""));
        if (!done)
            QVERIFY2(status.error.contains(error, Qt::CaseInsensitive), qPrintable(status.error));
        if (status.rows)
            expected[status.alias] += status.rows;
    }
    QCOMPARE(actual, ends);
    std::map<QString, qint64> merged; // rows per alias, as the ALIAS column tells
    for (int record = 0; record < result->fetchedCount(); ++record)
        ++merged[result->text(record, 0)];
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
    const int failed = statuses[0].state == FanOutRun::State::Failed ? 0 : 1;
    QVERIFY2(statuses[failed].error.contains(QLatin1String("differ")),
        qPrintable(statuses[failed].error));
    QCOMPARE(statuses[1 - failed].state, FanOutRun::State::Done);
    QVERIFY(result && result->fetchedCount() == statuses[1 - failed].rows);
    QCOMPARE(result->text(0, 0), statuses[1 - failed].alias);
}

// Esc during the fetch: statements without an end on both kinds of database stop, and the rows
// merged before stay in a result that is whole as it stands.
void tst_fanoutrun::stopDuringFetch()
{
    std::unique_ptr<QueryDataset> result;
    const QVector<FanOutRun::Status> statuses =
        run({ QStringLiteral("LITE2"), QStringLiteral("PGFAN") },
            QStringLiteral("with recursive s(n) as (select 1 union all select n + 1 from s) "
                           "select n, 'x' as name from s"),
            result, true);
    QVERIFY(result && result->allFetched());
    qint64 rows = 0;
    for (const FanOutRun::Status &status : statuses) {
        QCOMPARE(status.state, FanOutRun::State::Stopped);
        rows += status.rows;
    }
    QCOMPARE(qint64(result->fetchedCount()), rows); // the rows merged before the stop stay
}

// With auto-commit off the read's own transaction ends with it: no lock stays behind.
void tst_fanoutrun::autoCommitOff()
{
    const std::shared_ptr<ConnectionHandle> pg = sessionConnection(QStringLiteral("PGFAN"));
    pg->acquire();
    pg->setAutoCommit(false);
    pg->release();
    std::unique_ptr<QueryDataset> result;
    run({ QStringLiteral("PGFAN") }, QStringLiteral("select id from items"), result);
    QCOMPARE(PgServer::instance().value(QStringLiteral("select count(*) from pg_stat_activity "
                                                       "where state like 'idle in transaction%'")),
        QStringLiteral("0"));
}

STELVIK_TEST_GUILESS_MAIN(tst_fanoutrun)
#include "tst_fanoutrun.moc"
