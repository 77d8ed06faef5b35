#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <exception>
#include <functional>
#include <memory>

class Connection;
class ConnectionHandle;
class QTimer;
class QueryDataset;
class StatementCancel;
class TQthread;

// The life of the window's statements as one state machine: the connect before a statement
// (Connecting), the worker that runs it (Running), the count of its records after the hand-back
// (Counting) and the walk to the end of a result (FetchingToEnd). Nothing here waits: each step
// ends in a notice on the UI thread. Owned by the window; UI thread only. The workers it starts
// free themselves; what may wait on a server goes to the Reaper.
class QueryControl : public QObject
{
    Q_OBJECT

public:
    enum class State { Idle, Connecting, Running, Counting, FetchingToEnd };
    Q_ENUM(State)

    using Opener = std::function<std::shared_ptr<ConnectionHandle>()>;
    // The connect's outcome: an open connection, or what the opener raised.
    using ConnectDone = std::function<void(std::shared_ptr<ConnectionHandle>, std::exception_ptr)>;

    explicit QueryControl(QObject *parent = nullptr);
    ~QueryControl() override; // abandons what is under way, says nothing

    State state() const { return m_state; }
    QString alias() const { return m_alias; } // of the connect or statement under way
    bool isExec() const { return m_isExec; } // of the statement under way
    TQthread *worker() const; // the worker under way, or null

    // Read when a select hands back: the worker then counts its records (Counting).
    void setCountWanted(bool wanted) { m_countWanted = wanted; }

    // Idle -> Connecting: open() runs on a thread of its own; done() follows on this thread
    // once it returns, in state Idle, unless the connect was abandoned first (then what it
    // opened is closed off this thread and nothing follows).
    void startConnect(const QString &alias, Opener open, ConnectDone done);
    // Idle -> Running: a worker runs the statement on the connection's handle; finished()
    // follows. A fresh connection the worker had to open becomes the connection's own.
    // Returns the worker, null when it was abandoned at once.
    TQthread *startStatement(
        const QString &sql, Connection *connection, bool isExec, bool wantCount);
    // Idle -> FetchingToEnd: a worker fetches the rest of an open result; progress() reports
    // the records fetched so far, finished() follows.
    TQthread *startFetchToEnd(std::unique_ptr<QueryDataset> result);
    // In FetchingToEnd: the walk stops between blocks and hands back (finished() follows) with
    // the result open and the records fetched so far. Elsewhere nothing.
    void stopFetch();
    // Any state -> Idle: a connect is forgotten; a worker calls nothing more and its statement
    // is cancelled on the server from a reaper thread.
    void abandon();

signals:
    void stateChanged(QueryControl::State state);
    // A statement or walk ended (state Idle): worker->Query is the result to take over, or
    // worker->ErrorText says why not. Emitted while the worker waits: show no dialog here.
    void finished(TQthread *worker);
    void progress(int fetched);

private:
    void setState(State state);
    TQthread *launch(TQthread *worker, State state, const std::shared_ptr<StatementCancel> &cancel,
        const std::shared_ptr<ConnectionHandle> &connection);
    void handBack(TQthread *worker);
    void connectEnded(std::shared_ptr<ConnectionHandle> handle, std::exception_ptr error);
    void forgetWorker();
    void pollProgress();

    struct Attempt;
    State m_state = State::Idle;
    QString m_alias;
    bool m_isExec = false;
    bool m_countWanted = false;

    std::shared_ptr<Attempt> m_attempt; // the connect under way, shared with its thread
    ConnectDone m_connectDone;

    QPointer<TQthread> m_worker; // the worker under way, until it hands back for good
    std::shared_ptr<StatementCancel> m_cancel;
    std::shared_ptr<ConnectionHandle> m_handle; // the worker's connection
    Connection *m_connection = nullptr; // not owned: the window's, which outlives statements
    QTimer *m_progressTimer = nullptr; // owned (Qt parent)
    int m_reported = -1;
    bool m_inHandBack = false; // the worker waits for handBack(): its fields may be written
};
