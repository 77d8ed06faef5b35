#include "catalog/CatalogReader.h"

#include "connection/ConnectionHandle.h"
#include "connection/StatementCancel.h"

#include <vector>

using namespace Catalog;

namespace {

// Rows per fetch, and characters kept of a value.
constexpr std::size_t kBlock = 256;
constexpr std::size_t kChars = 1024;

[[noreturn]] void cancelled()
{
    throw DatabaseError(QStringLiteral("The catalog read was cancelled."));
}

// A statement handle of the catalog's connection with the time-out set.
OdbcHandle newStatement(ConnectionHandle &connection, int timeoutSeconds)
{
    OdbcHandle statement(SQL_HANDLE_STMT, connection.get());
    // A driver that cannot time out says so with a warning; the cancel still stops it.
    SQLSetStmtAttr(statement.get(), SQL_ATTR_QUERY_TIMEOUT,
        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeoutSeconds)), 0);
    return statement;
}

// The rows in blocks into bound buffers: one call per block rather than one per value keeps a
// catalog of 10,000 tables within twice what psql takes. A value longer than kChars (a long
// remark) is cut there.
QVector<Row> fetchRows(
    const OdbcHandle &statement, const QVector<int> &picked, const StatementCancel &cancel)
{
    SQLSMALLINT count = 0;
    Odbc::check(SQLNumResultCols(statement.get(), &count), statement);
    QVector<int> wanted = picked;
    if (wanted.isEmpty())
        for (int column = 1; column <= count; ++column)
            wanted << column;
    const std::size_t width = kChars + 1;
    std::vector<std::vector<SQLWCHAR>> buffers(
        wanted.size(), std::vector<SQLWCHAR>(kBlock * width));
    std::vector<std::vector<SQLLEN>> lengths(wanted.size(), std::vector<SQLLEN>(kBlock));
    SQLULEN fetched = 0;
    Odbc::check(SQLSetStmtAttr(statement.get(), SQL_ATTR_ROW_BIND_TYPE,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_BIND_BY_COLUMN)), 0),
        statement);
    Odbc::check(SQLSetStmtAttr(statement.get(), SQL_ATTR_ROW_ARRAY_SIZE,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(kBlock)), 0),
        statement);
    Odbc::check(SQLSetStmtAttr(statement.get(), SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), statement);
    for (int i = 0; i < wanted.size(); ++i)
        Odbc::check(SQLBindCol(statement.get(), SQLUSMALLINT(wanted[i]), SQL_C_WCHAR,
                        buffers[i].data(), SQLLEN(width * sizeof(SQLWCHAR)), lengths[i].data()),
            statement);
    QVector<Row> rows;
    for (;;) {
        if (cancel.isCancelled())
            cancelled();
        fetched = 0;
        if (Odbc::check(SQLFetch(statement.get()), statement) == SQL_NO_DATA)
            break;
        for (SQLULEN r = 0; r < fetched; ++r) {
            Row row;
            row.reserve(wanted.size());
            for (int i = 0; i < wanted.size(); ++i) {
                const SQLLEN length = lengths[i][r];
                if (length == SQL_NULL_DATA) {
                    row << QString();
                    continue;
                }
                const qsizetype chars = length == SQL_NO_TOTAL
                        || length / qsizetype(sizeof(SQLWCHAR)) > qsizetype(kChars)
                    ? qsizetype(kChars)
                    : length / qsizetype(sizeof(SQLWCHAR));
                row << Odbc::fromWide(buffers[i].data() + r * width, chars);
            }
            rows.append(std::move(row));
        }
    }
    return rows;
}

} // namespace

CatalogReader::CatalogReader(std::shared_ptr<ConnectionHandle> connection, int timeoutSeconds,
    std::shared_ptr<StatementCancel> cancel)
    : m_connection(std::move(connection))
    , m_timeout(timeoutSeconds)
    , m_cancel(std::move(cancel))
{
    // The catalog's connection only reads; a driver that does not know the mode ignores it.
    SQLSetConnectAttr(m_connection->get(), SQL_ATTR_ACCESS_MODE,
        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_MODE_READ_ONLY)), 0);
}

Source CatalogReader::source()
{
    if (!m_sourceKnown) {
        SQLWCHAR name[256] = {};
        SQLSMALLINT length = 0;
        Odbc::check(SQLGetInfoW(m_connection->get(), SQL_DBMS_NAME, name, sizeof name, &length),
            SQL_HANDLE_DBC, m_connection->get());
        m_source = sourceOfDbms(Odbc::fromWide(name, length / qsizetype(sizeof(SQLWCHAR))));
        m_sourceKnown = true;
    }
    return m_source;
}

