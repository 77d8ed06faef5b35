#include "connection/Connection.h"
#include "connection/ConnectionHandle.h"
#include "connection/QueryDataset.h"
#include "query/QueryControl.h"
#include "query/Reaper.h"
#include "support/PgServer.h"
#include "support/TestEnv.h"

#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include <future>
#include <memory>

// A statement's life without a window: the states it goes through and what it tells at the
// end, stopped in each state by Close Query or by the window closing; a connect that ends late
// never ends a later one; a statement whose connection stays held by a cancelled one runs on a
// fresh connection of the same alias and login.
class tst_querycontrol : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void transitions_data();
    void transitions();
    void connectEndsOnlyItsOwnWait();
    void heldConnectionGivesWay_data();
    void heldConnectionGivesWay();

private:
    std::unique_ptr<Connection> m_lite;
    // Statements stopped while they fetch run on PostgreSQL, whose driver takes a cancel then.
    std::unique_ptr<Connection> m_pg;
};

void tst_querycontrol::initTestCase()
{
    TestEnv::addSqliteDsn(QStringLiteral("QCLITE"),
        { QStringLiteral("create table t(id integer)"),
            QStringLiteral("insert into t values (42)") });
    m_lite = TestEnv::connection(QStringLiteral("QCLITE"));
    m_lite->OpenConnection();
    PgServer &server = PgServer::instance();
    server.addDsn(QStringLiteral("QCPG"));
    server.exec(QStringLiteral("drop table if exists many; create table many as select "
                               "generate_series(1, 5000) n; grant all on many to public"));
    m_pg = TestEnv::connection(QStringLiteral("QCPG"));
    m_pg->Params = server.loginParams();
    m_pg->OpenConnection();
}

namespace {
// An opener whose thread the test sees end: what it holds is let go after its outcome was handed
// on, so the flag is set after the control heard of that outcome.
QueryControl::Opener marked(QueryControl::Opener open, bool *ended)
{
    std::shared_ptr<void> marker(nullptr, [ended](void *) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [ended] { *ended = true; }, Qt::QueuedConnection);
    });
    return [open = std::move(open), marker] { return open(); };
}
}

void tst_querycontrol::transitions_data()
{
    QTest::addColumn<QString>("road");
    // "close" (Close Query) or "window" (the window goes), then the state it is stopped in.
    QTest::addColumn<QString>("stop");
    QTest::addColumn<QString>("told"); // the states told in order, " | ", what its end told
    const auto row = [](const QString &road, const QString &stop, const QString &told) {
        QTest::newRow(qPrintable(road + ' ' + stop)) << road << stop << told;
    };
    row("select", "", "Running Idle | rows");
    row("exec", "", "Running Idle | exec");
    row("count", "", "Running Counting Idle | counted 5000");
    row("fetch", "", "FetchingToEnd Idle | fetched 5000");
    row("connect", "", "Connecting Idle | connected");
    row("bad connect", "", "Connecting Idle | failed");
    for (const QString how : { "close", "window" }) {
        const QString idle = how == "close" ? " Idle | " : " | ";
        row("select", how + " Running", "Running" + idle);
        row("count", how + " Counting", "Running Counting" + idle);
        row("fetch", how + " FetchingToEnd", "FetchingToEnd" + idle);
        row("connect", how + " Connecting", "Connecting" + idle);
    }
}

