#pragma once

#include "connection/Connection.h"

#include <QString>

#include <memory>

class QueryDataset;

// Holds a PostgreSQL advisory lock on a connection of its own, so that a statement of the program
// that waits for the same lock (waitFor()) runs until the test lets it go: a long statement
// without a race against the clock. The connection uses a data source of PgServer and its login;
// a logout of the program does not end it. UI thread only. Failures throw.
class PgLock
{
public:
    PgLock(const QString &dsn, qint64 key);
    ~PgLock();
    PgLock(const PgLock &) = delete;
    PgLock &operator=(const PgLock &) = delete;

    // Lets the waiting statement go on; the destructor does so too.
    void release();
    // A FROM item that waits for the lock and gives one row: "select 1 as x from " + waitFor(k).
    static QString waitFor(qint64 key);

private:
    qint64 m_key;
    Connection m_connection;
    std::unique_ptr<QueryDataset> m_hold; // keeps the connection open through a logout
};