QVector<Row> CatalogReader::query(const QString &sql)
{
    OdbcHandle statement = newStatement(*m_connection, m_timeout);
    if (!m_cancel->attach(statement.get()))
        cancelled();
    const SQLRETURN rc =
        SQLExecDirectW(statement.get(), const_cast<SQLWCHAR *>(Odbc::wide(sql)), SQL_NTS);
    m_cancel->detach();
    Odbc::check(rc, statement);
    return fetchRows(statement, {}, *m_cancel);
}

template <typename Call>
QVector<Row> CatalogReader::catalogRows(Call &&call, const QVector<int> &picked)
{
    OdbcHandle statement = newStatement(*m_connection, m_timeout);
    if (!m_cancel->attach(statement.get()))
        cancelled();
    const SQLRETURN rc = call(statement.get());
    m_cancel->detach();
    Odbc::check(rc, statement);
    return fetchRows(statement, picked, *m_cancel);
}

namespace {

// A name for a catalog function: null for "any".
SQLWCHAR *pattern(const QString &text)
{
    return text.isEmpty() ? nullptr : const_cast<SQLWCHAR *>(Odbc::wide(text));
}

SQLSMALLINT patternLength(const QString &text)
{
    return text.isEmpty() ? 0 : SQL_NTS;
}

} // namespace

QVector<Object> CatalogReader::objects(const Scope &scope)
{
    if (source() != Source::Odbc)
        return objectsOfRows(query(objectsSql(source(), scope)));
    const QStringList schemas = scope.schemas.isEmpty() ? QStringList { QString() } : scope.schemas;
    const QString name = !scope.table.isEmpty() ? scope.table : scope.like;
    const QString types = QStringLiteral("TABLE,VIEW,ALIAS,SYNONYM");
    QVector<Row> rows;
    for (const QString &schema : schemas)
        rows += catalogRows(
            [&](SQLHSTMT statement) {
                return SQLTablesW(statement, nullptr, 0, pattern(schema), patternLength(schema),
                    pattern(name), patternLength(name), const_cast<SQLWCHAR *>(Odbc::wide(types)),
                    SQL_NTS);
            },
            { 2, 3, 4, 5 });
    return objectsOfRows(rows);
}

void CatalogReader::columns(const Scope &scope, QHash<QString, QVector<Column>> &columns,
    QHash<QString, QVector<Index>> &indexes)
{
    if (source() != Source::Odbc) {
        addColumnRows(query(columnsSql(source(), scope)), columns);
        addIndexRows(query(indexesSql(source(), scope)), indexes);
        return;
    }
    // The catalog functions serve one table at a time: no bulk read here.
    if (scope.schemas.size() != 1 || scope.table.isEmpty())
        return;
    const QString schema = scope.schemas.first();
    const QString table = scope.table;
    QVector<Row> rows = catalogRows(
        [&](SQLHSTMT statement) {
            return SQLColumnsW(statement, nullptr, 0, pattern(schema), patternLength(schema),
                pattern(table), patternLength(table), nullptr, 0);
        },
        { 2, 3, 4, 6, 7, 9, 11, 12 });
    const QVector<Row> keys = catalogRows(
        [&](SQLHSTMT statement) {
            return SQLPrimaryKeysW(statement, nullptr, 0, pattern(schema), patternLength(schema),
                pattern(table), patternLength(table));
        },
        { 4, 5 });
    // Into the common layout: NULLABLE 0 is NOT NULL; the key's place from SQLPrimaryKeys.
    for (Row &row : rows) {
        row[6] = row[6] == QLatin1String("0") ? QStringLiteral("N") : QStringLiteral("Y");
        QString keySeq = QStringLiteral("0");
        for (const Row &key : keys)
            if (key.value(0) == row[2])
                keySeq = key.value(1);
        row.insert(7, keySeq);
    }
    addColumnRows(rows, columns);
    QVector<Row> statistics = catalogRows(
        [&](SQLHSTMT statement) {
            return SQLStatisticsW(statement, nullptr, 0, pattern(schema), patternLength(schema),
                pattern(table), patternLength(table), SQL_INDEX_ALL, SQL_QUICK);
        },
        { 2, 3, 6, 4, 9 });
    for (Row &row : statistics)
        row[3] = row[3] == QLatin1String("1") ? QStringLiteral("D") : QStringLiteral("U");
    addIndexRows(statistics, indexes);
}

QString CatalogReader::currentSchema()
{
    const QString sql = currentSchemaSql(source());
    if (sql.isEmpty())
        return QString();
    const QVector<Row> rows = query(sql);
    return rows.isEmpty() || rows.first().isEmpty() ? QString() : rows.first().first().trimmed();
}
