#include "connection/OdbcCursor.h"

#include "connection/DatabaseError.h"
#include "connection/StatementCancel.h"
#include "valuetext/FieldTypes.h"

#include <algorithm>
#include <cstring>
#include <limits>

using ValueText::StoredKind;

namespace {

constexpr std::size_t BindBudgetBytes = 8 * 1024 * 1024; // all bind buffers of one rowset
constexpr SQLULEN MaxBoundChars = 8000; // longer columns come through SQLGetData
constexpr SQLULEN LongBoundChars = 255; // first part of a long column bound in block mode

// Stored date and time values are the bound ODBC structures, byte for byte.
static_assert(sizeof(ValueText::StoredDate) == sizeof(SQL_DATE_STRUCT));
static_assert(sizeof(ValueText::StoredTime) == sizeof(SQL_TIME_STRUCT));

// A column attribute that picks the second of two type codes for one ODBC type.
enum class When { Always, Unsigned, AutoUnique, FixedPrecScale };
// Display widths that depend on the column's size.
constexpr int DeclaredSize = -1; // the declared size; 10 when unknown
constexpr int PrecisionPlusOne = -2; // the precision plus 1; 10 when unknown

// How a column of each ODBC type is shown and kept; the first row whose type and condition fit
// is taken, every other type is Unknown and kept as text.
struct TypeRow
{
    SQLSMALLINT sqlType;
    When when;
    int type;
    StoredKind kind;
    SQLSMALLINT cType;
    int width;
};

using namespace FieldTypes;
constexpr TypeRow TypeTable[] = {
    { SQL_CHAR, When::Always, String, StoredKind::Text, SQL_C_WCHAR, DeclaredSize },
    { SQL_VARCHAR, When::Always, String, StoredKind::Text, SQL_C_WCHAR, DeclaredSize },
    { SQL_WCHAR, When::Always, String, StoredKind::Text, SQL_C_WCHAR, DeclaredSize },
    { SQL_WVARCHAR, When::Always, String, StoredKind::Text, SQL_C_WCHAR, DeclaredSize },
    { SQL_SMALLINT, When::Unsigned, Word, StoredKind::Int64, SQL_C_SBIGINT, 10 },
    { SQL_SMALLINT, When::Always, SmallInt, StoredKind::Int64, SQL_C_SBIGINT, 10 },
    { SQL_TINYINT, When::Unsigned, Word, StoredKind::Int64, SQL_C_SBIGINT, 10 },
    { SQL_TINYINT, When::Always, SmallInt, StoredKind::Int64, SQL_C_SBIGINT, 10 },
    { SQL_INTEGER, When::AutoUnique, AutoInc, StoredKind::Int64, SQL_C_SBIGINT, 10 },
    { SQL_INTEGER, When::Always, Integer, StoredKind::Int64, SQL_C_SBIGINT, 10 },
    { SQL_BIGINT, When::Always, LargeInt, StoredKind::Int64, SQL_C_SBIGINT, 15 },
    { SQL_DECIMAL, When::FixedPrecScale, Currency, StoredKind::Double, SQL_C_DOUBLE, 10 },
    { SQL_DECIMAL, When::Always, BCD, StoredKind::Decimal, SQL_C_CHAR, PrecisionPlusOne },
    { SQL_NUMERIC, When::FixedPrecScale, Currency, StoredKind::Double, SQL_C_DOUBLE, 10 },
    { SQL_NUMERIC, When::Always, BCD, StoredKind::Decimal, SQL_C_CHAR, PrecisionPlusOne },
    { SQL_REAL, When::FixedPrecScale, Currency, StoredKind::Double, SQL_C_DOUBLE, 10 },
    { SQL_REAL, When::Always, Float, StoredKind::Double, SQL_C_DOUBLE, 10 },
    { SQL_FLOAT, When::FixedPrecScale, Currency, StoredKind::Double, SQL_C_DOUBLE, 10 },
    { SQL_FLOAT, When::Always, Float, StoredKind::Double, SQL_C_DOUBLE, 10 },
    { SQL_DOUBLE, When::FixedPrecScale, Currency, StoredKind::Double, SQL_C_DOUBLE, 10 },
    { SQL_DOUBLE, When::Always, Float, StoredKind::Double, SQL_C_DOUBLE, 10 },
    { SQL_TYPE_DATE, When::Always, Date, StoredKind::Date, SQL_C_TYPE_DATE, 10 },
    { SQL_DATE, When::Always, Date, StoredKind::Date, SQL_C_TYPE_DATE, 10 },
    { SQL_TYPE_TIME, When::Always, Time, StoredKind::Time, SQL_C_TYPE_TIME, 10 },
    { SQL_TIME, When::Always, Time, StoredKind::Time, SQL_C_TYPE_TIME, 10 },
    { SQL_TYPE_TIMESTAMP, When::Always, DateTime, StoredKind::Timestamp, SQL_C_TYPE_TIMESTAMP, 18 },
    { SQL_TIMESTAMP, When::Always, DateTime, StoredKind::Timestamp, SQL_C_TYPE_TIMESTAMP, 18 },
    { SQL_BIT, When::Always, Boolean, StoredKind::Bit, SQL_C_BIT, 5 }, // "False" is the longer
    { SQL_LONGVARCHAR, When::Always, Memo, StoredKind::Text, SQL_C_WCHAR, 10 },
    { SQL_WLONGVARCHAR, When::Always, Memo, StoredKind::Text, SQL_C_WCHAR, 10 },
    { SQL_BINARY, When::Always, Bytes, StoredKind::Binary, SQL_C_BINARY, 10 },
    { SQL_VARBINARY, When::Always, VarBytes, StoredKind::Binary, SQL_C_BINARY, 10 },
    { SQL_LONGVARBINARY, When::Always, Blob, StoredKind::Binary, SQL_C_BINARY, 10 },
};
constexpr TypeRow OtherType { 0, When::Always, Unknown, StoredKind::Text, SQL_C_WCHAR, 10 };

const TypeRow &typeRow(SQLSMALLINT sqlType, bool isUnsigned, bool autoUnique, bool fixedPrecScale)
{
    for (const TypeRow &row : TypeTable) {
        const bool fits = row.when == When::Always || (row.when == When::Unsigned && isUnsigned)
            || (row.when == When::AutoUnique && autoUnique)
            || (row.when == When::FixedPrecScale && fixedPrecScale);
        if (row.sqlType == sqlType && fits)
            return row;
    }
    return OtherType;
}

int widthOf(int width, SQLULEN columnSize)
{
    if (width == DeclaredSize)
        return columnSize > 0 && columnSize < SQLULEN(std::numeric_limits<int>::max())
            ? int(columnSize)
            : 10;
    if (width == PrecisionPlusOne)
        return columnSize > 0 && columnSize < 1000 ? int(columnSize) + 1 : 10;
    return width;
}

// Appends UTF-16 text as UTF-8; the store keeps text in its compact 8-bit form.
void appendUtf8(std::vector<char> &out, const char16_t *text, std::size_t length)
{
    std::size_t i = 0;
    while (i < length && text[i] < 0x80)
        ++i;
    const std::size_t used = out.size();
    out.resize(used + i);
    for (std::size_t k = 0; k < i; ++k)
        out[used + k] = char(text[k]);
    if (i < length) {
        const QByteArray rest = QString::fromUtf16(text + i, qsizetype(length - i)).toUtf8();
        out.insert(out.end(), rest.begin(), rest.end());
    }
}

// Lets the cancel point reach the statement handle while the driver executes it, and only then:
// a driver may not survive SQLCancel concurrent with SQLFetch (the SQLite driver frees the
// result that the fetch is reading), so a fetch is stopped between blocks by the flag instead.
class ExecuteWindow
{
public:
    ExecuteWindow(StatementCancel &cancel, SQLHSTMT statement)
        : m_cancel(cancel)
    {
        if (!m_cancel.attach(statement))
            throw DatabaseError(QStringLiteral("The statement was cancelled"),
                QStringLiteral("HY008")); // cancelled before it began: it never reaches the server
    }
    ~ExecuteWindow() { m_cancel.detach(); } // waits for a cancel under way to return
    ExecuteWindow(const ExecuteWindow &) = delete;
    ExecuteWindow &operator=(const ExecuteWindow &) = delete;

private:
    StatementCancel &m_cancel;
};

} // namespace

