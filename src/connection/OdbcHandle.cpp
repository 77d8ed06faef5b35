#include "connection/OdbcHandle.h"

#include "connection/DatabaseError.h"

#include <QStringList>

#include <utility>
#include <vector>

OdbcHandle::OdbcHandle(SQLSMALLINT type, SQLHANDLE parent)
    : m_type(type)
{
    const SQLRETURN rc = SQLAllocHandle(type, parent, &m_handle);
    if (!SQL_SUCCEEDED(rc)) {
        m_handle = SQL_NULL_HANDLE;
        // The parent holds the reason (the environment has no parent to ask).
        if (parent != SQL_NULL_HANDLE) {
            const SQLSMALLINT parentType =
                type == SQL_HANDLE_STMT ? SQL_HANDLE_DBC : SQL_HANDLE_ENV;
            Odbc::check(SQL_ERROR, parentType, parent);
        }
        throw DatabaseError(QStringLiteral("Cannot allocate an ODBC handle"));
    }
}

OdbcHandle::OdbcHandle(OdbcHandle &&other) noexcept
    : m_type(other.m_type)
    , m_handle(std::exchange(other.m_handle, nullptr))
{ }

OdbcHandle &OdbcHandle::operator=(OdbcHandle &&other) noexcept
{
    if (this != &other) {
        reset();
        m_type = other.m_type;
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

void OdbcHandle::reset() noexcept
{
    // A failing free leaves nothing we could do about it; the handle is gone either way.
    if (m_handle != SQL_NULL_HANDLE)
        SQLFreeHandle(m_type, m_handle);
    m_handle = SQL_NULL_HANDLE;
}

namespace Odbc {

SQLHENV environment()
{
    // Created once, thread-safely, and never freed: connections may outlive static objects
    // at exit, and freeing the environment before them would fail anyway.
    static const SQLHENV env = [] {
        SQLHENV handle = SQL_NULL_HANDLE;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle)))
            throw DatabaseError(QStringLiteral("Cannot allocate the ODBC environment"));
        check(SQLSetEnvAttr(handle, SQL_ATTR_ODBC_VERSION,
                  reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(SQL_OV_ODBC3)), 0),
            SQL_HANDLE_ENV, handle);
        return handle;
    }();
    return env;
}

QVector<DiagnosticRecord> diagnosticRecords(SQLSMALLINT handleType, SQLHANDLE handle)
{
    QVector<DiagnosticRecord> records;
    for (SQLSMALLINT record = 1;; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLRETURN rc =
            SQLGetDiagRecW(handleType, handle, record, state, &native, nullptr, 0, &length);
        if (!SQL_SUCCEEDED(rc))
            break;
        std::vector<SQLWCHAR> message(length + 1);
        rc = SQLGetDiagRecW(handleType, handle, record, state, &native, message.data(),
            SQLSMALLINT(message.size()), &length);
        if (!SQL_SUCCEEDED(rc))
            break;
        QString text = fromWide(message.data(), qMin<qsizetype>(length, message.size() - 1));
        while (!text.isEmpty() && text.back().isSpace())
            text.chop(1);
        records.append({ fromWide(state, 5), int(native), text });
    }
    return records;
}

QString joinedMessages(const QVector<DiagnosticRecord> &records)
{
    QStringList messages;
    for (const DiagnosticRecord &record : records)
        messages << record.message;
    return messages.join(QLatin1Char('\n'));
}

QString diagnostics(SQLSMALLINT handleType, SQLHANDLE handle)
{
    return joinedMessages(diagnosticRecords(handleType, handle));
}

QString sqlState(SQLSMALLINT handleType, SQLHANDLE handle)
{
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR message[2];
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRecW(handleType, handle, 1, state, &native, message, 2, &length);
    return SQL_SUCCEEDED(rc) ? fromWide(state, 5) : QString();
}

SQLRETURN check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle)
{
    if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA || rc == SQL_NEED_DATA)
        return rc;
    if (rc == SQL_INVALID_HANDLE)
        throw DatabaseError(QStringLiteral("Invalid ODBC handle"));
    QVector<DiagnosticRecord> records = diagnosticRecords(handleType, handle);
    QString text = joinedMessages(records);
    if (text.isEmpty())
        text = QStringLiteral("ODBC call failed");
    throw DatabaseError(text, std::move(records));
}

} // namespace Odbc
