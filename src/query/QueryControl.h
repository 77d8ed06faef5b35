#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class ConnectionHandle;
class QEventLoop;
class QTimer;
class QueryDataset;
class StatementCancel;
class TQthread;

// The life of the window's statements: the connect before them, the worker that runs one and
// its hand-back, the count after it, the walk to the end of a result, and the cancel and
// abandon of each. The window's handlers drive it and connect to its signals. Owned by the
// window; UI thread only. The workers it starts free themselves.
class QueryControl : public QObject
{
    Q_OBJECT

public:
    using Opener = std::function<std::shared_ptr<ConnectionHandle>()>;

    explicit QueryControl(QObject *parent = nullptr);
    ~QueryControl() override; // abandons a connect that is under way

    // Runs open() on a thread of its own and returns its connection, while the caller's events
    // go on being handled. Null when the connect was abandoned; what open() raised is raised
    // again here. An abandoned attempt is cleaned up on its own thread whenever it returns.
    std::shared_ptr<ConnectionHandle> connectDatabase(Opener open);
    bool connecting() const { return m_connectLoop != nullptr; }
    void abandonConnect();

    // Starts a worker that runs the statement on the connection and emits handedBack from its
    // completion handler. The worker frees itself.
    TQthread *startStatement(const QString &sql, const QString &alias,
        std::shared_ptr<ConnectionHandle> connection, bool isExec, bool wantCount);
    // Starts a worker that fetches the rest of an open result; progress reports the records
    // fetched so far while it runs.
    TQthread *startFetchToEnd(std::unique_ptr<QueryDataset> result);
    // The worker will call nothing more; its statement is cancelled on the server, and its
    // connection remembers the cancel so that the next statement does not wait long behind it.
    void abandon(TQthread *worker);

signals:
    void connectStarted(); // connectDatabase is waiting for its thread
    void handedBack(TQthread *worker);
    void progress(int fetched);

private:
    TQthread *launch(TQthread *worker, const std::shared_ptr<StatementCancel> &cancel,
        const std::shared_ptr<ConnectionHandle> &connection);
    void pollProgress();

    struct Attempt;
    std::shared_ptr<Attempt> m_attempt; // the connect under way, shared with its thread
    QEventLoop *m_connectLoop = nullptr; // not owned: lives on connectDatabase's stack

    QPointer<TQthread> m_current; // the worker started last, until it hands back for good
    std::shared_ptr<StatementCancel> m_currentCancel;
    std::shared_ptr<ConnectionHandle> m_currentConnection;
    QTimer *m_progressTimer = nullptr; // owned (Qt parent)
    int m_reported = -1;
};
