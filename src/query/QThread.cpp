#include "query/QThread.h"

#include "connection/ConnectionHandle.h"
#include "connection/DatabaseError.h"
#include "connection/StatementCancel.h"
#include "sql/SqlStatements.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <chrono>
#include <exception>

TQthread::TQthread(StatementJob job)
    : m_wantCount(job.wantCount)
    , m_autoCommit(job.autoCommit)
    , m_keepConnection(job.keepConnection)
{
    Outcome.result = std::make_unique<QueryDataset>(job.storeBudget);
    Outcome.result->setConnection(job.alias, std::move(job.connection));
    Outcome.result->setSql(job.sql);
    if (!job.parameters.empty())
        Outcome.result->setParameters(std::move(job.parameters));
    Outcome.isExec = job.isExec;
    freeWhenEnded();
}

TQthread::TQthread(std::unique_ptr<QueryDataset> result)
{
    Outcome.result = std::move(result);
    Outcome.opened = true;
    Outcome.fetchToEnd = true;
    Fetched.store(Outcome.result->fetchedCount());
    freeWhenEnded();
}

void TQthread::freeWhenEnded()
{
    // Deleted on the thread the object lives on, after the thread has really ended; deleting a
    // QThread from inside its own run() would destroy a running thread.
    connect(this, &QThread::finished, this, [this] {
        if (m_freeOnTerminate)
            deleteLater();
    });
}

TQthread::~TQthread()
{
    Outcome.moreResults.clear();
    Outcome.result.reset();
}

quint32 TQthread::tickCount()
{
    using namespace std::chrono;
    const auto now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch());
    return static_cast<quint32>(now.count());
}

qint32 TQthread::tickDifference(quint32 start, quint32 now)
{
    return static_cast<qint32>(now - start);
}

void TQthread::useFreeConnection()
{
    // A statement that was cancelled (or a result that was let go of) but still holds the
    // connection may keep it for as long as its server likes: unless work is open there, this
    // statement runs at once on a connection of its own, opened with the same login.
    QueryDataset &query = *Outcome.result;
    const std::shared_ptr<ConnectionHandle> connection = query.connection();
    if (m_keepConnection || !connection || !connection->busy())
        return;
    if (connection->holdDeadline() == ConnectionHandle::Clock::time_point::max())
        return; // nothing was cancelled: wait for the turn as always
    if (connection->acquireUntil(ConnectionHandle::Clock::now())) {
        connection->release(); // let go of meanwhile: the statement stays there
        return;
    }
    if (query.cancelPoint()->isCancelled())
        return; // abandoned meanwhile: the statement will not start anyway
    FreshConnection = std::make_shared<ConnectionHandle>(connection->dataSource(),
        connection->user(), connection->password(), connection->loginTimeout());
    query.setConnection(query.databaseName(), FreshConnection);
}

void TQthread::applyAutoCommit()
{
    // Read and changed holding the turn, as a statement would: the mode belongs to the
    // connection, which an abandoned statement may still be using.
    const std::shared_ptr<ConnectionHandle> connection = Outcome.result->connection();
    if (!connection || !connection->isAlive())
        return; // the statement says what is wrong
    connection->acquire();
    try {
        if (connection->autoCommit() != m_autoCommit)
            connection->setAutoCommit(m_autoCommit);
    } catch (...) {
        connection->release();
        throw;
    }
    connection->release();
}

void TQthread::walkToEnd()
{
    QueryDataset &query = *Outcome.result;
    const std::shared_ptr<StatementCancel> cancel = query.cancelPoint();
    while (!query.allFetched() && !cancel->isCancelled() && !StopWalk.load()) {
        query.fetchMore();
        Fetched.store(query.fetchedCount());
    }
    Outcome.counted = query.allFetched();
}

bool TQthread::mayReturnSeveral(const QString &sql, int *callBegin)
{
    if (callBegin)
        *callBegin = -1;
    if (sql.trimmed().startsWith(QLatin1Char('{')))
        return true; // an escape sequence: {call ...}, {? = call ...}
    const QVector<Sql::Statement> statements = Sql::splitStatements(sql);
    const bool call = statements.size() == 1 && statements.first().kind == Sql::StatementKind::Call;
    if (call && callBegin)
        *callBegin = statements.first().begin;
    return statements.size() > 1 || call;
}

