#include "query/QueryControl.h"

#include "connection/Connection.h"
#include "connection/ConnectionHandle.h"
#include "connection/DatabaseError.h"
#include "connection/OdbcCursor.h"
#include "connection/QueryDataset.h"
#include "connection/StatementCancel.h"
#include "query/QThread.h"
#include "query/Reaper.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

// What a connect thread and the UI thread share: whether anyone still wants the outcome.
struct QueryControl::Attempt
{
    std::atomic<bool> abandoned { false };
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
    blockSignals(true); // the window that listens is going
    abandon();
}

TQthread *QueryControl::worker() const
{
    return m_worker;
}

void QueryControl::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void QueryControl::startConnect(const QString &alias, Opener open, ConnectDone done)
{
    abandon();
    auto attempt = std::make_shared<Attempt>();
    m_attempt = attempt;
    m_connectDone = std::move(done);
    m_alias = alias;
    // Told before the connect starts, so that whatever a listener does about it comes before
    // the connect's outcome.
    setState(State::Connecting);
    if (m_attempt != attempt)
        return; // abandoned at once
    QPointer<QueryControl> self(this);
    std::thread([attempt, open = std::move(open), self]() mutable {
        std::shared_ptr<ConnectionHandle> handle;
        std::exception_ptr error;
        try {
            handle = open();
        } catch (...) {
            error = std::current_exception();
        }
        if (attempt->abandoned.load())
            handle.reset(); // nobody wants it: closed here, on this thread
        // Only the attempt under way takes its outcome: one abandoned before is dropped, so
        // that it never ends a later attempt's connect.
        QMetaObject::invokeMethod(
            qApp,
            [self, attempt, handle = std::move(handle), error]() mutable {
                if (self && self->m_attempt == attempt)
                    self->connectEnded(std::move(handle), error);
                else
                    Reaper::dispose(std::move(handle));
            },
            Qt::QueuedConnection);
        open = nullptr; // what the opener holds goes here, after its outcome was handed on
    }).detach();
}

void QueryControl::connectEnded(std::shared_ptr<ConnectionHandle> handle, std::exception_ptr error)
{
    m_attempt.reset();
    const ConnectDone done = std::move(m_connectDone);
    m_connectDone = nullptr;
    setState(State::Idle);
    if (done)
        done(std::move(handle), error);
}

TQthread *QueryControl::startStatement(const QString &sql, Connection *connection, bool isExec,
    bool wantCount, std::size_t storeBudget)
{
    abandon();
    checkLost(); // told before a statement may open new work on a connection opened again
    const std::shared_ptr<ConnectionHandle> handle = connection->handle();
    auto *worker = new TQthread(sql, connection->DatabaseName, handle, isExec,
        storeBudget ? storeBudget : m_storeBudget); // frees itself
    worker->WantCount = wantCount;
    worker->AutoCommit = m_autoCommit;
    // Open work never moves to a fresh connection: the statement waits for its own.
    worker->KeepConnection = m_transaction.holds(handle);
    const bool inWork = !m_autoCommit && handle;
    if (inWork) {
        m_transaction.noteStatement(connection->DatabaseName, handle);
        emit transactionChanged();
    }
    m_connection = connection;
    m_alias = connection->DatabaseName;
    m_isExec = isExec;
    m_workerInWork = inWork;
    return launch(worker, State::Running, worker->Query->cancelPoint(), handle);
}

TQthread *QueryControl::startFetchToEnd(std::unique_ptr<QueryDataset> result)
{
    abandon();
    const std::shared_ptr<StatementCancel> cancel = result->cancelPoint();
    const std::shared_ptr<ConnectionHandle> handle = result->connection();
    auto *worker = new TQthread(std::move(result)); // frees itself
    m_connection = nullptr;
    m_isExec = false;
    m_reported = -1;
    m_progressTimer->start();
    return launch(worker, State::FetchingToEnd, cancel, handle);
}

TQthread *QueryControl::launch(TQthread *worker, State state,
    const std::shared_ptr<StatementCancel> &cancel,
    const std::shared_ptr<ConnectionHandle> &connection)
{
    m_worker = worker;
    m_cancel = cancel;
    m_handle = connection;
    QPointer<QueryControl> self(this);
    worker->OnTerminate = [self](TQthread *finished) {
        if (self)
            self->handBack(finished);
    };
    worker->FreeOnTerminate = true;
    // The state is told before the worker starts, so that whatever a listener does about it
    // (even abandoning the worker) comes before the worker's hand-back.
    setState(state);
    worker->start();
    return m_worker;
}

void QueryControl::handBack(TQthread *worker)
{
    if (worker != m_worker)
        return;
    // A connection opened by the worker because the alias's own stayed held by a cancelled
    // statement becomes the alias's connection; the held one closes when its statement ends,
    // off this thread.
    if (worker->FreshConnection && m_connection && m_connection->IsConnected()
        && m_connection->handle() != worker->FreshConnection) {
        std::shared_ptr<ConnectionHandle> held = m_connection->handle();
        m_connection->adopt(worker->FreshConnection);
        m_handle = worker->FreshConnection;
        // Only work that this very statement began can be here (KeepConnection): it ran there.
        if (m_transaction.holds(held))
            m_transaction.moveTo(worker->FreshConnection);
        Reaper::dispose(std::move(held));
    }
    // Record Count ticked while the select ran: the worker counts on its own thread and hands
    // back once more.
    if (m_state == State::Running && !worker->IsExec && worker->Opened
        && worker->ErrorText.isEmpty() && !worker->Counted && m_countWanted) {
        worker->CountLater = true;
        m_inHandBack = true;
        setState(State::Counting);
        m_inHandBack = false;
        return;
    }
    forgetWorker();
    checkLost();
    setState(State::Idle);
    emit finished(worker);
}

