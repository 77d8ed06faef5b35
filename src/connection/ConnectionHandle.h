#pragma once

#include "connection/OdbcHandle.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// One open ODBC connection, shared (std::shared_ptr) by its Connection and the datasets that
// run statements on it; disconnected and freed by whoever lets go of it last, on that thread.
//
// Statements on one connection never run at once: some drivers block even the allocation of a
// statement while another one is busy. A dataset takes a ticket from the start of OpenQuery or
// ExecQuery and gives it back when its statement has executed and the cursor reached the end of
// the data, or when it is closed. Tickets are served first come, first served. Only workers wait
// for a ticket, on their own thread: the UI thread reads a dataset only after its worker
// finished, and Run closes the previous result (giving its ticket back) before it starts the
// next worker, so the UI thread never waits here in normal use.
class ConnectionHandle
{
public:
    // Connects to the data source; raises DatabaseError with the driver's diagnostics.
    ConnectionHandle(const QString &dsn, const QString &user, const QString &password);
    ~ConnectionHandle(); // disconnects; never throws
    ConnectionHandle(const ConnectionHandle &) = delete;
    ConnectionHandle &operator=(const ConnectionHandle &) = delete;

    SQLHDBC get() const { return m_dbc.get(); }
    // The driver's SQL_GETDATA_EXTENSIONS: whether SQLGetData works on bound columns and
    // inside a block of rows.
    SQLUINTEGER getDataExtensions() const { return m_getDataExtensions; }
    QString dataSource() const { return m_dsn; }
    // False once a statement saw the connection fail (SQLSTATE class 08).
    bool isAlive() const { return m_alive.load(); }
    void markLost() { m_alive.store(false); }

    // The FIFO lock described above. acquire() blocks until this caller's turn.
    void acquire();
    void release();

private:
    QString m_dsn;
    OdbcHandle m_dbc;
    SQLUINTEGER m_getDataExtensions = 0;
    std::atomic<bool> m_alive { false };

    std::mutex m_mutex;
    std::condition_variable m_turn;
    std::uint64_t m_nextTicket = 0;
    std::uint64_t m_serving = 0;
};