OdbcCursor::OdbcCursor(std::shared_ptr<StatementCancel> cancel)
    : m_cancel(std::move(cancel))
{ }

void OdbcCursor::execute(
    SQLHDBC connection, const QString &sql, const std::vector<ParameterValue> &values)
{
    m_parameters.clear();
    m_statement = OdbcHandle(SQL_HANDLE_STMT, connection);
    // With its length, so that the driver sees the whole text whatever characters it holds.
    // The empty text keeps SQL_NTS: the driver manager refuses a length of 0. Drivers still
    // read up to a NUL only and would run part of the statement: such a text never goes.
    if (sql.contains(QChar(0)))
        throw DatabaseError(QStringLiteral("The statement holds a NUL character"));
    if (sql.size() > std::numeric_limits<SQLINTEGER>::max())
        throw DatabaseError(QStringLiteral("The statement is too long"));
    SQLRETURN rc;
    const auto text = const_cast<SQLWCHAR *>(Odbc::wide(sql));
    const SQLINTEGER length = sql.isEmpty() ? SQL_NTS : SQLINTEGER(sql.size());
    if (values.empty()) {
        const ExecuteWindow window(*m_cancel, m_statement.get());
        rc = SQLExecDirectW(m_statement.get(), text, length);
    } else {
        const ExecuteWindow window(*m_cancel, m_statement.get());
        Odbc::check(SQLPrepareW(m_statement.get(), text, length), m_statement);
        m_parameters.bind(m_statement.get(), values);
        rc = SQLExecute(m_statement.get());
    }
    Odbc::check(rc, m_statement);
}

