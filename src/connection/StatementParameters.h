#pragma once

#include <QString>
#include <QVector>

#include <sql.h>
#include <sqlext.h>
#include <vector>

// The values of a statement's parameter markers, bound with SQLBindParameter and never spliced
// into the text: a value is data whatever quotes or characters it holds.
enum class ParameterDirection : unsigned char { In, Out, InOut };

struct ParameterValue
{
    QString name; // the marker as the user wrote it (":note", "?1"), for messages
    bool isNull = false;
    QString text; // as typed; the driver converts it to the parameter's type
    ParameterDirection direction = ParameterDirection::In; // a procedure's OUT and INOUT
};

// A value a procedure handed back through an OUT or INOUT parameter.
struct ParameterOutput
{
    QString name;
    bool isNull = true;
    QString text;
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
    // The OUT and INOUT values once the statement has run (and its results are read: drivers
    // may fill them only then), in the order of the markers.
    QVector<ParameterOutput> outputs() const;

private:
    std::vector<std::vector<SQLWCHAR>> m_buffers;
    std::vector<SQLLEN> m_lengths;
    std::vector<ParameterValue> m_values; // names and directions, for outputs()
};

// The parameters of a procedure as the driver's catalog describes them (SQLProcedureColumns):
// name, direction and type, in order; empty when the driver does not say.
struct ProcedureParameter
{
    QString name;
    ParameterDirection direction = ParameterDirection::In;
    QString typeName;
    SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;
};
QVector<ProcedureParameter> procedureParameters(
    SQLHDBC connection, const QString &schema, const QString &procedure);
