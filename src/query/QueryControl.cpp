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

#include <chrono>

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

QObject *QueryControl::worker() const
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
    const OffThread::WishPtr wish = m_connect.renew();
    m_connectDone = std::move(done);
    m_alias = alias;
    // Told before the connect starts, so that whatever a listener does about it comes before
    // the connect's outcome.
    setState(State::Connecting);
    if (!m_connect.isCurrent(wish))
        return; // abandoned at once
    struct Opened
    {
        std::shared_ptr<ConnectionHandle> handle;
        std::exception_ptr error;
    };
    // A connect abandoned before it returned is closed on its own thread; one abandoned after
    // it was handed on goes to the reaper. Neither ever ends a later attempt's connect.
    OffThread::run(
        this, wish,
        [open = std::move(open)] {
            Opened opened;
            try {
                opened.handle = open();
            } catch (...) {
                opened.error = std::current_exception();
            }
            return opened;
        },
        [this](Opened opened) { connectEnded(std::move(opened.handle), opened.error); },
        [](Opened opened) { Reaper::dispose(std::move(opened.handle)); });
}

void QueryControl::connectEnded(std::shared_ptr<ConnectionHandle> handle, std::exception_ptr error)
{
    m_connect.settle();
    const ConnectDone done = std::move(m_connectDone);
    m_connectDone = nullptr;
    setState(State::Idle);
    if (done)
        done(std::move(handle), error);
}

QObject *QueryControl::startStatement(const QString &sql, Connection *connection, bool isExec,
    bool wantCount, StatementDone done, StatementDone counting, std::size_t storeBudget,
    std::vector<ParameterValue> parameters)
{
    abandon();
    checkLost(); // told before a statement may open new work on a connection opened again
    StatementJob job;
    job.sql = sql;
    job.alias = connection->DatabaseName;
    job.connection = connection->handle();
    job.isExec = isExec;
    job.wantCount = wantCount;
    job.storeBudget = storeBudget ? storeBudget : m_storeBudget;
    job.autoCommit = m_autoCommit;
    job.parameters = std::move(parameters);
    // Open work never moves to a fresh connection: the statement waits for its own.
    job.keepConnection = m_transaction.holds(job.connection);
    const std::shared_ptr<ConnectionHandle> handle = job.connection;
    const bool inWork = !m_autoCommit && handle;
    if (inWork) {
        m_transaction.noteStatement(connection->DatabaseName, handle);
        emit transactionChanged();
    }
    auto *worker = new TQthread(std::move(job)); // frees itself
    m_connection = connection;
    m_alias = connection->DatabaseName;
    m_isExec = isExec;
    m_workerInWork = inWork;
    m_counting = std::move(counting);
    return launch(
        worker, std::move(done), State::Running, worker->Outcome.result->cancelPoint(), handle);
}

QObject *QueryControl::startFetchToEnd(std::unique_ptr<QueryDataset> result, StatementDone done)
{
    abandon();
    const std::shared_ptr<StatementCancel> cancel = result->cancelPoint();
    const std::shared_ptr<ConnectionHandle> handle = result->connection();
    auto *worker = new TQthread(std::move(result)); // frees itself
    m_connection = nullptr;
    m_isExec = false;
    m_reported = -1;
    m_progressTimer->start();
    return launch(worker, std::move(done), State::FetchingToEnd, cancel, handle);
}

QObject *QueryControl::launch(TQthread *worker, StatementDone done, State state,
    const std::shared_ptr<StatementCancel> &cancel,
    const std::shared_ptr<ConnectionHandle> &connection)
{
    m_worker = worker;
    m_done = std::move(done);
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
    StatementOutcome &outcome = worker->Outcome;
    if (m_state == State::Running && !outcome.isExec && outcome.opened && !outcome.failed()
        && !outcome.counted && m_countWanted) {
        worker->CountLater = true;
        m_inHandBack = true;
        const StatementDone counting = std::move(m_counting);
        m_counting = nullptr;
        setState(State::Counting);
        if (counting && m_worker == worker)
            counting(outcome);
        m_inHandBack = false;
        return;
    }
    const StatementDone done = std::move(m_done);
    forgetWorker();
    checkLost();
    setState(State::Idle);
    if (done)
        done(outcome);
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

void QueryControl::forgetWork()
{
    if (!m_transaction.isOpen())
        return;
    m_transaction.clear();
    emit transactionChanged();
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
    const OffThread::WishPtr ending = m_ending.renew();
    m_endDone = std::move(done);
    m_alias = m_transaction.alias();
    m_endCommit = commit;
    m_endSince = QDateTime::currentDateTime();
    setState(State::Ending);
    if (!m_ending.isCurrent(ending))
        return; // abandoned at once
    const int statements = m_transaction.statements(); // what this end ends
    struct Ended
    {
        bool began = false;
        std::exception_ptr error;
    };
    // Handed back even when called off meanwhile (no wish): what reached the server counts.
    OffThread::run(
        this, nullptr,
        [ending, connection = connection, commit] {
            // The turn may be held by a statement the user cancelled: waited for in short
            // steps, so that Close Query can still call the end off while it has not reached
            // the server.
            bool held = false;
            while (!held && ending->wanted())
                held = connection->acquireUntil(
                    ConnectionHandle::Clock::now() + std::chrono::milliseconds(100));
            Ended ended;
            if (held && ending->wanted()) {
                ended.began = true;
                try {
                    connection->endTransaction(commit);
                } catch (const DatabaseError &failure) {
                    if (OdbcCursor::connectionLost(failure, connection->get()))
                        connection->markLost();
                    ended.error = std::current_exception();
                } catch (...) {
                    ended.error = std::current_exception();
                }
            }
            if (held)
                connection->release();
            return ended; // the last hold, if it is one, disconnects on this thread afterwards
        },
        [this, ending, commit, statements](
            Ended ended) { endEnded(ending, commit, statements, ended.began, ended.error); });
}

void QueryControl::endEnded(const OffThread::WishPtr &ending, bool commit, int statements,
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
        emit workEnded(commit, !m_ending.isCurrent(ending), text, true);
    } else {
        emit workEnded(commit, !m_ending.isCurrent(ending), QString(), false);
    }
    if (!m_ending.isCurrent(ending))
        return;
    m_ending.settle();
    const EndDone done = std::move(m_endDone);
    m_endDone = nullptr;
    setState(State::Idle);
    if (done)
        done(error);
}

void QueryControl::forgetWorker()
{
    m_worker = nullptr;
    m_done = nullptr;
    m_counting = nullptr;
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
    m_connect.drop();
    m_connectDone = nullptr;
    m_ending.drop();
    m_endDone = nullptr;
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