bool OdbcCursor::nextResult()
{
    for (;;) {
        SQLRETURN rc;
        {
            const ExecuteWindow window(*m_cancel, m_statement.get());
            rc = SQLMoreResults(m_statement.get());
        }
        if (rc == SQL_NO_DATA)
            return false;
        Odbc::check(rc, m_statement);
        SQLSMALLINT count = 0;
        Odbc::check(SQLNumResultCols(m_statement.get(), &count), m_statement);
        if (count > 0)
            return true;
    }
}

void OdbcCursor::handOver(OdbcCursor &next)
{
    // The bindings and the rows-fetched pointer name this cursor's buffers: none may outlive
    // the hand-over.
    const SQLHSTMT statement = m_statement.get();
    SQLFreeStmt(statement, SQL_UNBIND);
    SQLSetStmtAttr(statement, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    next.m_statement = std::move(m_statement);
    next.m_parameters = std::move(m_parameters);
}

void OdbcCursor::describe(SQLUINTEGER getDataExtensions)
{
    const SQLHSTMT statement = m_statement.get();
    SQLSMALLINT count = 0;
    Odbc::check(SQLNumResultCols(statement, &count), m_statement);
    if (count <= 0)
        throw DatabaseError(
            QStringLiteral("The statement was executed and returned no result set"));
    m_columns.clear();
    m_columns.resize(count);
    bool variable = false;
    for (SQLUSMALLINT i = 1; i <= count; ++i) {
        Column &column = m_columns[i - 1];
        SQLWCHAR name[512];
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT sqlType = 0;
        SQLULEN size = 0;
        SQLSMALLINT digits = 0;
        SQLSMALLINT nullable = 0;
        // SQLDescribeCol rather than SQL_DESC_CONCISE_TYPE: both give the concise type, but the
        // SQLite driver answers the attribute with SQL_CHAR for every text-like column.
        Odbc::check(SQLDescribeColW(statement, i, name, SQLSMALLINT(std::size(name)), &nameLength,
                        &sqlType, &size, &digits, &nullable),
            m_statement);
        column.title = Odbc::fromWide(name, qMin<qsizetype>(nameLength, std::size(name) - 1));
        SQLLEN isUnsigned = 0, autoUnique = 0, fixedPrecScale = 0;
        SQLColAttributeW(statement, i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
        SQLColAttributeW(
            statement, i, SQL_DESC_AUTO_UNIQUE_VALUE, nullptr, 0, nullptr, &autoUnique);
        SQLColAttributeW(
            statement, i, SQL_DESC_FIXED_PREC_SCALE, nullptr, 0, nullptr, &fixedPrecScale);
        if (sqlType == SQL_CHAR || sqlType == SQL_VARCHAR) {
            // SQLite reports DECIMAL(p,s) columns as text; their declared type name tells.
            SQLWCHAR typeName[128] = {};
            SQLSMALLINT typeNameLength = 0;
            SQLColAttributeW(statement, i, SQL_DESC_TYPE_NAME, typeName, sizeof typeName,
                &typeNameLength, nullptr);
            const QString declared =
                QString::fromUtf16(reinterpret_cast<const char16_t *>(typeName))
                    .trimmed()
                    .toLower();
            if (declared.startsWith(QLatin1String("decimal"))
                || declared.startsWith(QLatin1String("numeric")))
                sqlType = SQL_DECIMAL;
        }
        const TypeRow &row = typeRow(
            sqlType, isUnsigned == SQL_TRUE, autoUnique == SQL_TRUE, fixedPrecScale == SQL_TRUE);
        column.type = row.type;
        column.width = widthOf(row.width, size);
        column.kind = row.kind;
        column.cType = row.cType;
        const bool sizeKnown = size > 0 && size <= MaxBoundChars;
        if (const int fixed = ValueText::storedFixedBytes(column.kind)) {
            column.elementBytes =
                column.kind == StoredKind::Timestamp ? sizeof(SQL_TIMESTAMP_STRUCT) : fixed;
        } else {
            variable = true;
            if (column.kind == StoredKind::Decimal) {
                column.elementBytes = SQLLEN(std::max<SQLULEN>(sizeKnown ? size : 0, 40) + 4);
            } else if (column.kind == StoredKind::Binary) {
                column.bound = sizeKnown && column.type != Blob;
                column.elementBytes = SQLLEN(column.bound ? size : LongBoundChars);
            } else { // strings, memos and types we have no better form for: their text
                column.bound = sizeKnown && column.type != Memo;
                column.elementBytes = SQLLEN(((column.bound ? size : LongBoundChars) + 1) * 2);
            }
        }
    }
    // Block fetching needs SQLGetData inside a block for values longer than their buffer; a
    // driver without it gets one row per call, with long values read after each row.
    const bool getDataInBlock =
        (getDataExtensions & SQL_GD_BLOCK) && (getDataExtensions & SQL_GD_BOUND);
    m_blockMode = !variable || getDataInBlock;
    if (m_blockMode)
        for (Column &column : m_columns)
            column.bound = true; // long ones with their first part; the rest comes on demand
}

void OdbcCursor::bind()
{
    // The rowset is sized from a byte budget for all bind buffers together: a wide row gets
    // fewer rows per fetch, never less than one.
    const SQLHSTMT statement = m_statement.get();
    std::size_t rowBytes = 0;
    for (const Column &column : m_columns)
        if (column.bound)
            rowBytes += std::size_t(column.elementBytes) + sizeof(SQLLEN);
    const SQLULEN rows = m_blockMode ? SQLULEN(rowsetRows(rowBytes)) : 1;
    // A read-ahead's rowsets hold as many rows as the budget allows in either mode.
    m_rowsetRows = SQLULEN(rowsetRows(rowBytes));
    m_rowBytes = rowBytes;
    {
        const std::lock_guard<std::mutex> lock(m_pool->mutex);
        m_pool->free.clear(); // the last statement's
        m_pool->largest = 0;
    }
    SQLSetStmtAttr(
        statement, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
    Odbc::check(
        SQLSetStmtAttr(statement, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0),
        m_statement);
    Odbc::check(
        SQLSetStmtAttr(statement, SQL_ATTR_ROWS_FETCHED_PTR, &m_rowsFetched, 0), m_statement);
    // A driver may lower the rowset size (01S02); the end of the data is a rowset shorter than
    // what it accepted.
    m_rowsetSize = rows;
    SQLULEN accepted = 0;
    if (SQL_SUCCEEDED(SQLGetStmtAttr(statement, SQL_ATTR_ROW_ARRAY_SIZE, &accepted, 0, nullptr))
        && accepted >= 1 && accepted <= rows)
        m_rowsetSize = accepted;
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        Column &column = m_columns[i];
        if (!column.bound)
            continue;
        column.buffer.assign(std::size_t(column.elementBytes) * rows, 0);
        column.indicators.assign(rows, 0);
        Odbc::check(SQLBindCol(statement, SQLUSMALLINT(i + 1), column.cType, column.buffer.data(),
                        column.elementBytes, column.indicators.data()),
            m_statement);
    }
    m_boundToOwn = true;
}

bool OdbcCursor::getData(SQLUSMALLINT field, SQLSMALLINT cType, std::vector<char> &out)
{
    // Reads the whole value in pieces; character data comes with a terminator per piece.
    const std::size_t terminator = cType == SQL_C_WCHAR ? 2 : (cType == SQL_C_CHAR ? 1 : 0);
    std::vector<char> piece(32768);
    out.clear();
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(
            m_statement.get(), field, cType, piece.data(), SQLLEN(piece.size()), &indicator);
        if (rc == SQL_NO_DATA)
            return true;
        Odbc::check(rc, m_statement);
        if (indicator == SQL_NULL_DATA)
            return false;
        std::size_t got = piece.size() - terminator;
        if (indicator != SQL_NO_TOTAL && std::size_t(indicator) <= got)
            got = std::size_t(indicator);
        out.insert(out.end(), piece.begin(), piece.begin() + got);
        if (rc == SQL_SUCCESS)
            return true;
    }
}

bool OdbcCursor::overlong(const Column &column, SQLLEN indicator) const
{
    if (indicator == SQL_NULL_DATA || ValueText::storedFixedBytes(column.kind))
        return false;
    const std::size_t room = std::size_t(column.elementBytes)
        - (column.cType == SQL_C_WCHAR       ? 2
                : column.cType == SQL_C_CHAR ? 1
                                             : 0);
    return indicator == SQL_NO_TOTAL || std::size_t(indicator) > room;
}

void OdbcCursor::appendValue(ResultStore::Block &block, std::size_t column, SQLLEN indicator,
    const char *value, const Rowset::Whole *whole) const
{
    const Column &c = m_columns[column];
    const int field = int(column);
    std::size_t length = std::size_t(std::max<SQLLEN>(indicator, 0));
    bool isNull = indicator == SQL_NULL_DATA;
    if (whole) {
        isNull = whole->isNull;
        value = whole->bytes.data();
        length = whole->bytes.size();
    }
    if (isNull) {
        block.addNull(field);
    } else if (c.kind == StoredKind::Timestamp) {
        SQL_TIMESTAMP_STRUCT ts;
        std::memcpy(&ts, value, sizeof ts);
        const ValueText::StoredTimestamp packed { std::int16_t(ts.year), std::uint8_t(ts.month),
            std::uint8_t(ts.day), std::uint8_t(ts.hour), std::uint8_t(ts.minute),
            std::uint8_t(ts.second), std::uint32_t(ts.fraction) };
        block.addValue(field, reinterpret_cast<const char *>(&packed), sizeof packed);
    } else if (c.kind == StoredKind::Text) {
        appendUtf8(block.valueBytes(field), reinterpret_cast<const char16_t *>(value), length / 2);
        block.endValue(field);
    } else {
        const int fixed = ValueText::storedFixedBytes(c.kind);
        block.addValue(field, value, fixed ? std::size_t(fixed) : length);
    }
}

void OdbcCursor::appendRow(ResultStore::Block &block, SQLULEN row)
{
    Rowset::Whole whole;
    bool positioned = false;
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        Column &column = m_columns[i];
        if (!column.bound) {
            whole.isNull = !getData(SQLUSMALLINT(i + 1), column.cType, whole.bytes);
            appendValue(block, i, 0, nullptr, &whole);
            continue;
        }
        const SQLLEN indicator = column.indicators[row];
        const char *value = column.buffer.data() + std::size_t(column.elementBytes) * row;
        if (!overlong(column, indicator)) {
            appendValue(block, i, indicator, value, nullptr);
            continue;
        }
        // Longer than its buffer: read the whole value again.
        if (m_blockMode && !positioned) {
            Odbc::check(SQLSetPos(m_statement.get(), SQLSETPOSIROW(row + 1), SQL_POSITION,
                            SQL_LOCK_NO_CHANGE),
                m_statement);
            positioned = true;
        }
        whole.isNull = !getData(SQLUSMALLINT(i + 1), column.cType, whole.bytes);
        appendValue(block, i, indicator, value, &whole);
    }
    block.endRow();
}

