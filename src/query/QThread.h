#pragma once

#include "connection/DatabaseError.h"
#include "connection/QueryDataset.h"

#include <QLocale>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

class ConnectionHandle;

// Runs one statement (a select that it opens, or an exec) on a thread of its own and hands the
// result to the UI thread; or walks an open result to its end. Created and configured on the UI
// thread; from start() until the completion handler only the worker thread touches its fields.
// Frees itself when told to.
class TQthread : public QThread
{
    Q_OBJECT

public:
    // The statement runs on the connection of that alias, looked up in the Session.
    TQthread(const QString &sql, const QString &databaseName, bool isExec);
    // The statement runs on the connection handed in; its result may keep storeBudget bytes in
    // memory (0: the dataset's default).
    TQthread(const QString &sql, const QString &databaseName,
        std::shared_ptr<ConnectionHandle> connection, bool isExec, std::size_t storeBudget = 0);
    // Fetches the rest of an open result (FetchToEnd), then hands it back.
    explicit TQthread(std::unique_ptr<QueryDataset> result);
    ~TQthread() override; // frees Query unless the completion handler took it over

    std::unique_ptr<QueryDataset> Query; // owned until the completion handler moves it away
    bool Opened = false; // the select's dataset is open
    bool IsExec = false; // a statement without a result set
    QString ErrorText; // message of the error caught in the run; empty when none
    QVector<DiagnosticRecord> ErrorRecords; // the driver's records of that error, when it gave any
    bool WantCount = false; // count the records after the open, on the worker thread
    qint32 ElapsedMs = 0; // milliseconds of the run, from a 32-bit tick count
    bool FetchToEnd = false; // a walk to the end of an open result instead of a statement
    // Set by the completion handler of a select: the worker counts the records now, off the UI
    // thread, and hands back once more. ElapsedMs keeps the select's own time.
    bool CountLater = false;
    bool Counted = false; // every record of the result was fetched by the worker
    std::atomic<int> Fetched { 0 }; // records fetched so far; any thread may read it
    // Any thread: a walk to the end stops between blocks and hands back what it fetched, the
    // result still open and able to fetch on.
    std::atomic<bool> StopWalk { false };
    // A connection of the same alias and login that the worker opened because the one it was
    // given stayed held by a cancelled statement; the window takes it over at the hand-back.
    std::shared_ptr<ConnectionHandle> FreshConnection;
    // The connection's auto-commit mode for this statement, set on it first when it differs.
    bool AutoCommit = true;
    // Work is open on the connection: the statement waits for it however long it stays held,
    // and never moves to a fresh one.
    bool KeepConnection = false;

    // Completion handler, run on the UI thread while the worker waits. It is read there at the
    // moment of the call, so clearing it on the UI thread abandons the worker for good.
    std::function<void(TQthread *)> OnTerminate;
    // Set by the creator before start(): the worker deletes itself once it has ended.
    bool FreeOnTerminate = false;

    // ElapsedMs in seconds with four decimals and the locale's separator, then " Seconds".
    QString ElapsedText() const;
    static QString elapsedText(qint32 ms, const QLocale &locale = QLocale());

    // The millisecond tick of a monotonic clock, truncated to 32 bits like the platform tick.
    static quint32 tickCount();
    // now - start in 32-bit arithmetic: right across one wrap of the tick counter.
    static qint32 tickDifference(quint32 start, quint32 now);

protected:
    void run() override;

private:
    void runStatement();
    void useFreeConnection(); // may switch Query to a fresh connection
    void applyAutoCommit();
    void walkToEnd(); // fetches the rest of the result, stopping when cancelled
    void handBack();
    void noteError(const std::exception &error); // ErrorText and ErrorRecords
    bool m_freeOnTerminate = false; // FreeOnTerminate as noted when the run ended
};
