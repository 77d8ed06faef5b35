#include "connection/Connection.h"
#include "connection/ConnectionHandle.h"
#include "connection/QueryDataset.h"
#include "query/QThread.h"
#include "query/QueryControl.h"
#include "query/Reaper.h"
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
};

void tst_querycontrol::initTestCase()
{
    TestEnv::addSqliteDsn(QStringLiteral("QCLITE"),
        { QStringLiteral("create table t(id integer)"), QStringLiteral("insert into t values (42)"),
            QStringLiteral("create table many as with recursive s(n) as (select 1 union all "
                           "select n + 1 from s where n < 5000) select n from s") });
    m_lite = std::make_unique<Connection>(QStringLiteral("QCLITE"));
    m_lite->OpenConnection();
}

namespace {
// An opener whose thread the test sees end: what it holds is let go after its outcome was handed
// on, so the flag is set after the control heard of that outcome.
QueryControl::Opener marked(QueryControl::Opener open, bool *ended)
{
    std::shared_ptr<void> marker(nullptr, [ended](void *) {
        QMetaObject::invokeMethod(
            qApp, [ended] { *ended = true; }, Qt::QueuedConnection);
    });
    return [open = std::move(open), marker] { return open(); };
}
}

void tst_querycontrol::transitions_data()
{
    QTest::addColumn<QString>("road");
    QTest::addColumn<QString>("stopIn"); // the state in which it is stopped; empty: never
    QTest::addColumn<QString>("how"); // "close" (Close Query) or "window" (the window goes)
    QTest::addColumn<QString>("states"); // the states told, in order
    QTest::addColumn<QString>("outcome"); // what its end told; empty: nothing

    QTest::newRow("select") << "select"
                            << ""
                            << ""
                            << "Running Idle"
                            << "rows";
    QTest::newRow("exec") << "exec"
                          << ""
                          << ""
                          << "Running Idle"
                          << "exec";
    QTest::newRow("late count") << "count"
                                << ""
                                << ""
                                << "Running Counting Idle"
                                << "counted 5000";
    QTest::newRow("fetch to end") << "fetch"
                                  << ""
                                  << ""
                                  << "FetchingToEnd Idle"
                                  << "fetched 5000";
    QTest::newRow("connect") << "connect"
                             << ""
                             << ""
                             << "Connecting Idle"
                             << "connected";
    QTest::newRow("connect fails") << "bad connect"
                                   << ""
                                   << ""
                                   << "Connecting Idle"
                                   << "failed";
    const QList<QPair<QString, QString>> stops { { "select", "Running" }, { "count", "Counting" },
        { "fetch", "FetchingToEnd" }, { "connect", "Connecting" } };
    for (const auto &[road, state] : stops) {
        const QString first = road == QLatin1String("count") ? "Running " : "";
        QTest::newRow(qPrintable("Close Query in " + state))
            << road << state << "close" << first + state + " Idle"
            << "";
        QTest::newRow(qPrintable("window closed in " + state))
            << road << state << "window" << first + state << "";
    }
}