void QueryControl::checkLost()
{
    if (!m_transaction.lost())
        return;
    const QString text = m_transaction.lostText();
    m_transaction.clear();
    emit transactionChanged();
    emit workLost(text);
}

void QueryControl::startEnd(bool commit, EndDone done)
{
    abandon();
    checkLost();
    const std::shared_ptr<ConnectionHandle> connection = m_transaction.connection();
    if (!m_transaction.isOpen() || !connection) {
        if (done)
            done(nullptr);
        return;
    }
    auto ending = std::make_shared<Attempt>();
    m_ending = ending;
    m_endDone = std::move(done);
    m_alias = m_transaction.alias();
    m_endCommit = commit;
    m_endSince = QDateTime::currentDateTime();
    setState(State::Ending);
    if (m_ending != ending)
        return; // abandoned at once
    QPointer<QueryControl> self(this);
    const int statements = m_transaction.statements(); // what this end ends
    std::thread([self, ending, connection = connection, commit, statements]() mutable {
        // The turn may be held by a statement the user cancelled: waited for in short steps, so
        // that Close Query can still call the end off while it has not reached the server.
        bool held = false;
        while (!held && !ending->abandoned.load())
            held = connection->acquireUntil(
                ConnectionHandle::Clock::now() + std::chrono::milliseconds(100));
        bool began = false;
        std::exception_ptr error;
        if (held && !ending->abandoned.load()) {
            began = true;
            try {
                connection->endTransaction(commit);
            } catch (const DatabaseError &failure) {
                if (OdbcCursor::connectionLost(failure, connection->get()))
                    connection->markLost();
                error = std::current_exception();
            } catch (...) {
                error = std::current_exception();
            }
        }
        if (held)
            connection->release();
        QMetaObject::invokeMethod(
            qApp,
            [self, ending, commit, statements, began, error] {
                if (self)
                    self->endEnded(ending, commit, statements, began, error);
            },
            Qt::QueuedConnection);
        connection.reset(); // the last hold, if it is one, disconnects here, off the UI thread
    }).detach();
}

void QueryControl::endEnded(const std::shared_ptr<Attempt> &ending, bool commit, int statements,
    bool began, std::exception_ptr error)
{
    // What reached the server counts, even for an end that Close Query called off meanwhile
    // (a statement started after that waited for it, and began new work).
    if (began && !error) {
        m_transaction.ended(statements);
        emit transactionChanged();
    } else if (began) {
        checkLost();
    }
    if (began) {
        QString text;
        if (error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception &failure) {
                text = errorText(failure);
            } catch (...) {
                text = QStringLiteral("Unknown error");
            }
        }
        emit workEnded(commit, ending != m_ending, text, true);
    } else {
        emit workEnded(commit, ending != m_ending, QString(), false);
    }
    if (ending != m_ending)
        return;
    m_ending.reset();
    const EndDone done = std::move(m_endDone);
    m_endDone = nullptr;
    setState(State::Idle);
    if (done)
        done(error);
}

void QueryControl::forgetWorker()
{
    m_worker = nullptr;
    m_cancel.reset();
    m_handle.reset();
    m_connection = nullptr;
    m_workerInWork = false;
    m_progressTimer->stop();
}

void QueryControl::stopFetch()
{
    if (m_state == State::FetchingToEnd && m_worker)
        m_worker->StopWalk.store(true);
}

void QueryControl::abandon()
{
    if (m_attempt) {
        m_attempt->abandoned.store(true);
        m_attempt.reset();
        m_connectDone = nullptr;
    }
    if (m_ending) {
        m_ending->abandoned.store(true);
        m_ending.reset();
        m_endDone = nullptr;
    }
    if (m_worker) {
        // A statement cancelled before it ended is no part of the work (the server undoes it).
        if (statementInWork() && m_transaction.holds(m_handle)) {
            m_transaction.dropStatement();
            emit transactionChanged();
        }
        m_worker->OnTerminate = nullptr;
        if (m_inHandBack)
            m_worker->CountLater = false; // abandoned before its count began: no count at all
        m_worker->requestInterruption();
        // The cancel may wait on the server for as long as it likes, so it is sent from a
        // reaper thread. Its connection counts it as taken from now on: a statement that comes
        // next waits out the grace at most, and not even that when the driver refuses it.
        if (m_handle)
            m_handle->noteCancel(true);
        if (m_cancel) {
            Reaper::post([cancel = m_cancel, connection = m_handle] {
                if (!cancel->cancel() && connection)
                    connection->noteCancel(false);
            });
        }
    }
    forgetWorker();
    setState(State::Idle);
}

void QueryControl::pollProgress()
{
    if (!m_worker || m_state != State::FetchingToEnd) {
        m_progressTimer->stop();
        return;
    }
    const int fetched = m_worker->Fetched.load();
    if (fetched != m_reported) {
        m_reported = fetched;
        emit progress(fetched);
    }
}
