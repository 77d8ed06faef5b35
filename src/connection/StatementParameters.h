#pragma once

#include <QString>
#include <QVector>

#include <sql.h>
#include <sqlext.h>
#include <vector>

// The values of a statement's parameter markers, bound with SQLBindParameter and never spliced
// into the text: a value is data whatever quotes or characters it holds.
struct ParameterValue
{
    QString name; // the marker as the user wrote it (":note", "?1"), for messages
    bool isNull = false;
    QString text; // as typed; the driver converts it to the parameter's type
};

// What the driver says a parameter takes (SQLDescribeParam), or that it could not say.
struct ParameterType
{
    SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
    bool described = false;
};

// The parameters of a prepared statement, as the driver describes them; a parameter it cannot
// describe comes back with described false (the caller asks for text then).
QVector<ParameterType> describeParameters(SQLHSTMT statement);

// Binds text values to a prepared statement and keeps their buffers until the statement has
// run. Every value goes as UTF-16 text, so that values of any length and any character (beyond
// the Basic Multilingual Plane too) reach the driver whole; the parameter's SQL type is the one
// the driver described, else a character type wide enough for the value.
class ParameterBinding
{
public:
    // Raises DatabaseError naming the marker when the driver refuses a value, and when the
    // statement takes another number of values than given.
    void bind(SQLHSTMT statement, const std::vector<ParameterValue> &values);
    void clear() noexcept;

private:
    std::vector<std::vector<SQLWCHAR>> m_buffers;
    std::vector<SQLLEN> m_lengths;
};
