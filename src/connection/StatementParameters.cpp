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
    m_values.clear();
}

QVector<ParameterOutput> ParameterBinding::outputs() const
{
    QVector<ParameterOutput> outputs;
    for (std::size_t i = 0; i < m_values.size(); ++i) {
        if (m_values[i].direction == ParameterDirection::In)
            continue;
        ParameterOutput output { m_values[i].name, true, {} };
        const SQLLEN length = m_lengths[i];
        if (length != SQL_NULL_DATA && length >= 0) {
            const std::size_t chars = std::min<std::size_t>(
                std::size_t(length) / sizeof(SQLWCHAR), m_buffers[i].size() - 1);
            output.isNull = false;
            output.text = Odbc::fromWide(m_buffers[i].data(), qsizetype(chars));
        }
        outputs.append(output);
    }
    return outputs;
}

QVector<ProcedureParameter> procedureParameters(
    SQLHDBC connection, const QString &schema, const QString &procedure)
{
    QVector<ProcedureParameter> parameters;
    OdbcHandle statement(SQL_HANDLE_STMT, connection);
    const SQLHSTMT handle = statement.get();
    QString schemaText = schema, procedureText = procedure;
    const SQLRETURN rc = SQLProcedureColumnsW(handle, nullptr, 0,
        schema.isEmpty() ? nullptr : const_cast<SQLWCHAR *>(Odbc::wide(schemaText)),
        schema.isEmpty() ? 0 : SQLSMALLINT(schemaText.size()),
        const_cast<SQLWCHAR *>(Odbc::wide(procedureText)), SQLSMALLINT(procedureText.size()),
        nullptr, 0);
    if (!SQL_SUCCEEDED(rc))
        return parameters;
    const auto text = [handle](SQLUSMALLINT column) {
        SQLWCHAR buffer[256] = {};
        SQLLEN length = 0;
        if (!SQL_SUCCEEDED(SQLGetData(handle, column, SQL_C_WCHAR, buffer, sizeof buffer, &length))
            || length == SQL_NULL_DATA)
            return QString();
        return Odbc::fromWide(buffer,
            qsizetype(std::min<SQLLEN>(length / SQLLEN(sizeof(SQLWCHAR)), std::size(buffer) - 1)));
    };
    while (SQL_SUCCEEDED(SQLFetch(handle))) {
        // 4 COLUMN_NAME, 5 COLUMN_TYPE, 6 DATA_TYPE, 7 TYPE_NAME
        const int kind = text(5).toInt();
        if (kind != SQL_PARAM_INPUT && kind != SQL_PARAM_OUTPUT && kind != SQL_PARAM_INPUT_OUTPUT)
            continue; // result columns and return values are no markers
        ProcedureParameter parameter;
        parameter.name = text(4);
        parameter.direction = kind == SQL_PARAM_OUTPUT ? ParameterDirection::Out
            : kind == SQL_PARAM_INPUT_OUTPUT           ? ParameterDirection::InOut
                                                       : ParameterDirection::In;
        parameter.sqlType = SQLSMALLINT(text(6).toInt());
        parameter.typeName = text(7);
        parameters.append(parameter);
    }
    return parameters;
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
    m_values = values;
    m_buffers.resize(values.size());
    m_lengths.resize(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const ParameterValue &value = values[i];
        const QString &text = value.text;
        std::vector<SQLWCHAR> &buffer = m_buffers[i];
        const bool output = value.direction != ParameterDirection::In;
        // Room for what a procedure hands back: its declared size, else a generous text.
        const std::size_t room = output
            ? std::max<std::size_t>(std::size_t(text.size()),
                int(i) < types.size() && types[int(i)].described && types[int(i)].size > 0
                    ? std::min<std::size_t>(types[int(i)].size, 1 << 20)
                    : 4000)
            : std::size_t(text.size());
        buffer.assign(room + 1, 0);
        std::memcpy(buffer.data(), text.utf16(), std::size_t(text.size()) * sizeof(SQLWCHAR));
        m_lengths[i] = value.isNull || value.direction == ParameterDirection::Out
            ? SQL_NULL_DATA
            : SQLLEN(text.size() * sizeof(SQLWCHAR));

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
        const SQLSMALLINT direction = value.direction == ParameterDirection::Out ? SQL_PARAM_OUTPUT
            : value.direction == ParameterDirection::InOut ? SQL_PARAM_INPUT_OUTPUT
                                                           : SQL_PARAM_INPUT;
        if (output && isCharacterType(sqlType))
            size = std::max<SQLULEN>(size, SQLULEN(room));
        const SQLRETURN rc =
            SQLBindParameter(statement, SQLUSMALLINT(i + 1), direction, SQL_C_WCHAR, sqlType, size,
                digits, buffer.data(), SQLLEN(buffer.size() * sizeof(SQLWCHAR)), &m_lengths[i]);
        if (!SQL_SUCCEEDED(rc))
            throw DatabaseError(QStringLiteral("The value of %1 was refused: %2")
                                    .arg(value.name.isEmpty() ? QString::number(i + 1) : value.name,
                                        Odbc::diagnostics(SQL_HANDLE_STMT, statement)),
                Odbc::sqlState(SQL_HANDLE_STMT, statement));
    }
}
