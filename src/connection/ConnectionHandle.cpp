#include "connection/ConnectionHandle.h"

#include <algorithm>

namespace {
// How long a cancelled statement may keep its connection before the next one stops waiting.
constexpr std::chrono::milliseconds cancelGrace(2000);
}

ConnectionHandle::ConnectionHandle(
    const QString &dsn, const QString &user, const QString &password, int loginTimeoutSeconds)
    : m_dsn(dsn)
    , m_user(user)
    , m_password(password)
    , m_loginTimeout(std::max(0, loginTimeoutSeconds))
    , m_dbc(SQL_HANDLE_DBC, Odbc::environment())
{
    // Never let a driver show a login dialog of its own.
    SQLSetConnectAttr(m_dbc.get(), SQL_ATTR_QUIET_MODE, nullptr, 0);
    // A server that accepts the connection and never answers must not hold the connect forever.
    SQLSetConnectAttr(m_dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(m_loginTimeout)), 0);
    // SQLConnect parses nothing, so user IDs and passwords may hold ; { } and =. Lengths are
    // given: for SQL_NTS the driver manager converts more characters than the text holds,
    // reading past its end.
    const auto length = [](const QString &text) { return SQLSMALLINT(text.size()); };
    const SQLRETURN rc = SQLConnectW(m_dbc.get(), const_cast<SQLWCHAR *>(Odbc::wide(dsn)),
        length(dsn), const_cast<SQLWCHAR *>(Odbc::wide(user)), length(user),
        const_cast<SQLWCHAR *>(Odbc::wide(password)), length(password));
    Odbc::check(rc, m_dbc);
    if (!SQL_SUCCEEDED(
            SQLGetInfo(m_dbc.get(), SQL_GETDATA_EXTENSIONS, &m_getDataExtensions, 0, nullptr)))
        m_getDataExtensions = 0;
    m_alive.store(true);
}

ConnectionHandle::~ConnectionHandle()
{
    // Failures here cannot be reported to anyone; freeing the handle releases the driver's
    // resources whatever SQLDisconnect said.
    const SQLRETURN rc = SQLDisconnect(m_dbc.get());
    if (!SQL_SUCCEEDED(rc)) {
        // A transaction still open (a driver that keeps cursors in one) blocks the disconnect.
        SQLEndTran(SQL_HANDLE_DBC, m_dbc.get(), SQL_ROLLBACK);
        SQLDisconnect(m_dbc.get());
    }
}

void ConnectionHandle::setAutoCommit(bool on)
{
    const SQLULEN value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
    Odbc::check(SQLSetConnectAttr(m_dbc.get(), SQL_ATTR_AUTOCOMMIT,
                    reinterpret_cast<SQLPOINTER>(value), SQL_IS_UINTEGER),
        m_dbc);
    m_autoCommit = on;
}

void ConnectionHandle::endTransaction(bool commit)
{
    Odbc::check(SQLEndTran(SQL_HANDLE_DBC, m_dbc.get(), commit ? SQL_COMMIT : SQL_ROLLBACK), m_dbc);
}

void ConnectionHandle::acquire()
{
    acquireUntil(Clock::time_point::max());
}

bool ConnectionHandle::acquireUntil(Clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const std::uint64_t ticket = m_nextTicket++;
    m_waiting.push_back(ticket);
    const auto myTurn = [&] { return !m_held && m_waiting.front() == ticket; };
    if (deadline == Clock::time_point::max())
        m_turn.wait(lock, myTurn);
    else if (!m_turn.wait_until(lock, deadline, myTurn)) {
        m_waiting.erase(std::find(m_waiting.begin(), m_waiting.end(), ticket));
        lock.unlock();
        m_turn.notify_all(); // the one behind may be first now
        return false;
    }
    m_waiting.pop_front();
    m_held = true;
    return true;
}

void ConnectionHandle::release()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = false;
        // The cancelled holder is gone: the next one waits by the ordinary rule again.
        m_cancelNoted = false;
        m_holdDeadline = Clock::time_point::max();
    }
    m_turn.notify_all();
}

bool ConnectionHandle::busy()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_held || !m_waiting.empty();
}

void ConnectionHandle::noteCancel(bool accepted)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_held && m_waiting.empty())
        return; // nothing holds the connection any more
    const Clock::time_point deadline = accepted ? Clock::now() + cancelGrace : Clock::now();
    m_holdDeadline = m_cancelNoted ? std::min(m_holdDeadline, deadline) : deadline;
    m_cancelNoted = true;
}

ConnectionHandle::Clock::time_point ConnectionHandle::holdDeadline()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_holdDeadline;
}
