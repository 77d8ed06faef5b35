#include "query/QThread.h"

#include "connection/Connection.h"
#include "connection/ConnectionHandle.h"
#include "connection/DatabaseError.h"
#include "connection/Session.h"
#include "connection/StatementCancel.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <chrono>
#include <exception>

TQthread::TQthread(const QString &sql, const QString &databaseName, bool isExec)
    : Query(std::make_unique<QueryDataset>())
    , IsExec(isExec)
{
    // The alias is resolved to its connection here, on the UI thread: the session and the
    // connection objects belong to that thread.
    const Connection *connection = Session::instance().FindConnection(databaseName);
    Query->setConnection(databaseName, connection ? connection->handle() : nullptr);
    Query->setSql(sql);

    // Deleted on the thread the object lives on, after the thread has really ended; deleting a
    // QThread from inside its own run() would destroy a running thread.
    connect(this, &QThread::finished, this, [this] {
        if (m_freeOnTerminate)
            deleteLater();
    });
}

TQthread::TQthread(const QString &sql, const QString &databaseName,
    std::shared_ptr<ConnectionHandle> connection, bool isExec, std::size_t storeBudget)
    : Query(std::make_unique<QueryDataset>(
        storeBudget ? storeBudget : QueryDataset::DefaultStoreBudget))
    , IsExec(isExec)
{
    Query->setConnection(databaseName, std::move(connection));
    Query->setSql(sql);
    connect(this, &QThread::finished, this, [this] {
        if (m_freeOnTerminate)
            deleteLater();
    });
}

TQthread::TQthread(std::unique_ptr<QueryDataset> result)
    : Query(std::move(result))
    , Opened(true)
    , FetchToEnd(true)
{
    Fetched.store(Query->fetchedCount());
    connect(this, &QThread::finished, this, [this] {
        if (m_freeOnTerminate)
            deleteLater();
    });
}

TQthread::~TQthread()
{
    Query.reset();
}

QString TQthread::ElapsedText() const
{
    return elapsedText(ElapsedMs);
}

QString TQthread::elapsedText(qint32 ms, const QLocale &locale)
{
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return plain.toString(ms / 1000.0, 'f', 4) + QStringLiteral(" Seconds");
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
    const std::shared_ptr<ConnectionHandle> connection = Query->connection();
    if (KeepConnection || !connection || !connection->busy())
        return;
    if (connection->holdDeadline() == ConnectionHandle::Clock::time_point::max())
        return; // nothing was cancelled: wait for the turn as always
    if (connection->acquireUntil(ConnectionHandle::Clock::now())) {
        connection->release(); // let go of meanwhile: the statement stays there
        return;
    }
    if (Query->cancelPoint()->isCancelled())
        return; // abandoned meanwhile: the statement will not start anyway
    FreshConnection = std::make_shared<ConnectionHandle>(connection->dataSource(),
        connection->user(), connection->password(), connection->loginTimeout());
    Query->setConnection(Query->databaseName(), FreshConnection);
}

void TQthread::applyAutoCommit()
{
    // Read and changed holding the turn, as a statement would: the mode belongs to the
    // connection, which an abandoned statement may still be using.
    const std::shared_ptr<ConnectionHandle> connection = Query->connection();
    if (!connection || !connection->isAlive())
        return; // the statement says what is wrong
    connection->acquire();
    try {
        if (connection->autoCommit() != AutoCommit)
            connection->setAutoCommit(AutoCommit);
    } catch (...) {
        connection->release();
        throw;
    }
    connection->release();
}

void TQthread::walkToEnd()
{
    const std::shared_ptr<StatementCancel> cancel = Query->cancelPoint();
    while (!Query->allFetched() && !cancel->isCancelled() && !StopWalk.load()) {
        Query->fetchMore();
        Fetched.store(Query->fetchedCount());
    }
    Counted = Query->allFetched();
}

void TQthread::runStatement()
{
    const quint32 startTick = tickCount();
    try {
        useFreeConnection();
        applyAutoCommit();
        if (IsExec) {
            Query->ExecQuery();
        } else {
            Query->OpenQuery();
            Opened = true;
            Fetched.store(Query->fetchedCount());
            if (WantCount)
                walkToEnd(); // the whole result here, not on the UI thread
        }
    } catch (const std::exception &error) {
        noteError(error);
        if (ErrorText.isEmpty())
            ErrorText = QStringLiteral("Unknown error");
    } catch (...) {
        ErrorText = QStringLiteral("Unknown error");
    }
    ElapsedMs = tickDifference(startTick, tickCount());
}

void TQthread::noteError(const std::exception &error)
{
    ErrorText = errorText(error);
    if (const auto *database = dynamic_cast<const DatabaseError *>(&error))
        ErrorRecords = database->records();
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
    if (FetchToEnd) {
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
        if (!CountLater || !Query || !ErrorText.isEmpty())
            break;
        try {
            walkToEnd();
        } catch (const std::exception &error) {
            noteError(error);
            if (ErrorText.isEmpty())
                ErrorText = QStringLiteral("Unknown error");
        }
    }
    Query.reset(); // not taken over: freed here, on the worker thread
}
