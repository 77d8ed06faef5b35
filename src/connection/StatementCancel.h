#pragma once

#include "connection/OdbcHandle.h"

#include <atomic>
#include <mutex>

// The cancel point of one statement, shared (std::shared_ptr) by the thread that runs the
// statement and the thread that may cancel it. ODBC allows SQLCancel from another thread on a
// statement that one thread executes or fetches; the lock keeps the handle alive until the
// cancel has returned, so the running side never frees it under the cancelling one.
class StatementCancel
{
public:
    // Asks the driver to stop the statement now running; a statement that has not started
    // yet never starts, and a walk over its result stops at the next block. Returns whether
    // the driver took the cancel (true when no statement runs). Any thread.
    bool cancel();
    bool isCancelled() const { return m_cancelled.load(); }

    // The running side: a statement handle about to run; false when the statement was
    // cancelled before it began. detach() before the handle is freed.
    bool attach(SQLHSTMT statement);
    void detach();

private:
    std::mutex m_mutex;
    SQLHSTMT m_statement = SQL_NULL_HSTMT;
    std::atomic<bool> m_cancelled { false };
};
