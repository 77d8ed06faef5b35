#pragma once

#include "connection/DatabaseError.h"

#include <QString>
#include <QVector>

#include <sql.h>
#include <sqlext.h>

// An owned ODBC handle of one type; frees it on destruction. Moves, never copies.
class OdbcHandle
{
public:
    OdbcHandle() = default;
    // Allocates a handle of that type under the parent; raises DatabaseError on failure.
    OdbcHandle(SQLSMALLINT type, SQLHANDLE parent);
    ~OdbcHandle() { reset(); }
    OdbcHandle(OdbcHandle &&other) noexcept;
    OdbcHandle &operator=(OdbcHandle &&other) noexcept;
    OdbcHandle(const OdbcHandle &) = delete;
    OdbcHandle &operator=(const OdbcHandle &) = delete;

    SQLHANDLE get() const { return m_handle; }
    SQLSMALLINT type() const { return m_type; }
    explicit operator bool() const { return m_handle != SQL_NULL_HANDLE; }
    void reset() noexcept;

private:
    SQLSMALLINT m_type = 0;
    SQLHANDLE m_handle = SQL_NULL_HANDLE;
};

namespace Odbc {

// The program's one environment handle (ODBC 3), created on first use and kept until exit.
SQLHENV environment();

// Every diagnostic record of the handle, in order, one per line, trailing white space trimmed.
QString diagnostics(SQLSMALLINT handleType, SQLHANDLE handle);
// The same records one by one, with their SQLSTATE and native code.
QVector<DiagnosticRecord> diagnosticRecords(SQLSMALLINT handleType, SQLHANDLE handle);
// The SQLSTATE of the handle's first diagnostic record, or empty.
QString sqlState(SQLSMALLINT handleType, SQLHANDLE handle);

// Passes success, SQL_NO_DATA and SQL_NEED_DATA through; raises DatabaseError with the handle's
// diagnostics on failure.
SQLRETURN check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle);
inline SQLRETURN check(SQLRETURN rc, const OdbcHandle &handle)
{
    return check(rc, handle.type(), handle.get());
}

// UTF-16 text for the wide API (unixODBC's SQLWCHAR is 16 bits).
inline const SQLWCHAR *wide(const QString &text)
{
    static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC wide characters must be UTF-16");
    return reinterpret_cast<const SQLWCHAR *>(text.utf16());
}
inline QString fromWide(const SQLWCHAR *text, qsizetype length)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t *>(text), length);
}

} // namespace Odbc