void tst_querycontrol::transitions()
{
    QFETCH(QString, road);
    QFETCH(QString, stopIn);
    QFETCH(QString, how);
    QFETCH(QString, states);
    QFETCH(QString, outcome);

    QPointer<QueryControl> control = new QueryControl; // deleted below or by the row
    QPointer<TQthread> worker;
    QStringList told;
    QString ended;
    const auto stop = [&] {
        if (how == QLatin1String("close"))
            control->abandon();
        else
            control->deleteLater(); // inside its own signal: the window goes right after
    };
    connect(control, &QueryControl::stateChanged, this, [&](QueryControl::State state) {
        told << QString::fromLatin1(
            QMetaEnum::fromType<QueryControl::State>().valueToKey(int(state)));
        if (!worker)
            worker = control->worker();
        if (told.last() == stopIn)
            stop();
    });
    connect(control, &QueryControl::finished, this, [&](TQthread *worker) {
        if (worker->FetchToEnd)
            ended = QStringLiteral("fetched %1").arg(worker->Query->fetchedCount());
        else if (worker->IsExec)
            ended = QStringLiteral("exec");
        else
            ended = worker->Counted
                ? QStringLiteral("counted %1").arg(worker->Query->fetchedCount())
                : QStringLiteral("rows");
    });

    bool connectEnded = !road.contains(QLatin1String("connect"));
    if (road == QLatin1String("connect") || road == QLatin1String("bad connect")) {
        const QueryControl::Opener open = road == QLatin1String("connect")
            ? m_lite->opener(0)
            : [] { return std::make_shared<ConnectionHandle>(QStringLiteral("NODSN"), "", ""); };
        control->startConnect(QStringLiteral("QCLITE"), marked(open, &connectEnded),
            [&](std::shared_ptr<ConnectionHandle> handle, std::exception_ptr) {
                ended = handle ? QStringLiteral("connected") : QStringLiteral("failed");
            });
    } else if (road == QLatin1String("fetch")) {
        auto result = std::make_unique<QueryDataset>();
        result->setConnection(QStringLiteral("QCLITE"), m_lite->handle());
        result->setSql(QStringLiteral("select n from many"));
        result->OpenQuery();
        QVERIFY(!result->allFetched());
        control->startFetchToEnd(std::move(result));
    } else {
        control->setCountWanted(road == QLatin1String("count"));
        control->startStatement(road == QLatin1String("exec")
                ? QStringLiteral("update t set id = 42")
                : road == QLatin1String("count") ? QStringLiteral("select n from many")
                                                 : QStringLiteral("select id from t"),
            m_lite.get(), road == QLatin1String("exec"), false);
    }
    if (how == QLatin1String("window"))
        QTRY_VERIFY(!control); // gone with its window
    // Whatever was started ends: its worker frees itself, its connect thread returns.
    QTRY_VERIFY_WITH_TIMEOUT(connectEnded && !worker && Reaper::pending() == 0, 30000);
    if (!outcome.isEmpty())
        QTRY_COMPARE_WITH_TIMEOUT(ended, outcome, 30000);
    QCoreApplication::processEvents(); // nothing more comes
    QCOMPARE(ended, outcome);
    QCOMPARE(told.join(QLatin1Char(' ')), states);
    delete control;
}

void tst_querycontrol::connectEndsOnlyItsOwnWait()
{
    QueryControl control;
    std::promise<void> first;
    std::promise<void> second;
    bool firstEnded = false;
    bool secondEnded = false;
    const auto blocked = [this](std::shared_future<void> go) {
        return [go, open = m_lite->opener(0)] {
            go.wait();
            return open();
        };
    };
    int calls = 0;
    control.startConnect(QStringLiteral("QCLITE"),
        marked(blocked(first.get_future().share()), &firstEnded),
        [&](std::shared_ptr<ConnectionHandle>, std::exception_ptr) { ++calls; });
    control.abandon(); // Esc while it connects
    std::shared_ptr<ConnectionHandle> opened;
    control.startConnect(QStringLiteral("QCLITE"),
        marked(blocked(second.get_future().share()), &secondEnded),
        [&](std::shared_ptr<ConnectionHandle> handle, std::exception_ptr) { opened = handle; });

    first.set_value(); // the abandoned attempt ends while the second one waits
    QTRY_VERIFY_WITH_TIMEOUT(firstEnded, 30000);
    QCOMPARE(control.state(), QueryControl::State::Connecting);
    QVERIFY(!opened);
    QCOMPARE(calls, 0);

    second.set_value();
    QTRY_VERIFY_WITH_TIMEOUT(opened, 30000);
    QCOMPARE(control.state(), QueryControl::State::Idle);
    QCOMPARE(calls, 0);
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
    connect(&control, &QueryControl::finished, this, [&](TQthread *worker) {
        error = worker->ErrorText;
        fresh = worker->FreshConnection;
        result = std::move(worker->Query);
    });
    QSignalSpy handedBack(&control, &QueryControl::finished);
    control.startStatement(QStringLiteral("select id from t"), m_lite.get(), false, false);
    QTRY_COMPARE_WITH_TIMEOUT(handedBack.count(), 1, 30000);

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
