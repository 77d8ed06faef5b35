#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "query/QueryControl.h"
#include "query/ScriptRun.h"
#include "support/SessionConnection.h"
#include "support/TestEnv.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

// A script's statements in order on the real SQLite driver: it stops at the first error or goes
// on past it, and a cancel skips the rest.
class tst_scriptrun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sequence_data();
    void sequence();

private:
    int rows();
    std::unique_ptr<Connection> m_lite;
};

void tst_scriptrun::initTestCase()
{
    TestEnv::addSqliteDsn(
        QStringLiteral("SCRIPTLITE"), { QStringLiteral("create table t(id integer)") });
    m_lite = TestEnv::connection(QStringLiteral("SCRIPTLITE"));
    m_lite->OpenConnection();
}

int tst_scriptrun::rows()
{
    QueryDataset query;
    query.setConnection(
        QStringLiteral("SCRIPTLITE"), sessionConnection(QStringLiteral("SCRIPTLITE")));
    query.setSql(QStringLiteral("select count(*) from t"));
    query.OpenQuery();
    const int count = query.FieldString(0).toInt();
    query.CountRecords();
    return count;
}

void tst_scriptrun::sequence_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("goOn"); // ScriptContinueOnError
    QTest::addColumn<int>("cancelAt"); // the statement during which the script is cancelled
    QTest::addColumn<QString>("outcomes"); // the outcomes, joined by " | ", as a pattern
    QTest::addColumn<int>("rows"); // of t afterwards; -1 not checked
    const QString failing =
        QStringLiteral("insert into t values (1);\ninsert into nosuch values (2);\n"
                       "insert into t values (3), (4);");
    QTest::newRow("stops at the first error")
        << failing << false << -1 << "1 row affected \\| .*no such table: nosuch.* \\| skipped"
        << 1;
    QTest::newRow("goes on past an error")
        << failing << true << -1 << "1 row affected \\| .*no such table.* \\| 2 rows affected" << 3;
    QTest::newRow("queries, changes and definitions")
        << "insert into t values (5), (6);\nselect id from t -- ; not a terminator\n;\n"
           "drop table if exists gone;\nupdate t set id = 0 where id > 99"
        << false << -1 << "2 rows affected \\| 2 rows fetched \\| completed \\| 0 rows affected"
        << 2;
    // A statement that runs for minutes, cancelled on the server once it is under way.
    QTest::newRow("cancel skips the rest")
        << "insert into t values (1);\ninsert into t select count(*) from (with recursive "
           "c(x) as (select 1 union all select x + 1 from c where x < 2000000000) select x "
           "from c);\ninsert into t values (3);"
        << false << 1 << "1 row affected \\| cancelled \\| skipped" << -1;
}

void tst_scriptrun::sequence()
{
    QFETCH(QString, script);
    QFETCH(bool, goOn);
    QFETCH(int, cancelAt);
    QFETCH(QString, outcomes);
    QFETCH(int, rows);
    {
        QueryDataset clear;
        clear.setConnection(QStringLiteral("SCRIPTLITE"), m_lite->handle());
        clear.setSql(QStringLiteral("delete from t"));
        clear.ExecQuery();
    }
    QueryControl control;
    ScriptRun run(&control);
    QSignalSpy ended(&run, &ScriptRun::ended);
    QList<int> started;
    connect(&run, &ScriptRun::stepStarted, this, [&](int index) {
        started << index;
        if (index == cancelAt) // once its worker runs: the event loop's next turn
            QTimer::singleShot(0, &run, [&run] { run.cancel(); });
    });
    run.start(ScriptRun::stepsOf(script), m_lite.get(), goOn);
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 60000);
    QStringList shown;
    for (const ScriptRun::Step &step : run.steps())
        shown << ScriptRun::outcomeText(step);
    const QString joined = shown.join(QStringLiteral(" | "));
    QVERIFY2(QRegularExpression(QStringLiteral("^") + outcomes + QStringLiteral("$"))
                 .match(joined)
                 .hasMatch(),
        qPrintable(joined));
    // Nothing after the stop started.
    QCOMPARE(started.size(), int(run.steps().size() - shown.count(QStringLiteral("skipped"))));
    QCOMPARE(control.state(), QueryControl::State::Idle);
    if (rows >= 0)
        QCOMPARE(this->rows(), rows);
}

STELVIK_TEST_GUILESS_MAIN(tst_scriptrun)
#include "tst_scriptrun.moc"