void tst_querycontrol::transitions()
{
    QFETCH(QString, road);
    QFETCH(QString, stop);
    QFETCH(QString, told);

    QPointer<QueryControl> control = new QueryControl; // deleted below, or as its window goes
    QPointer<QObject> worker;
    QStringList states;
    QString ended;
    connect(control, &QueryControl::stateChanged, this, [&](QueryControl::State state) {
        states << QMetaEnum::fromType<QueryControl::State>().valueToKey(int(state));
        if (!worker)
            worker = control->worker();
        if (stop.endsWith(' ' + states.last()) && stop.startsWith("close"))
            control->abandon();
        else if (stop.endsWith(' ' + states.last())) // the window goes right after this signal,
            QMetaObject::invokeMethod( // before anything the worker posts later
                this, [&control] { delete control; }, Qt::QueuedConnection);
    });
    const QueryControl::StatementDone done = [&](StatementOutcome &outcome) {
        const QString n = QString::number(outcome.result->fetchedCount());
        ended = outcome.fetchToEnd ? "fetched " + n
            : outcome.isExec       ? "exec"
            : outcome.counted      ? "counted " + n
                                   : "rows";
    };
    bool connectEnded = !road.contains("connect");
    if (road.contains("connect")) {
        const QueryControl::Opener open = road == "connect" ? m_pg->opener(0) : [] {
            return std::make_shared<ConnectionHandle>("NODSN", "", "");
        };
        control->startConnect("QCPG", marked(open, &connectEnded),
            [&](std::shared_ptr<ConnectionHandle> handle, std::exception_ptr) {
                ended = handle ? "connected" : "failed";
            });
    } else if (road == "fetch") {
        auto result = std::make_unique<QueryDataset>();
        result->setConnection("QCPG", m_pg->handle());
        result->setSql("select n from many");
        result->OpenQuery();
        control->startFetchToEnd(std::move(result), done);
    } else {
        control->setCountWanted(road == "count");
        control->startStatement(
            road == "exec" ? "update many set n = n where n = 0" : "select n from many", m_pg.get(),
            road == "exec", false, done);
    }
    // What was started ends: the window that went, the worker, the connect thread, the cancel.
    QTRY_VERIFY_WITH_TIMEOUT(
        (control || stop.startsWith("window")) && connectEnded && !worker && Reaper::pending() == 0,
        30000);
    QTRY_COMPARE_WITH_TIMEOUT(states.join(' ') + " | " + ended, told, 30000);
    QCoreApplication::processEvents(); // and nothing more is told
    QCOMPARE(states.join(' ') + " | " + ended, told);
    delete control;
}

void tst_querycontrol::connectEndsOnlyItsOwnWait()
{
    QueryControl control;
    std::promise<void> go[2];
    bool ended[2] = {};
    std::shared_ptr<ConnectionHandle> opened[2];
    for (int n : { 0, 1 }) {
        control.abandon(); // Esc while the first one connects
        const auto open = [wait = go[n].get_future().share(), open = m_lite->opener(0)] {
            wait.wait();
            return open();
        };
        control.startConnect("QCLITE", marked(open, &ended[n]),
            [&opened, n](std::shared_ptr<ConnectionHandle> handle, std::exception_ptr) {
                opened[n] = handle;
            });
    }
    go[0].set_value(); // the abandoned attempt ends while the second one waits
    QTRY_VERIFY_WITH_TIMEOUT(ended[0], 30000);
    QCOMPARE(control.state(), QueryControl::State::Connecting);
    go[1].set_value();
    QTRY_VERIFY_WITH_TIMEOUT(opened[1], 30000);
    QVERIFY(!opened[0]);
    QCOMPARE(control.state(), QueryControl::State::Idle);
}

void tst_querycontrol::heldConnectionGivesWay_data()
{
    QTest::addColumn<bool>("cancelAccepted");

    QTest::newRow("cancel taken, connection still held") << true;
    QTest::newRow("cancel refused by the driver") << false;
}

void tst_querycontrol::heldConnectionGivesWay()
{
    QFETCH(bool, cancelAccepted);

    const std::shared_ptr<ConnectionHandle> held = m_lite->handle();
    QVERIFY(held);
    // A cancelled statement that keeps its turn on the connection.
    held->acquire();
    held->noteCancel(cancelAccepted);

    QueryControl control;
    QString error = QStringLiteral("not handed back");
    std::unique_ptr<QueryDataset> result;
    std::shared_ptr<ConnectionHandle> fresh;
    int handedBack = 0;
    control.startStatement(QStringLiteral("select id from t"), m_lite.get(), false, false,
        [&](StatementOutcome &done) {
            ++handedBack;
            error = done.errorText;
            result = std::move(done.result);
            fresh = result ? result->connection() : nullptr;
        });
    QTRY_COMPARE_WITH_TIMEOUT(handedBack, 1, 30000);

    QCOMPARE(error, QString());
    QVERIFY(fresh);
    QVERIFY(fresh != held);
    QCOMPARE(fresh->dataSource(), held->dataSource());
    QCOMPARE(fresh->user(), held->user());
    QVERIFY(result && result->IsOpen());
    QCOMPARE(result->connection(), fresh);
    QCOMPARE(result->FieldString(0), QStringLiteral("42"));
    QCOMPARE(m_lite->handle(), fresh); // the alias's connection from now on
    // The held connection was left alone.
    QVERIFY(held->busy());
    held->release();
    QVERIFY(!held->busy());
}

STELVIK_TEST_GUILESS_MAIN(tst_querycontrol)
#include "tst_querycontrol.moc"