void OdbcCursor::bindOwnBuffers()
{
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        Column &column = m_columns[i];
        if (column.bound)
            Odbc::check(SQLBindCol(m_statement.get(), SQLUSMALLINT(i + 1), column.cType,
                            column.buffer.data(), column.elementBytes, column.indicators.data()),
                m_statement);
    }
    m_boundToOwn = true;
}

bool OdbcCursor::readRowset(Rowset &set)
{
    if (m_cancel->isCancelled())
        throw DatabaseError(QStringLiteral("The statement was cancelled"), QStringLiteral("HY008"));
    const SQLHSTMT statement = m_statement.get();
    const SQLULEN rows = m_blockMode ? m_rowsetSize : m_rowsetRows;
    set.fetched = 0;
    set.wholes.clear();
    if (set.buffers.size() != m_columns.size()) {
        set.buffers.assign(m_columns.size(), {});
        set.indicators.assign(m_columns.size(), {});
    }
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        const Column &column = m_columns[i]; // one not bound comes whole, without a buffer
        set.buffers[i].resize(column.bound ? std::size_t(column.elementBytes) * rows : 0);
        set.indicators[i].resize(rows);
    }
    {
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < set.buffers.size(); ++i)
            bytes += set.buffers[i].capacity() + set.indicators[i].capacity() * sizeof(SQLLEN);
        const std::lock_guard<std::mutex> lock(m_pool->mutex);
        m_pool->largest = std::max(m_pool->largest, bytes);
    }
    if (!m_blockMode)
        return readRows(set);
    // The columns are bound to this rowset's buffers for this fetch only.
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        Odbc::check(SQLBindCol(statement, SQLUSMALLINT(i + 1), m_columns[i].cType,
                        set.buffers[i].data(), m_columns[i].elementBytes, set.indicators[i].data()),
            m_statement);
    m_boundToOwn = false;
    m_rowsFetched = 0;
    const SQLRETURN rc = Odbc::check(SQLFetch(statement), m_statement);
    if (rc == SQL_NO_DATA)
        return true;
    set.fetched = m_rowsFetched;
    for (SQLULEN row = 0; row < set.fetched; ++row) {
        bool positioned = false;
        for (std::size_t i = 0; i < m_columns.size(); ++i) {
            if (!overlong(m_columns[i], set.indicators[i][row]))
                continue;
            if (!positioned) {
                Odbc::check(
                    SQLSetPos(statement, SQLSETPOSIROW(row + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE),
                    m_statement);
                positioned = true;
            }
            Rowset::Whole whole { row, i, false, {} };
            whole.isNull = !getData(SQLUSMALLINT(i + 1), m_columns[i].cType, whole.bytes);
            set.wholes.push_back(std::move(whole));
        }
    }
    return m_rowsFetched < m_rowsetSize;
}

