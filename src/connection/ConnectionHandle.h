#pragma once

#include "connection/OdbcHandle.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

// One open ODBC connection, shared (std::shared_ptr) by its Connection and the datasets that
// run statements on it; disconnected and freed by whoever lets go of it last, on that thread.
//
// Statements on one connection never run at once: some drivers block even the allocation of a
// statement while another one is busy. A dataset takes a turn from the start of OpenQuery or
// ExecQuery and gives it back when its statement has executed and the cursor reached the end of
// the data, or when it is closed. Turns are served first come, first served. Only workers wait
// for a turn, on their own thread: the UI thread reads a dataset only after its worker
// finished, and Run closes the previous result (giving its turn back) before it starts the
// next worker, so the UI thread never waits here in normal use.
class ConnectionHandle
{
public:
    using Clock = std::chrono::steady_clock;

    // Connects to the data source; raises DatabaseError with the driver's diagnostics. The
    // driver gives up after loginTimeoutSeconds (0: it waits as long as the server takes).
    ConnectionHandle(const QString &dsn, const QString &user, const QString &password,
        int loginTimeoutSeconds = 0);
    ~ConnectionHandle(); // disconnects; never throws
    ConnectionHandle(const ConnectionHandle &) = delete;
    ConnectionHandle &operator=(const ConnectionHandle &) = delete;

    SQLHDBC get() const { return m_dbc.get(); }
    // The driver's SQL_GETDATA_EXTENSIONS: whether SQLGetData works on bound columns and
    // inside a block of rows.
    SQLUINTEGER getDataExtensions() const { return m_getDataExtensions; }
    QString dataSource() const { return m_dsn; }
    // The login this connection was opened with, for a second connection of the same kind.
    QString user() const { return m_user; }
    QString password() const { return m_password; }
    int loginTimeout() const { return m_loginTimeout; }
    // False once a statement saw the connection fail (SQLSTATE class 08).
    bool isAlive() const { return m_alive.load(); }
    void markLost() { m_alive.store(false); }

    // Transactions. With auto-commit off every statement joins the open transaction until
    // endTransaction() commits or rolls it back; turning auto-commit on again commits what is
    // open (ODBC's rule), so the window asks first. Both talk to the server: call them on a
    // worker, holding the turn. Raise DatabaseError.
    void setAutoCommit(bool on);
    bool autoCommit() const { return m_autoCommit; }
    void endTransaction(bool commit);

    // The first-come-first-served turn described above. acquire() blocks until this caller's
    // turn; acquireUntil() gives up at the deadline, leaving the queue as if it never asked.
    void acquire();
    bool acquireUntil(Clock::time_point deadline);
    void release();
    // True while a statement holds the turn or waits for it.
    bool busy();

    // A statement on this connection was cancelled from another thread (accepted: the driver
    // took the cancel), or a partly fetched result was let go of. Until the holder gives the turn
    // back, holdDeadline() is not Clock::time_point::max(): a newcomer with no work open here
    // then takes a connection of its own at once rather than wait for the holder.
    void noteCancel(bool accepted);
    Clock::time_point holdDeadline();

private:
    QString m_dsn;
    QString m_user;
    QString m_password;
    int m_loginTimeout = 0;
    OdbcHandle m_dbc;
    SQLUINTEGER m_getDataExtensions = 0;
    bool m_autoCommit = true; // the ODBC default; changed only by setAutoCommit
    std::atomic<bool> m_alive { false };

    std::mutex m_mutex;
    std::condition_variable m_turn;
    std::uint64_t m_nextTicket = 0;
    std::deque<std::uint64_t> m_waiting; // tickets in the order they asked
    bool m_held = false;
    bool m_cancelNoted = false;
    Clock::time_point m_holdDeadline = Clock::time_point::max();
};
