#pragma once

#include "query/StatementOutcome.h"
#include "query/Transaction.h"
#include "threads/OffThread.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

class Connection;
class ConnectionHandle;
class QTimer;
class QueryDataset;
class StatementCancel;
class TQthread;

// The life of the window's statements as one state machine: the connect before a statement
// (Connecting), the worker that runs it (Running), the count of its records after the hand-back
// (Counting), the walk to the end of a result (FetchingToEnd) and the commit or rollback of the
// work open while auto-commit is off (Ending). Nothing here waits: each step
// ends in a notice on the UI thread. Owned by the window; UI thread only. The workers it starts
// free themselves; what may wait on a server goes to the Reaper.
class QueryControl : public QObject
{
    Q_OBJECT

public:
    enum class State { Idle, Connecting, Running, Counting, FetchingToEnd, Ending };
    Q_ENUM(State)

    using Opener = std::function<std::shared_ptr<ConnectionHandle>()>;
    // The connect's outcome: an open connection, or what the opener raised.
    using ConnectDone = std::function<void(std::shared_ptr<ConnectionHandle>, std::exception_ptr)>;
    // The end's outcome: null when the work was committed or rolled back.
    using EndDone = std::function<void(std::exception_ptr)>;
    // A statement's or walk's outcome, on this thread while its worker waits: show no dialog
    // here. The call may take outcome.result; the state is Idle by then.
    using StatementDone = std::function<void(StatementOutcome &outcome)>;

    explicit QueryControl(QObject *parent = nullptr);
    ~QueryControl() override; // abandons what is under way, says nothing

    State state() const { return m_state; }
    QString alias() const { return m_alias; } // of the connect or statement under way
    bool isExec() const { return m_isExec; } // of the statement under way
    // The worker under way, or null: opaque, destroyed once it has ended.
    QObject *worker() const;

    // Read when a select hands back: the worker then counts its records (Counting).
    void setCountWanted(bool wanted) { m_countWanted = wanted; }

    // Off: each statement runs in the work open on its connection (the worker sets the
    // connection's mode before the statement, so a connection opened again gets it too), and
    // transaction() says what is open. Turning it on again asks nothing here: the window ends the
    // open work first.
    void setAutoCommit(bool on) { m_autoCommit = on; }
    bool autoCommit() const { return m_autoCommit; }
    const Transaction &transaction() const { return m_transaction; }
    // A statement of the open work is running: abandoning it takes it out of the work.
    bool statementInWork() const { return m_state == State::Running && m_workerInWork; }
    // Of the end under way (Ending): a commit, else a rollback, and when it began.
    bool endCommits() const { return m_endCommit; }
    QDateTime endSince() const { return m_endSince; }

    // Idle -> Connecting: open() runs on a thread of its own; done() follows on this thread
    // once it returns, in state Idle, unless the connect was abandoned first (then what it
    // opened is closed off this thread and nothing follows).
    void startConnect(const QString &alias, Opener open, ConnectDone done);
    // Idle -> Running: a worker runs the statement on the connection's handle; done() follows
    // unless it is abandoned first. A select opened while a count is wanted goes on to Counting:
    // counting() hears of the select's own outcome (its result stays with the worker), done()
    // follows the count. A fresh connection the worker had to open becomes the connection's
    // own. Returns the worker (see worker()), null when it was abandoned at once. storeBudget:
    // the bytes its result may keep in memory (0: the one set below). parameters: the values
    // bound to the markers of sql, one per "?".
    QObject *startStatement(const QString &sql, Connection *connection, bool isExec, bool wantCount,
        StatementDone done, StatementDone counting = nullptr, std::size_t storeBudget = 0,
        std::vector<ParameterValue> parameters = {});
    // The bytes a statement's result may keep in memory before the rest goes to a temporary
    // file: the user's setting, which the window reads and hands in before each start.
    void setStoreBudget(std::size_t bytes) { m_storeBudget = bytes; }
    // Idle -> FetchingToEnd: a worker fetches the rest of an open result; progress() reports
    // the records fetched so far, done() follows.
    QObject *startFetchToEnd(std::unique_ptr<QueryDataset> result, StatementDone done);
    // Idle -> Ending: commits or rolls back the open work on a thread of its own, which waits
    // for its connection's turn first; done() follows in state Idle. Nothing open: done(nullptr)
    // at once.
    void startEnd(bool commit, EndDone done);
    // In FetchingToEnd: the walk stops between blocks and hands back (done() follows) with
    // the result open and the records fetched so far. Elsewhere nothing.
    void stopFetch();
    // Any state -> Idle: a connect is forgotten; a worker calls nothing more and its statement
    // is cancelled on the server from a reaper thread. An end that still waits for its turn
    // gives up (the work stays open); one that reached the server runs on and its outcome still
    // counts, but done() is not called.
    void abandon();
    // The connections were closed on purpose (a logout): open work is gone, its server rolls it
    // back, and nothing is told as lost. An end that reached the server still tells its outcome.
    void forgetWork();

signals:
    void stateChanged(QueryControl::State state);
    void progress(int fetched);
    // The open work began, grew or ended.
    void transactionChanged();
    // The connection went with work open: the server rolled it back. Emitted where no dialog
    // may be shown (possibly while a worker waits): post what shows the text.
    void workLost(const QString &text);
    // A commit or rollback ended: errorText is empty when it succeeded. calledOff: abandon() came
    // first, so its done() was not called. reached: it was sent to the server (an end called off
    // while it waited for the connection never was).
    void workEnded(bool commit, bool calledOff, const QString &errorText, bool reached);

private:
    void setState(State state);
    QObject *launch(TQthread *worker, StatementDone done, State state,
        const std::shared_ptr<StatementCancel> &cancel,
        const std::shared_ptr<ConnectionHandle> &connection);
    void handBack(TQthread *worker);
    void connectEnded(std::shared_ptr<ConnectionHandle> handle, std::exception_ptr error);
    void forgetWorker();
    void pollProgress();
    void checkLost();
    void endEnded(const OffThread::WishPtr &ending, bool commit, int statements, bool began,
        std::exception_ptr error);

    State m_state = State::Idle;
    QString m_alias;
    bool m_isExec = false;
    bool m_countWanted = false;

    OffThread::Latest m_connect; // the connect under way
    ConnectDone m_connectDone;
    OffThread::Latest m_ending; // the end under way
    EndDone m_endDone;
    bool m_endCommit = false;
    QDateTime m_endSince;
    bool m_autoCommit = true;
    std::size_t m_storeBudget = std::size_t(256) * 1024 * 1024;
    Transaction m_transaction;

    QPointer<TQthread> m_worker; // the worker under way, until it hands back for good
    StatementDone m_done; // the worker's, called once it hands back for good
    StatementDone m_counting; // the worker's, called when its count starts
    std::shared_ptr<StatementCancel> m_cancel;
    std::shared_ptr<ConnectionHandle> m_handle; // the worker's connection
    Connection *m_connection = nullptr; // not owned: the window's, which outlives statements
    QTimer *m_progressTimer = nullptr; // owned (Qt parent)
    int m_reported = -1;
    bool m_inHandBack = false; // the worker waits for handBack(): its fields may be written
    bool m_workerInWork = false; // the worker's statement was counted in the open work
};