bool OdbcCursor::readRows(Rowset &set)
{
    // One row per call into the cursor's own buffers, each value copied into the rowset's row;
    // values not bound or longer than their buffer are read whole at once.
    if (!m_boundToOwn)
        bindOwnBuffers();
    for (SQLULEN row = 0; row < m_rowsetRows; ++row) {
        if (Odbc::check(SQLFetch(m_statement.get()), m_statement) == SQL_NO_DATA)
            return true;
        for (std::size_t i = 0; i < m_columns.size(); ++i) {
            const Column &column = m_columns[i];
            const SQLLEN indicator = column.bound ? column.indicators[0] : SQL_NO_TOTAL;
            set.indicators[i][row] = indicator;
            if (!column.bound || overlong(column, indicator)) {
                Rowset::Whole whole { row, i, false, {} };
                whole.isNull = !getData(SQLUSMALLINT(i + 1), column.cType, whole.bytes);
                set.wholes.push_back(std::move(whole));
            } else if (indicator != SQL_NULL_DATA) {
                const std::size_t bytes = ValueText::storedFixedBytes(column.kind)
                    ? std::size_t(column.elementBytes)
                    : std::size_t(indicator);
                std::memcpy(set.buffers[i].data() + std::size_t(column.elementBytes) * row,
                    column.buffer.data(), bytes);
            }
        }
        set.fetched = row + 1;
    }
    return false;
}

