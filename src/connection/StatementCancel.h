#pragma once

#include "connection/OdbcHandle.h"

#include <atomic>
#include <mutex>

// The cancel point of one statement, shared (std::shared_ptr) by the thread that runs the
// statement and the thread that may cancel it. The handle is attached only while the driver
// executes the statement: SQLCancel concurrent with SQLFetch is not safe with every driver (the
// SQLite driver frees the result the fetch reads), so a fetch is stopped between blocks by the
// flag. The lock keeps the handle alive until a cancel has returned.
class StatementCancel
{
public:
    // Asks the driver to stop the statement it is executing; a statement that has not started
    // yet never starts, and a fetch over its result stops at the next block. Returns whether
    // the driver took the cancel (true when no statement executes). Any thread.
    bool cancel();
    bool isCancelled() const { return m_cancelled.load(); }

    // The running side, around the execute only: a statement handle about to be executed; false
    // when the statement was cancelled before it began. detach() once the execute returned.
    bool attach(SQLHSTMT statement);
    void detach();

private:
    std::mutex m_mutex;
    SQLHSTMT m_statement = SQL_NULL_HSTMT;
    std::atomic<bool> m_cancelled { false };
};