void TQthread::callFromItsStart()
{
    // The PostgreSQL driver hands OUT values back only for a text that begins with CALL: the
    // comments before a lone call stay out of what the driver gets.
    int begin = -1;
    m_several = mayReturnSeveral(Outcome.result->sql(), &begin);
    if (begin > 0)
        Outcome.result->setSql(Outcome.result->sql().mid(begin));
}

void TQthread::collectResults()
{
    // The statement moves on to its next result only once the data of the one before has
    // ended: each result is fetched whole into its own store (in memory up to the budget, in a
    // temporary file beyond), then the next is taken. Close Query cancels the first result's
    // point, so that point stops the fetches of the later ones too.
    const std::shared_ptr<StatementCancel> cancel = Outcome.result->cancelPoint();
    QueryDataset *last = Outcome.result.get();
    for (;;) {
        while (!last->allFetched() && !cancel->isCancelled()) {
            last->fetchMore();
            if (last == Outcome.result.get())
                Fetched.store(last->fetchedCount());
        }
        if (cancel->isCancelled())
            return; // abandoned: nobody takes what was fetched
        std::unique_ptr<QueryDataset> next = last->takeNextResult();
        if (!next)
            break;
        last = next.get();
        Outcome.moreResults.push_back(std::move(next));
    }
    // Drivers fill the OUT values once every result was read; the last result's statement
    // holds them.
    Outcome.parameterOutputs = last->parameterOutputs();
    Outcome.counted = m_wantCount; // as a count would have left it: every record fetched
}

void TQthread::runStatement()
{
    const quint32 startTick = tickCount();
    try {
        useFreeConnection();
        applyAutoCommit();
        callFromItsStart(); // read here, on the worker: the text may be long
        if (Outcome.isExec) {
            Outcome.result->ExecQuery();
            Outcome.rowsAffected = Outcome.result->rowsAffected();
            Outcome.parameterOutputs = Outcome.result->parameterOutputs();
        } else {
            Outcome.result->setWantsMoreResults(m_several);
            Outcome.result->OpenQuery();
            Outcome.opened = true;
            Fetched.store(Outcome.result->fetchedCount());
            if (m_several)
                collectResults();
            else if (m_wantCount)
                walkToEnd(); // the whole result here, not on the UI thread
        }
    } catch (const std::exception &error) {
        noteError(error);
        if (Outcome.errorText.isEmpty())
            Outcome.errorText = QStringLiteral("Unknown error");
    } catch (...) {
        Outcome.errorText = QStringLiteral("Unknown error");
    }
    Outcome.elapsedMs = tickDifference(startTick, tickCount());
}

void TQthread::noteError(const std::exception &error)
{
    Outcome.errorText = errorText(error);
    if (const auto *database = dynamic_cast<const DatabaseError *>(&error))
        Outcome.errorRecords = database->records();
}

void TQthread::handBack()
{
    auto call = [this] {
        // A copy: the handler may clear OnTerminate while it runs (a nested event loop of a
        // message box lets Close Query in).
        const auto handler = OnTerminate;
        if (handler) // cleared by the UI thread = worker abandoned
            handler(this);
    };
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, call, Qt::BlockingQueuedConnection);
}

void TQthread::run()
{
    // A stop request is never read: once started, the statement runs to its end unless it is
    // cancelled through its dataset's cancel point.
    if (Outcome.fetchToEnd) {
        try {
            walkToEnd();
        } catch (const std::exception &error) {
            noteError(error);
        }
    } else {
        runStatement();
    }

    m_freeOnTerminate = FreeOnTerminate;
    for (;;) {
        CountLater = false;
        handBack();
        if (!CountLater || !Outcome.result || Outcome.failed())
            break;
        try {
            walkToEnd();
        } catch (const std::exception &error) {
            noteError(error);
            if (Outcome.errorText.isEmpty())
                Outcome.errorText = QStringLiteral("Unknown error");
        }
    }
    // Not taken over: freed here, on the worker thread.
    Outcome.moreResults.clear();
    Outcome.result.reset();
}
