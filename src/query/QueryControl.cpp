#include "query/QueryControl.h"

#include "connection/ConnectionHandle.h"
#include "connection/QueryDataset.h"
#include "connection/StatementCancel.h"
#include "query/QThread.h"
#include "query/Reaper.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <exception>
#include <mutex>
#include <thread>

// What a connect thread and the UI thread share: the outcome, and whether anyone still wants it.
struct QueryControl::Attempt
{
    std::mutex mutex;
    bool done = false;
    bool abandoned = false;
    std::shared_ptr<ConnectionHandle> handle;
    std::exception_ptr error;
};

QueryControl::QueryControl(QObject *parent)
    : QObject(parent)
    , m_progressTimer(new QTimer(this)) // owned (Qt parent)
{
    m_progressTimer->setInterval(100);
    connect(m_progressTimer, &QTimer::timeout, this, &QueryControl::pollProgress);
}

QueryControl::~QueryControl()
{
    abandonConnect();
}

std::shared_ptr<ConnectionHandle> QueryControl::connectDatabase(Opener open)
{
    abandonConnect();
    auto attempt = std::make_shared<Attempt>();
    m_attempt = attempt;
    QEventLoop loop;
    QPointer<QueryControl> self(this);
    std::thread([attempt, open = std::move(open), self] {
        std::shared_ptr<ConnectionHandle> handle;
        std::exception_ptr error;
        try {
            handle = open();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(attempt->mutex);
            if (!attempt->abandoned) {
                attempt->handle = std::move(handle);
                attempt->error = error;
            }
            attempt->done = true;
        }
        // Nobody wants an abandoned connection: it is closed here, on this thread.
        handle.reset();
        // Ends only its own wait: an attempt abandoned before leaves a later one waiting.
        QMetaObject::invokeMethod(
            qApp,
            [self, attempt] {
                if (self && self->m_connectLoop && self->m_attempt == attempt)
                    self->m_connectLoop->quit();
            },
            Qt::QueuedConnection);
    }).detach();

    m_connectLoop = &loop;
    emit connectStarted();
    if (self && m_connectLoop == &loop)
        loop.exec(); // quit by the thread's notice or by abandonConnect()
    if (self && self->m_connectLoop == &loop)
        m_connectLoop = nullptr;

    std::shared_ptr<ConnectionHandle> handle;
    std::exception_ptr error;
    {
        std::lock_guard<std::mutex> lock(attempt->mutex);
        if (!attempt->done || attempt->abandoned) {
            attempt->abandoned = true;
            return nullptr;
        }
        handle = std::move(attempt->handle);
        error = attempt->error;
    }
    if (self && self->m_attempt == attempt)
        m_attempt.reset();
    if (error)
        std::rethrow_exception(error);
    return handle;
}

void QueryControl::abandonConnect()
{
    if (m_attempt) {
        std::shared_ptr<ConnectionHandle> unwanted;
        {
            std::lock_guard<std::mutex> lock(m_attempt->mutex);
            m_attempt->abandoned = true;
            unwanted = std::move(m_attempt->handle);
        }
        // Opened just before it was abandoned: closed on a thread of its own, never here.
        Reaper::dispose(std::move(unwanted));
        m_attempt.reset();
    }
    if (m_connectLoop) {
        m_connectLoop->quit();
        m_connectLoop = nullptr;
    }
}

TQthread *QueryControl::startStatement(const QString &sql, const QString &alias,
    std::shared_ptr<ConnectionHandle> connection, bool isExec, bool wantCount)
{
    auto *worker = new TQthread(sql, alias, connection, isExec); // frees itself
    worker->WantCount = wantCount;
    return launch(worker, worker->Query->cancelPoint(), connection);
}

TQthread *QueryControl::startFetchToEnd(std::unique_ptr<QueryDataset> result)
{
    const std::shared_ptr<StatementCancel> cancel = result->cancelPoint();
    const std::shared_ptr<ConnectionHandle> connection = result->connection();
    auto *worker = new TQthread(std::move(result)); // frees itself
    m_reported = -1;
    m_progressTimer->start();
    return launch(worker, cancel, connection);
}

TQthread *QueryControl::launch(TQthread *worker, const std::shared_ptr<StatementCancel> &cancel,
    const std::shared_ptr<ConnectionHandle> &connection)
{
    m_current = worker;
    m_currentCancel = cancel;
    m_currentConnection = connection;
    QPointer<QueryControl> self(this);
    worker->OnTerminate = [self](TQthread *finished) {
        if (!self)
            return;
        emit self->handedBack(finished);
        if (!finished->CountLater && self->m_current == finished) {
            self->m_current = nullptr;
            self->m_currentCancel.reset();
            self->m_currentConnection.reset();
            self->m_progressTimer->stop();
        }
    };
    worker->FreeOnTerminate = true;
    worker->start();
    return worker;
}

void QueryControl::abandon(TQthread *worker)
{
    if (!worker)
        return;
    worker->OnTerminate = nullptr;
    worker->requestInterruption();
    if (worker != m_current)
        return;
    m_progressTimer->stop();
    // The cancel may wait on the server for as long as it likes, so it is sent from a reaper
    // thread. Its connection counts it as taken from now on: a statement that comes next waits
    // out the grace at most, and not even that when the driver refuses the cancel.
    if (m_currentConnection)
        m_currentConnection->noteCancel(true);
    if (m_currentCancel) {
        Reaper::post([cancel = m_currentCancel, connection = m_currentConnection] {
            if (!cancel->cancel() && connection)
                connection->noteCancel(false);
        });
    }
    m_current = nullptr;
    m_currentCancel.reset();
    m_currentConnection.reset();
}

void QueryControl::pollProgress()
{
    if (!m_current || !m_current->FetchToEnd) {
        m_progressTimer->stop();
        return;
    }
    const int fetched = m_current->Fetched.load();
    if (fetched != m_reported) {
        m_reported = fetched;
        emit progress(fetched);
    }
}
