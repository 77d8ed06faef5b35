#include "catalog/RoutineParameters.h"

#include "connection/ConnectionHandle.h"
#include "connection/OdbcHandle.h"
#include "sql/SqlLexer.h"

#include <QHash>

#include <algorithm>
#include <iterator>

namespace Catalog {

namespace {

enum RowColumn {
    SchemaColumn,
    NameColumn,
    SpecificColumn,
    ParmColumn,
    OrdinalColumn,
    RowTypeColumn,
    TypeColumn,
    LengthColumn,
    ScaleColumn,
    RowColumns
};

bool isDb2(const QString &driver)
{
    return Sql::dialectOfDriver(driver) == Sql::Dialect::Db2;
}

// The ODBC type of a DB2 type name, for the prompt's editor; unknown types go as text.
SQLSMALLINT sqlTypeOf(const QString &typeName)
{
    static const QHash<QString, SQLSMALLINT> types {
        { QStringLiteral("SMALLINT"), SQL_SMALLINT },
        { QStringLiteral("INTEGER"), SQL_INTEGER },
        { QStringLiteral("BIGINT"), SQL_BIGINT },
        { QStringLiteral("DECIMAL"), SQL_DECIMAL },
        { QStringLiteral("DECFLOAT"), SQL_DOUBLE },
        { QStringLiteral("REAL"), SQL_REAL },
        { QStringLiteral("DOUBLE"), SQL_DOUBLE },
        { QStringLiteral("DATE"), SQL_TYPE_DATE },
        { QStringLiteral("TIME"), SQL_TYPE_TIME },
        { QStringLiteral("TIMESTAMP"), SQL_TYPE_TIMESTAMP },
        { QStringLiteral("CHARACTER"), SQL_CHAR },
        { QStringLiteral("VARCHAR"), SQL_VARCHAR },
        { QStringLiteral("GRAPHIC"), SQL_WCHAR },
        { QStringLiteral("VARGRAPHIC"), SQL_WVARCHAR },
        { QStringLiteral("CLOB"), SQL_LONGVARCHAR },
    };
    return types.value(typeName, SQL_UNKNOWN_TYPE);
}

// "VARCHAR(20)", "DECIMAL(11,2)", "INTEGER": the type as it was declared.
QString declaredType(const Row &row)
{
    const QString type = row.value(TypeColumn).trimmed();
    if (type == QLatin1String("DECIMAL"))
        return QStringLiteral("%1(%2,%3)")
            .arg(type, row.value(LengthColumn), row.value(ScaleColumn));
    static const QStringList sized { QStringLiteral("CHARACTER"), QStringLiteral("VARCHAR"),
        QStringLiteral("GRAPHIC"), QStringLiteral("VARGRAPHIC"), QStringLiteral("BINARY"),
        QStringLiteral("VARBINARY"), QStringLiteral("CLOB"), QStringLiteral("BLOB"),
        QStringLiteral("DBCLOB") };
    return sized.contains(type) ? QStringLiteral("%1(%2)").arg(type, row.value(LengthColumn))
                                : type;
}

// Every row of a query as text; a catalog answer of a few rows, so one value at a time.
QVector<Row> queryRows(ConnectionHandle &connection, const QString &sql)
{
    OdbcHandle statement(SQL_HANDLE_STMT, connection.get());
    Odbc::check(SQLExecDirectW(statement.get(), const_cast<SQLWCHAR *>(Odbc::wide(sql)), SQL_NTS),
        statement);
    SQLSMALLINT columns = 0;
    Odbc::check(SQLNumResultCols(statement.get(), &columns), statement);
    QVector<Row> rows;
    while (Odbc::check(SQLFetch(statement.get()), statement) != SQL_NO_DATA) {
        Row row;
        for (SQLUSMALLINT column = 1; column <= SQLUSMALLINT(columns); ++column) {
            SQLWCHAR buffer[256] = {};
            SQLLEN length = 0;
            Odbc::check(
                SQLGetData(statement.get(), column, SQL_C_WCHAR, buffer, sizeof buffer, &length),
                statement);
            row << (length == SQL_NULL_DATA
                    ? QString()
                    : Odbc::fromWide(buffer,
                        qsizetype(std::min<SQLLEN>(
                            length / SQLLEN(sizeof(SQLWCHAR)), SQLLEN(std::size(buffer) - 1)))));
        }
        rows << row;
    }
    return rows;
}

} // namespace

QString routineParametersSql(const QString &schema, const QString &name)
{
    const QString inSchema = schema.isEmpty()
        ? QStringLiteral("LOCATE('\"' || P.ROUTINESCHEMA || '\"', CURRENT PATH) > 0")
        : QStringLiteral("P.ROUTINESCHEMA = ") + sqlLiteral(schema);
    const QString order = schema.isEmpty()
        ? QStringLiteral("LOCATE('\"' || P.ROUTINESCHEMA || '\"', CURRENT PATH), ")
        : QString();
    return QStringLiteral(
        "SELECT P.ROUTINESCHEMA, P.ROUTINENAME, P.SPECIFICNAME, P.PARMNAME, P.ORDINAL, P.ROWTYPE, "
        "P.TYPENAME, P.LENGTH, P.SCALE FROM SYSCAT.ROUTINEPARMS P JOIN SYSCAT.ROUTINES R "
        "ON R.ROUTINESCHEMA = P.ROUTINESCHEMA AND R.SPECIFICNAME = P.SPECIFICNAME "
        "WHERE R.ROUTINETYPE = 'P' AND P.ROWTYPE IN ('P', 'O', 'B') AND %1 "
        "AND P.ROUTINENAME = %2 ORDER BY %3P.ROUTINESCHEMA, P.SPECIFICNAME, P.ORDINAL WITH UR")
        .arg(inSchema, sqlLiteral(name), order);
}

QVector<ProcedureParameter> procedureParametersOfRows(const QVector<Row> &rows, int argumentCount)
{
    // The rows come grouped by procedure (its schema and specific name), each group in order.
    QVector<ProcedureParameter> parameters;
    for (int first = 0; first < rows.size();) {
        int end = first;
        const auto same = [&](int at) {
            return rows[at].value(SchemaColumn) == rows[first].value(SchemaColumn)
                && rows[at].value(SpecificColumn) == rows[first].value(SpecificColumn);
        };
        while (end < rows.size() && same(end))
            ++end;
        parameters.clear();
        for (int at = first; at < end; ++at) {
            const Row &row = rows[at];
            if (row.size() < RowColumns)
                continue;
            const QString rowType = row.value(RowTypeColumn).trimmed();
            ProcedureParameter parameter;
            parameter.name = row.value(ParmColumn);
            if (rowType == QLatin1String("O"))
                parameter.direction = ParameterDirection::Out;
            else if (rowType == QLatin1String("B"))
                parameter.direction = ParameterDirection::InOut;
            else if (rowType != QLatin1String("P"))
                continue; // a function's result: no marker takes it
            parameter.typeName = declaredType(row);
            parameter.sqlType = sqlTypeOf(row.value(TypeColumn).trimmed());
            parameters << parameter;
        }
        if (argumentCount < 0 || parameters.size() == argumentCount)
            return parameters;
        first = end;
    }
    return {};
}

QString catalogName(const QString &driver, const QString &written)
{
    if (!isDb2(driver))
        return written;
    if (written.size() >= 2 && written.startsWith(QLatin1Char('"'))
        && written.endsWith(QLatin1Char('"')))
        return written.mid(1, written.size() - 2)
            .replace(QLatin1String("\"\""), QLatin1String("\""));
    return written.toUpper();
}

QVector<ProcedureParameter> callParameters(ConnectionHandle &connection, const QString &driver,
    const QString &schema, const QString &name, int argumentCount)
{
    if (!isDb2(driver))
        return procedureParameters(connection.get(), schema, name);
    QVector<Row> rows;
    try {
        rows = queryRows(connection, routineParametersSql(schema, name));
    } catch (const DatabaseError &) {
        // A DB2 without SYSCAT views (for z/OS, for i): its driver's catalog function serves.
        return procedureParameters(connection.get(), schema, name);
    }
    return procedureParametersOfRows(rows, argumentCount);
}

} // namespace Catalog