void OdbcCursor::packRowset(const Rowset &set, ResultStore::Block &block) const
{
    auto whole = set.wholes.begin();
    for (SQLULEN row = 0; row < set.fetched; ++row) {
        for (std::size_t i = 0; i < m_columns.size(); ++i) {
            const SQLLEN indicator = set.indicators[i][row];
            const char *value =
                set.buffers[i].data() + std::size_t(m_columns[i].elementBytes) * row;
            const bool readWhole =
                whole != set.wholes.end() && whole->row == row && whole->column == i;
            appendValue(block, i, indicator, value, readWhole ? &*whole : nullptr);
            if (readWhole)
                ++whole;
        }
        block.endRow();
    }
}

OdbcCursor::Rowset OdbcCursor::newRowset()
{
    const std::lock_guard<std::mutex> lock(m_pool->mutex);
    if (m_pool->free.empty())
        return {};
    Rowset set = std::move(m_pool->free.back());
    m_pool->free.pop_back();
    return set;
}

void OdbcCursor::recycle(Rowset &&set)
{
    set.wholes.clear();
    const std::size_t bytes = rowsetBytes();
    const std::lock_guard<std::mutex> lock(m_pool->mutex);
    // One is always kept; more while they fit the pool's budget.
    if (m_pool->free.empty() || (m_pool->free.size() + 1) * bytes <= PoolBytes)
        m_pool->free.push_back(std::move(set));
}

