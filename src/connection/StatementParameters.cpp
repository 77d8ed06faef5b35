#include "connection/StatementParameters.h"

#include "connection/OdbcHandle.h"

#include <algorithm>
#include <cstring>

namespace {

bool isCharacterType(SQLSMALLINT type)
{
    switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
        return true;
    default:
        return false;
    }
}

// Beyond this a value goes as a long type: drivers cap their plain character types.
constexpr SQLULEN PlainTextLimit = 4000;

} // namespace

QVector<ParameterType> describeParameters(SQLHSTMT statement)
{
    SQLSMALLINT count = 0;
    if (!SQL_SUCCEEDED(SQLNumParams(statement, &count)) || count <= 0)
        return {};
    QVector<ParameterType> types(count);
    for (SQLUSMALLINT i = 1; i <= SQLUSMALLINT(count); ++i) {
        ParameterType &type = types[i - 1];
        type.described = SQL_SUCCEEDED(SQLDescribeParam(
            statement, i, &type.sqlType, &type.size, &type.digits, &type.nullable));
        if (!type.described)
            type = {};
    }
    return types;
}

void ParameterBinding::clear() noexcept
{
    m_buffers.clear();
    m_lengths.clear();
}

void ParameterBinding::bind(SQLHSTMT statement, const std::vector<ParameterValue> &values)
{
    clear();
    SQLSMALLINT count = 0;
    if (SQL_SUCCEEDED(SQLNumParams(statement, &count)) && count != SQLSMALLINT(values.size()))
        throw DatabaseError(QStringLiteral("The statement takes %1 values, %2 were given")
                                .arg(count)
                                .arg(values.size()),
            QStringLiteral("07002"));
    const QVector<ParameterType> types = describeParameters(statement);
    m_buffers.resize(values.size());
    m_lengths.resize(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const ParameterValue &value = values[i];
        const QString &text = value.text;
        std::vector<SQLWCHAR> &buffer = m_buffers[i];
        buffer.resize(std::size_t(text.size()) + 1);
        std::memcpy(buffer.data(), text.utf16(), std::size_t(text.size()) * sizeof(SQLWCHAR));
        buffer.back() = 0;
        m_lengths[i] = value.isNull ? SQL_NULL_DATA : SQLLEN(text.size() * sizeof(SQLWCHAR));

        const ParameterType described = int(i) < types.size() ? types[int(i)] : ParameterType {};
        const SQLULEN length = std::max<SQLULEN>(1, SQLULEN(text.size()));
        SQLSMALLINT sqlType = described.sqlType;
        SQLULEN size = described.size;
        SQLSMALLINT digits = described.digits;
        if (!described.described || sqlType == SQL_UNKNOWN_TYPE || isCharacterType(sqlType)) {
            // Text as wide text, sized to the value so that nothing is cut short.
            sqlType = length > PlainTextLimit ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
            size = std::max(length, described.described ? described.size : 0);
            digits = 0;
        }
        const SQLRETURN rc = SQLBindParameter(statement, SQLUSMALLINT(i + 1), SQL_PARAM_INPUT,
            SQL_C_WCHAR, sqlType, size, digits, buffer.data(),
            SQLLEN(buffer.size() * sizeof(SQLWCHAR)), &m_lengths[i]);
        if (!SQL_SUCCEEDED(rc))
            throw DatabaseError(QStringLiteral("The value of %1 was refused: %2")
                                    .arg(value.name.isEmpty() ? QString::number(i + 1) : value.name,
                                        Odbc::diagnostics(SQL_HANDLE_STMT, statement)),
                Odbc::sqlState(SQL_HANDLE_STMT, statement));
    }
}
