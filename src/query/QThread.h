#pragma once

#include "query/StatementOutcome.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

class ConnectionHandle;

// Everything one statement's worker needs, handed in by its maker: the worker looks nothing up.
struct StatementJob
{
    QString sql;
    QString alias; // the connection's data source name, for the dataset
    std::shared_ptr<ConnectionHandle> connection;
    bool isExec = false; // a statement without a result set
    bool wantCount = false; // count the records after the open, on the worker thread
    std::size_t storeBudget = 0; // the bytes the result may keep in memory
    bool autoCommit = true; // the connection's mode for this statement, set on it first
    // Work is open on the connection: the statement waits for it however long it stays held,
    // and never moves to a fresh one.
    bool keepConnection = false;
    // Values for the statement's markers, bound when it runs (one per "?" of sql).
    std::vector<ParameterValue> parameters;
};

// Runs one statement (a select that it opens, or an exec) on a thread of its own and hands its
// outcome to the UI thread; or walks an open result to its end. Private to src/query: made and
// started by QueryControl, which hands the outcome on. From start() until the completion handler
// only the worker thread touches its fields. Frees itself when told to.
class TQthread : public QThread
{
    Q_OBJECT

public:
    explicit TQthread(StatementJob job);
    // Fetches the rest of an open result (a walk to the end), then hands it back.
    explicit TQthread(std::unique_ptr<QueryDataset> result);
    ~TQthread() override; // frees what the completion handler left in Outcome

    // Filled by the worker; the completion handler may take Outcome.result.
    StatementOutcome Outcome;
    // Set by the completion handler of a select: the worker counts the records now, off the UI
    // thread, and hands back once more. Outcome.elapsedMs keeps the select's own time.
    bool CountLater = false;
    std::atomic<int> Fetched { 0 }; // records fetched so far; any thread may read it
    // Any thread: a walk to the end stops between blocks and hands back what it fetched, the
    // result still open and able to fetch on.
    std::atomic<bool> StopWalk { false };
    // A connection of the same alias and login that the worker opened because the one it was
    // given stayed held by a cancelled statement; its maker takes it over at the hand-back.
    std::shared_ptr<ConnectionHandle> FreshConnection;

    // Completion handler, run on the UI thread while the worker waits. It is read there at the
    // moment of the call, so clearing it on the UI thread abandons the worker for good.
    std::function<void(TQthread *)> OnTerminate;
    // Set by the creator before start(): the worker deletes itself once it has ended.
    bool FreeOnTerminate = false;

    // Whether the statement may hand back several results: a routine's call, or a batch of
    // statements that the driver runs as one. Only such a statement is fetched whole to see past
    // its first result; any other keeps its lazy fetching. callBegin, when given, is set to
    // where a lone call's first token stands (after the comments before it), else to -1.
    static bool mayReturnSeveral(const QString &sql, int *callBegin = nullptr);

    // The millisecond tick of a monotonic clock, truncated to 32 bits like the platform tick.
    static quint32 tickCount();
    // now - start in 32-bit arithmetic: right across one wrap of the tick counter.
    static qint32 tickDifference(quint32 start, quint32 now);

protected:
    void run() override;

private:
    void runStatement();
    void useFreeConnection(); // may switch the dataset to a fresh connection
    void applyAutoCommit();
    void walkToEnd(); // fetches the rest of the result, stopping when cancelled
    // Every result of the statement, each fetched whole before the next is taken, and then the
    // values of its OUT parameters.
    void collectResults();
    void callFromItsStart(); // m_several; a lone call's text from its first token
    void handBack();
    void noteError(const std::exception &error); // errorText and errorRecords
    void freeWhenEnded();
    bool m_wantCount = false;
    bool m_several = false; // mayReturnSeveral: every result is collected
    bool m_autoCommit = true;
    bool m_keepConnection = false;
    bool m_freeOnTerminate = false; // FreeOnTerminate as noted when the run ended
};