bool OdbcCursor::readBlock(ResultStore::Block &block)
{
    if (m_cancel->isCancelled())
        throw DatabaseError(QStringLiteral("The statement was cancelled"), QStringLiteral("HY008"));
    if (m_blockMode) {
        if (!m_boundToOwn)
            bindOwnBuffers(); // after a read-ahead that fetched into rowsets of its own
        m_rowsFetched = 0;
        const SQLRETURN rc = Odbc::check(SQLFetch(m_statement.get()), m_statement);
        if (rc != SQL_NO_DATA)
            for (SQLULEN row = 0; row < m_rowsFetched; ++row)
                appendRow(block, row);
        // A short rowset is the last one: the statement ends now rather than at one more
        // round trip, which gives the connection back to others as early as possible.
        return rc == SQL_NO_DATA || m_rowsFetched < m_rowsetSize;
    }
    for (int n = 0; n < BlockRows; ++n) {
        const SQLRETURN rc = Odbc::check(SQLFetch(m_statement.get()), m_statement);
        if (rc == SQL_NO_DATA)
            return true;
        appendRow(block, 0);
    }
    return false;
}

void OdbcCursor::releaseBuffers() noexcept
{
    {
        const std::lock_guard<std::mutex> lock(m_pool->mutex);
        m_pool->free.clear();
    }
    for (Column &column : m_columns) {
        std::vector<char>().swap(column.buffer);
        std::vector<SQLLEN>().swap(column.indicators);
    }
}

std::size_t OdbcCursor::largestRowsetBytes() const
{
    const std::lock_guard<std::mutex> lock(m_pool->mutex);
    return m_pool->largest;
}

std::size_t OdbcCursor::rowsetBytes() const
{
    return m_rowBytes * std::size_t(m_blockMode ? m_rowsetSize : m_rowsetRows);
}

std::size_t OdbcCursor::boundBytes() const
{
    std::size_t bytes = 0;
    for (const Column &column : m_columns)
        bytes += column.buffer.capacity() + column.indicators.capacity() * sizeof(SQLLEN);
    return bytes;
}

std::size_t OdbcCursor::rowsetRows(std::size_t rowBytes)
{
    if (rowBytes == 0)
        return BlockRows;
    return std::clamp<std::size_t>(BindBudgetBytes / rowBytes, 1, BlockRows);
}

bool OdbcCursor::connectionLost(const DatabaseError &error, SQLHDBC connection)
{
    SQLUINTEGER dead = SQL_CD_FALSE;
    return error.sqlState().startsWith(QLatin1String("08"))
        || (SQL_SUCCEEDED(
                SQLGetConnectAttr(connection, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr))
            && dead == SQL_CD_TRUE);
}
