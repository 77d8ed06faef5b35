#include "connection/ConnectionHandle.h"

ConnectionHandle::ConnectionHandle(const QString &dsn, const QString &user, const QString &password)
    : m_dsn(dsn)
    , m_dbc(SQL_HANDLE_DBC, Odbc::environment())
{
    // Never let a driver show a login dialog of its own.
    SQLSetConnectAttr(m_dbc.get(), SQL_ATTR_QUIET_MODE, nullptr, 0);
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

void ConnectionHandle::acquire()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const std::uint64_t ticket = m_nextTicket++;
    m_turn.wait(lock, [&] { return m_serving == ticket; });
}

void ConnectionHandle::release()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_serving;
    }
    m_turn.notify_all();
}
