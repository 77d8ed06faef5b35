#include "connection/QueryDataset.h"

#include "connection/Connection.h"
#include "connection/ConnectionHandle.h"
#include "connection/DatabaseError.h"
#include "connection/OdbcHandle.h"
#include "connection/ResultStore.h"
#include "connection/Session.h"
#include "connection/StatementCancel.h"
#include "valuetext/FetchedText.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

namespace {

constexpr SQLULEN BlockRows = 1000; // rows per fetch and per block of the store, at most
constexpr std::size_t BindBudgetBytes = 8 * 1024 * 1024; // all bind buffers of one rowset
constexpr SQLULEN MaxBoundChars = 8000; // longer columns come through SQLGetData
constexpr SQLULEN LongBoundChars = 255; // first part of a long column bound in block mode

// How a column is fetched and kept. Fixed kinds keep a fixed number of bytes per value;
// Decimal, Text and Binary keep their bytes back to back with end offsets.
enum class Kind { Int64, Double, Date, Time, Timestamp, Bit, Decimal, Text, Binary };

struct PackedTimestamp
{
    std::int16_t year;
    std::uint8_t month, day, hour, minute, second;
    std::uint32_t fraction;
};

int fixedBytes(Kind kind)
{
    switch (kind) {
    case Kind::Int64:
    case Kind::Double:
        return 8;
    case Kind::Date:
        return sizeof(SQL_DATE_STRUCT);
    case Kind::Time:
        return sizeof(SQL_TIME_STRUCT);
    case Kind::Timestamp:
        return sizeof(PackedTimestamp);
    case Kind::Bit:
        return 1;
    default:
        return 0;
    }
}

// The field type code of a column's ODBC type.
int fieldTypeOf(SQLSMALLINT sqlType, bool isUnsigned, bool autoUnique, bool fixedPrecScale)
{
    switch (sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
        return FieldTypes::String;
    case SQL_SMALLINT:
    case SQL_TINYINT:
        return isUnsigned ? FieldTypes::Word : FieldTypes::SmallInt;
    case SQL_INTEGER:
        return autoUnique ? FieldTypes::AutoInc : FieldTypes::Integer;
    case SQL_BIGINT:
        return FieldTypes::LargeInt;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return fixedPrecScale ? FieldTypes::Currency : FieldTypes::BCD;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return fixedPrecScale ? FieldTypes::Currency : FieldTypes::Float;
    case SQL_TYPE_DATE:
    case SQL_DATE:
        return FieldTypes::Date;
    case SQL_TYPE_TIME:
    case SQL_TIME:
        return FieldTypes::Time;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        return FieldTypes::DateTime;
    case SQL_BIT:
        return FieldTypes::Boolean;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
        return FieldTypes::Memo;
    case SQL_BINARY:
        return FieldTypes::Bytes;
    case SQL_VARBINARY:
        return FieldTypes::VarBytes;
    case SQL_LONGVARBINARY:
        return FieldTypes::Blob;
    default:
        return FieldTypes::Unknown;
    }
}

int defaultWidth(int type, SQLULEN columnSize)
{
    switch (type) {
    case FieldTypes::String:
        return columnSize > 0 && columnSize < SQLULEN(std::numeric_limits<int>::max())
            ? int(columnSize)
            : 10;
    case FieldTypes::LargeInt:
        return 15;
    case FieldTypes::BCD:
        return columnSize > 0 && columnSize < 1000 ? int(columnSize) + 1 : 10;
    case FieldTypes::Boolean:
        return 5; // the longer of "True" and "False"
    case FieldTypes::DateTime:
        return 18;
    default:
        return 10;
    }
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

// Decimal digits of a whole number, without a text of their own.
void appendInteger(QString &out, std::int64_t number)
{
    char16_t digits[20];
    int n = 0;
    // Counted in the negative range so that the smallest 64-bit value needs no special case.
    std::int64_t rest = number < 0 ? number : -number;
    do {
        digits[n++] = char16_t(u'0' - rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (number < 0)
        out += QLatin1Char('-');
    char16_t text[20];
    for (int k = 0; k < n; ++k)
        text[k] = digits[n - 1 - k];
    out.append(reinterpret_cast<const QChar *>(text), n);
}

// The store's UTF-8 text appended as UTF-16; plain ASCII, the usual case, without a decoder.
void appendUtf8Text(QString &out, const char *text, std::size_t length)
{
    std::size_t i = 0;
    while (i < length && static_cast<unsigned char>(text[i]) < 0x80)
        ++i;
    if (i == length)
        out += QLatin1String(text, qsizetype(length));
    else
        out += QString::fromUtf8(text, qsizetype(length));
}

struct Column
{
    QString title;
    int type = FieldTypes::Unknown;
    int width = 10;
    Kind kind = Kind::Text;
    bool bound = true; // false: fetched with SQLGetData only
    SQLSMALLINT cType = SQL_C_WCHAR;
    SQLLEN elementBytes = 0; // bytes per row in the bind buffer
    std::vector<char> buffer;
    std::vector<SQLLEN> indicators;
};

// A cancelled statement's error, the same whether the cancel came before the execute, during
// it or between two blocks of its fetch.
DatabaseError cancelledError()
{
    return DatabaseError(QStringLiteral("The statement was cancelled"), QStringLiteral("HY008"));
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
            throw cancelledError(); // cancelled before it began: it never reaches the server
    }
    ~ExecuteWindow() { m_cancel.detach(); } // waits for a cancel under way to return
    ExecuteWindow(const ExecuteWindow &) = delete;
    ExecuteWindow &operator=(const ExecuteWindow &) = delete;

private:
    StatementCancel &m_cancel;
};

// Fetches blocks on a thread of its own, a few ahead of whoever takes them, so that the taker's
// work on the rows it has overlaps the fetching of the next ones. The fetch routine it is given
// owns the statement and its bind buffers while the thread runs; the store stays with the taker.
class ReadAheadThread
{
public:
    struct Item
    {
        ResultStore::Block block;
        bool end = false; // the last block of the data
        std::exception_ptr error; // the fetch failed; nothing follows
    };

    // Fetches until the end of the data, or until the rows so far (`rows` to begin with)
    // reach `wantedRows` when that is not negative.
    ReadAheadThread(std::function<ResultStore::Block()> newBlock,
        std::function<bool(ResultStore::Block &)> read, int rows, int wantedRows)
        : m_newBlock(std::move(newBlock))
        , m_read(std::move(read))
        , m_rows(rows)
        , m_wanted(wantedRows)
        , m_thread([this] { run(); })
    { }
    ~ReadAheadThread() { stop(); }
    ReadAheadThread(const ReadAheadThread &) = delete;
    ReadAheadThread &operator=(const ReadAheadThread &) = delete;

    // The next block in fetch order; waits until it is fetched. Nothing once the wanted rows
    // were fetched and taken.
    std::optional<Item> take()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_items.empty() || m_done; });
        if (m_items.empty())
            return std::nullopt;
        Item item = std::move(m_items.front());
        m_items.pop_front();
        m_changed.notify_all();
        return item;
    }

    // Ends the thread once its current block is fetched; returns the blocks nobody took.
    std::deque<Item> stop()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        return std::exchange(m_items, {});
    }

private:
    static constexpr std::size_t Depth = 4; // blocks fetched and not yet taken, at most

    void run()
    {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [this] { return m_stopping || m_items.size() < Depth; });
                if (m_stopping)
                    break;
            }
            Item item { m_newBlock(), false, nullptr };
            try {
                item.end = m_read(item.block);
            } catch (...) {
                item.error = std::current_exception();
            }
            m_rows += item.block.rows();
            const bool last = item.end || item.error || (m_wanted >= 0 && m_rows >= m_wanted);
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_items.push_back(std::move(item));
            }
            m_changed.notify_all();
            if (last)
                break;
        }
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_changed.notify_all();
    }

    std::function<ResultStore::Block()> m_newBlock;
    std::function<bool(ResultStore::Block &)> m_read;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Item> m_items;
    int m_rows; // fetched so far, by this thread and before it
    const int m_wanted;
    bool m_stopping = false;
    bool m_done = false;
    std::thread m_thread; // last: starts once everything above is made
};

} // namespace

struct QueryDataset::Impl
{
    QString databaseName;
    QString sql;
    std::shared_ptr<ConnectionHandle> connection;
    std::shared_ptr<StatementCancel> cancel = std::make_shared<StatementCancel>();
    OdbcHandle statement;
    bool holdsTicket = false;
    bool open = false;
    bool allFetched = true;
    bool blockMode = true; // a rowset of BlockRows rows per SQLFetch, else one row per call
    bool eof = true;
    int recNo = -1;
    int fetched = 0;
    SQLULEN rowsFetched = 0;
    SQLULEN rowsetSize = 1; // rows per SQLFetch as the driver accepted it
    std::vector<Column> columns;
    std::unique_ptr<ResultStore> store; // the fetched rows, from the describe on
    // The memory budget of the store, read where the dataset is made (the window's thread):
    // a settings object opened on a worker would write out a change the window's thread is
    // half-way through, such as a history save that has removed the old entries.
    std::size_t storeBudget = ResultStore::defaultBudget();
    std::unique_ptr<ReadAheadThread> ahead; // while a walk fetches ahead
    // A fetch error met ahead of the rows taken so far: raised when those rows are asked for,
    // as a fetch of them would have raised it.
    std::exception_ptr pendingError;

    void acquire()
    {
        if (!connection || !connection->isAlive())
            throw DatabaseError(
                QStringLiteral("Database ") + databaseName + QStringLiteral(" is not connected"));
        connection->acquire();
        holdsTicket = true;
    }

    // Frees the statement, then gives the connection to the next waiting statement.
    void finishStatement() noexcept
    {
        ahead.reset(); // the statement is its own again; what was fetched ahead goes
        statement.reset();
        if (holdsTicket && connection)
            connection->release();
        holdsTicket = false;
        allFetched = true;
    }

    // A failed call: a lost connection is remembered, the statement is ended, the error
    // goes on to the caller.
    [[noreturn]] void fail(const DatabaseError &error)
    {
        if (statement && connection) {
            // Either the statement says so or the driver knows its connection is gone.
            SQLUINTEGER dead = SQL_CD_FALSE;
            const QString state = error.sqlState();
            if (state.startsWith(QLatin1String("08"))
                || (SQL_SUCCEEDED(SQLGetConnectAttr(
                        connection->get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr))
                    && dead == SQL_CD_TRUE))
                connection->markLost();
        }
        open = false;
        finishStatement();
        throw error;
    }

    void execute()
    {
        statement = OdbcHandle(SQL_HANDLE_STMT, connection->get());
        // With its length, so that the driver sees the whole text whatever characters it holds.
        // The empty text keeps SQL_NTS: the driver manager refuses a length of 0. Drivers still
        // read up to a NUL only and would run part of the statement: such a text never goes.
        if (sql.contains(QChar(0)))
            throw DatabaseError(QStringLiteral("The statement holds a NUL character"));
        if (sql.size() > std::numeric_limits<SQLINTEGER>::max())
            throw DatabaseError(QStringLiteral("The statement is too long"));
        SQLRETURN rc;
        {
            const ExecuteWindow window(*cancel, statement.get());
            rc = SQLExecDirectW(statement.get(), const_cast<SQLWCHAR *>(Odbc::wide(sql)),
                sql.isEmpty() ? SQL_NTS : SQLINTEGER(sql.size()));
        }
        Odbc::check(rc, statement);
    }

    void describe();
    void bind();
    void fetchBlock();
    // Fetches the next rowset (or rows one by one) into block; true at the end of the data.
    // Touches only the statement and its bind buffers, so it may run on the read-ahead thread.
    bool readBlock(ResultStore::Block &block);
    // Adds a fetched block to the store; at the end of the data ends the statement.
    void storeBlock(ResultStore::Block &&block, bool end);
    [[noreturn]] void failWith(std::exception_ptr error);
    // Stops the read-ahead thread and stores what it fetched, in order.
    void stopAhead();
    void appendRow(ResultStore::Block &block, SQLULEN row);
    bool getData(SQLUSMALLINT field, SQLSMALLINT cType, std::vector<char> &out);
};

void QueryDataset::Impl::describe()
{
    SQLSMALLINT count = 0;
    Odbc::check(SQLNumResultCols(statement.get(), &count), statement);
    if (count <= 0)
        throw DatabaseError(
            QStringLiteral("The statement was executed and returned no result set"));
    columns.clear();
    columns.resize(count);
    bool variable = false;
    bool longData = false;
    for (SQLUSMALLINT i = 1; i <= count; ++i) {
        Column &column = columns[i - 1];
        SQLWCHAR name[512];
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT sqlType = 0;
        SQLULEN size = 0;
        SQLSMALLINT digits = 0;
        SQLSMALLINT nullable = 0;
        // SQLDescribeCol rather than SQL_DESC_CONCISE_TYPE: both give the concise type, but the
        // SQLite driver answers the attribute with SQL_CHAR for every text-like column.
        Odbc::check(SQLDescribeColW(statement.get(), i, name, SQLSMALLINT(std::size(name)),
                        &nameLength, &sqlType, &size, &digits, &nullable),
            statement);
        column.title = Odbc::fromWide(name, qMin<qsizetype>(nameLength, std::size(name) - 1));
        SQLLEN isUnsigned = 0, autoUnique = 0, fixedPrecScale = 0;
        SQLColAttributeW(statement.get(), i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
        SQLColAttributeW(
            statement.get(), i, SQL_DESC_AUTO_UNIQUE_VALUE, nullptr, 0, nullptr, &autoUnique);
        SQLColAttributeW(
            statement.get(), i, SQL_DESC_FIXED_PREC_SCALE, nullptr, 0, nullptr, &fixedPrecScale);
        if (sqlType == SQL_CHAR || sqlType == SQL_VARCHAR) {
            // SQLite reports DECIMAL(p,s) columns as text; their declared type name tells.
            SQLWCHAR typeName[128] = {};
            SQLSMALLINT typeNameLength = 0;
            SQLColAttributeW(statement.get(), i, SQL_DESC_TYPE_NAME, typeName, sizeof typeName,
                &typeNameLength, nullptr);
            const QString declared =
                QString::fromUtf16(reinterpret_cast<const char16_t *>(typeName))
                    .trimmed()
                    .toLower();
            if (declared.startsWith(QLatin1String("decimal"))
                || declared.startsWith(QLatin1String("numeric")))
                sqlType = SQL_DECIMAL;
        }
        column.type = fieldTypeOf(
            sqlType, isUnsigned == SQL_TRUE, autoUnique == SQL_TRUE, fixedPrecScale == SQL_TRUE);
        column.width = defaultWidth(column.type, size);
        const bool sizeKnown = size > 0 && size <= MaxBoundChars;
        switch (column.type) {
        case FieldTypes::SmallInt:
        case FieldTypes::Integer:
        case FieldTypes::Word:
        case FieldTypes::AutoInc:
        case FieldTypes::LargeInt:
            column.kind = Kind::Int64;
            column.cType = SQL_C_SBIGINT;
            break;
        case FieldTypes::Float:
        case FieldTypes::Currency:
            column.kind = Kind::Double;
            column.cType = SQL_C_DOUBLE;
            break;
        case FieldTypes::BCD:
            column.kind = Kind::Decimal;
            column.cType = SQL_C_CHAR;
            column.elementBytes = SQLLEN(std::max<SQLULEN>(sizeKnown ? size : 0, 40) + 4);
            break;
        case FieldTypes::Date:
            column.kind = Kind::Date;
            column.cType = SQL_C_TYPE_DATE;
            break;
        case FieldTypes::Time:
            column.kind = Kind::Time;
            column.cType = SQL_C_TYPE_TIME;
            break;
        case FieldTypes::DateTime:
            column.kind = Kind::Timestamp;
            column.cType = SQL_C_TYPE_TIMESTAMP;
            break;
        case FieldTypes::Boolean:
            column.kind = Kind::Bit;
            column.cType = SQL_C_BIT;
            break;
        case FieldTypes::Bytes:
        case FieldTypes::VarBytes:
        case FieldTypes::Blob:
            column.kind = Kind::Binary;
            column.cType = SQL_C_BINARY;
            column.bound = sizeKnown && column.type != FieldTypes::Blob;
            column.elementBytes = SQLLEN(column.bound ? size : LongBoundChars);
            break;
        default: // strings, memos and types we have no better form for: their text
            column.kind = Kind::Text;
            column.cType = SQL_C_WCHAR;
            column.bound = sizeKnown && column.type != FieldTypes::Memo;
            column.elementBytes = SQLLEN(((column.bound ? size : LongBoundChars) + 1) * 2);
            break;
        }
        if (fixedBytes(column.kind)) {
            column.elementBytes = column.kind == Kind::Timestamp ? sizeof(SQL_TIMESTAMP_STRUCT)
                                                                 : fixedBytes(column.kind);
        } else {
            variable = true;
        }
        longData = longData || !column.bound;
    }
    // Block fetching needs SQLGetData inside a block for values longer than their buffer; a
    // driver without it gets one row per call, with long values read after each row.
    const SQLUINTEGER extensions = connection->getDataExtensions();
    const bool getDataInBlock = (extensions & SQL_GD_BLOCK) && (extensions & SQL_GD_BOUND);
    blockMode = !variable || getDataInBlock;
    if (blockMode)
        for (Column &column : columns)
            column.bound = true; // long ones with their first part; the rest comes on demand
}

void QueryDataset::Impl::bind()
{
    // The rowset is sized from a byte budget for all bind buffers together: a wide row gets
    // fewer rows per fetch, never less than one.
    std::size_t rowBytes = 0;
    for (const Column &column : columns)
        if (column.bound)
            rowBytes += std::size_t(column.elementBytes) + sizeof(SQLLEN);
    const SQLULEN rows = blockMode ? SQLULEN(QueryDataset::rowsetRows(rowBytes)) : 1;
    SQLSetStmtAttr(statement.get(), SQL_ATTR_ROW_BIND_TYPE,
        reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
    Odbc::check(SQLSetStmtAttr(statement.get(), SQL_ATTR_ROW_ARRAY_SIZE,
                    reinterpret_cast<SQLPOINTER>(rows), 0),
        statement);
    Odbc::check(
        SQLSetStmtAttr(statement.get(), SQL_ATTR_ROWS_FETCHED_PTR, &rowsFetched, 0), statement);
    // A driver may lower the rowset size (01S02); the end of the data is a rowset shorter than
    // what it accepted.
    rowsetSize = rows;
    SQLULEN accepted = 0;
    if (SQL_SUCCEEDED(
            SQLGetStmtAttr(statement.get(), SQL_ATTR_ROW_ARRAY_SIZE, &accepted, 0, nullptr))
        && accepted >= 1 && accepted <= rows)
        rowsetSize = accepted;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        Column &column = columns[i];
        if (!column.bound)
            continue;
        column.buffer.assign(std::size_t(column.elementBytes) * rows, 0);
        column.indicators.assign(rows, 0);
        Odbc::check(SQLBindCol(statement.get(), SQLUSMALLINT(i + 1), column.cType,
                        column.buffer.data(), column.elementBytes, column.indicators.data()),
            statement);
    }
}

bool QueryDataset::Impl::getData(SQLUSMALLINT field, SQLSMALLINT cType, std::vector<char> &out)
{
    // Reads the whole value in pieces; character data comes with a terminator per piece.
    const std::size_t terminator = cType == SQL_C_WCHAR ? 2 : (cType == SQL_C_CHAR ? 1 : 0);
    std::vector<char> piece(32768);
    out.clear();
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(
            statement.get(), field, cType, piece.data(), SQLLEN(piece.size()), &indicator);
        if (rc == SQL_NO_DATA)
            return true;
        Odbc::check(rc, statement);
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

void QueryDataset::Impl::appendRow(ResultStore::Block &block, SQLULEN row)
{
    std::vector<char> whole;
    bool positioned = false;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        Column &column = columns[i];
        const int field = int(i);
        const int fixed = fixedBytes(column.kind);
        bool isNull = false;
        const char *value = nullptr;
        std::size_t length = 0;
        if (column.bound) {
            const SQLLEN indicator = column.indicators[row];
            isNull = indicator == SQL_NULL_DATA;
            value = column.buffer.data() + std::size_t(column.elementBytes) * row;
            if (!isNull && !fixed) {
                const std::size_t room = std::size_t(column.elementBytes)
                    - (column.cType == SQL_C_WCHAR       ? 2
                            : column.cType == SQL_C_CHAR ? 1
                                                         : 0);
                if (indicator == SQL_NO_TOTAL || std::size_t(indicator) > room) {
                    // Longer than its buffer: read the whole value again.
                    if (blockMode && !positioned) {
                        Odbc::check(SQLSetPos(statement.get(), SQLSETPOSIROW(row + 1), SQL_POSITION,
                                        SQL_LOCK_NO_CHANGE),
                            statement);
                        positioned = true;
                    }
                    isNull = !getData(SQLUSMALLINT(i + 1), column.cType, whole);
                    value = whole.data();
                    length = whole.size();
                } else {
                    length = std::size_t(indicator);
                }
            }
        } else {
            isNull = !getData(SQLUSMALLINT(i + 1), column.cType, whole);
            value = whole.data();
            length = whole.size();
        }
        if (isNull) {
            block.addNull(field);
        } else if (column.kind == Kind::Timestamp) {
            SQL_TIMESTAMP_STRUCT ts;
            std::memcpy(&ts, value, sizeof ts);
            const PackedTimestamp packed { std::int16_t(ts.year), std::uint8_t(ts.month),
                std::uint8_t(ts.day), std::uint8_t(ts.hour), std::uint8_t(ts.minute),
                std::uint8_t(ts.second), std::uint32_t(ts.fraction) };
            block.addValue(field, reinterpret_cast<const char *>(&packed), sizeof packed);
        } else if (column.kind == Kind::Text) {
            appendUtf8(
                block.valueBytes(field), reinterpret_cast<const char16_t *>(value), length / 2);
            block.endValue(field);
        } else {
            block.addValue(field, value, fixed ? std::size_t(fixed) : length);
        }
    }
    block.endRow();
}

bool QueryDataset::Impl::readBlock(ResultStore::Block &block)
{
    if (cancel->isCancelled())
        throw cancelledError();
    if (blockMode) {
        rowsFetched = 0;
        const SQLRETURN rc = Odbc::check(SQLFetch(statement.get()), statement);
        if (rc != SQL_NO_DATA)
            for (SQLULEN row = 0; row < rowsFetched; ++row)
                appendRow(block, row);
        // A short rowset is the last one: the statement ends now rather than at one more
        // round trip, which gives the connection back to others as early as possible.
        return rc == SQL_NO_DATA || rowsFetched < rowsetSize;
    }
    for (SQLULEN n = 0; n < BlockRows; ++n) {
        const SQLRETURN rc = Odbc::check(SQLFetch(statement.get()), statement);
        if (rc == SQL_NO_DATA)
            return true;
        appendRow(block, 0);
    }
    return false;
}

void QueryDataset::Impl::failWith(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const DatabaseError &databaseError) {
        fail(databaseError);
    } catch (const std::exception &other) {
        fail(DatabaseError(errorText(other))); // a value too large to keep
    }
}

void QueryDataset::Impl::storeBlock(ResultStore::Block &&block, bool end)
{
    try {
        store->append(std::move(block));
    } catch (...) {
        // The disk refused the store's temporary file: the fetch ends here, and what was
        // fetched so far, this block included, stays readable.
        fetched = store->rowCount();
        finishStatement();
        throw;
    }
    fetched = store->rowCount();
    if (end) {
        finishStatement(); // the whole result is in the store
        for (Column &column : columns) { // the bind buffers are not needed any more
            std::vector<char>().swap(column.buffer);
            std::vector<SQLLEN>().swap(column.indicators);
        }
    }
}

void QueryDataset::Impl::fetchBlock()
{
    if (allFetched || !statement)
        return;
    if (ahead) {
        std::optional<ReadAheadThread::Item> item = ahead->take();
        if (item) {
            if (item->error) {
                stopAhead();
                failWith(item->error);
            }
            if (item->end)
                ahead.reset(); // its thread has ended
            storeBlock(std::move(item->block), item->end);
            return;
        }
        ahead.reset(); // it fetched what was wanted: the rest comes as asked for
    }
    if (pendingError) {
        const std::exception_ptr error = pendingError;
        pendingError = nullptr;
        failWith(error);
    }
    ResultStore::Block block = store->newBlock(int(blockMode ? rowsetSize : BlockRows));
    bool end = false;
    try {
        end = readBlock(block);
    } catch (...) {
        failWith(std::current_exception());
    }
    storeBlock(std::move(block), end);
}

void QueryDataset::Impl::stopAhead()
{
    if (!ahead)
        return;
    std::deque<ReadAheadThread::Item> fetchedAhead = ahead->stop();
    ahead.reset();
    for (ReadAheadThread::Item &item : fetchedAhead) {
        if (item.error) {
            pendingError = item.error; // nothing comes after an error
            break;
        }
        storeBlock(std::move(item.block), item.end);
    }
}

QueryDataset::QueryDataset()
    : d(std::make_unique<Impl>())
{ }

QueryDataset::~QueryDataset()
{
    Close(); // never throws: it only frees handles
}

void QueryDataset::setDatabaseName(const QString &name)
{
    d->databaseName = name;
    Connection *connection = Session::instance().FindConnection(name);
    d->connection = connection ? connection->handle() : nullptr;
}

void QueryDataset::setConnection(const QString &name, std::shared_ptr<ConnectionHandle> connection)
{
    d->databaseName = name;
    d->connection = std::move(connection);
}

std::shared_ptr<ConnectionHandle> QueryDataset::connection() const
{
    return d->connection;
}

std::shared_ptr<StatementCancel> QueryDataset::cancelPoint() const
{
    return d->cancel;
}

QString QueryDataset::databaseName() const
{
    return d->databaseName;
}

void QueryDataset::setSql(const QString &sql)
{
    d->sql = sql;
}

QString QueryDataset::sql() const
{
    return d->sql;
}

void QueryDataset::OpenQuery()
{
    Close();
    d->acquire();
    try {
        d->execute();
        d->describe();
        std::vector<int> fixed;
        for (const Column &column : d->columns)
            fixed.push_back(fixedBytes(column.kind));
        d->store = std::make_unique<ResultStore>(std::move(fixed), d->storeBudget);
        d->bind();
        d->allFetched = false;
        d->open = true;
        d->fetchBlock();
    } catch (const DatabaseError &error) {
        d->fail(error);
    }
    d->recNo = d->fetched > 0 ? 0 : -1;
    d->eof = d->fetched == 0;
}

void QueryDataset::ExecQuery()
{
    Close();
    d->acquire();
    try {
        d->execute();
    } catch (const DatabaseError &error) {
        d->fail(error);
    }
    d->finishStatement();
}

int QueryDataset::CountRecords()
{
    while (!d->allFetched)
        d->fetchBlock();
    return d->fetched;
}

bool QueryDataset::IsOpen() const
{
    return d->open;
}

void QueryDataset::Close()
{
    d->ahead.reset(); // what it fetched goes with the rest
    d->pendingError = nullptr;
    d->finishStatement();
    d->open = false;
    d->columns.clear();
    d->store.reset();
    d->fetched = 0;
    d->recNo = -1;
    d->eof = true;
}

QueryDataset::ReadAhead::ReadAhead(QueryDataset &query, int wantedRecords)
    : m_query(query)
{
    Impl &d = *query.d;
    if (d.ahead || d.allFetched || !d.statement || !d.store || d.pendingError
        || (wantedRecords >= 0 && wantedRecords <= d.fetched))
        return;
    d.ahead = std::make_unique<ReadAheadThread>(
        [&d] { return d.store->newBlock(int(d.blockMode ? d.rowsetSize : BlockRows)); },
        [&d](ResultStore::Block &block) { return d.readBlock(block); }, d.fetched, wantedRecords);
}

QueryDataset::ReadAhead::~ReadAhead()
{
    try {
        m_query.d->stopAhead();
    } catch (...) {
        // Storing the rows fetched ahead failed (a full disk) while the walk was already
        // ending on an error of its own, which is the one reported. The statement has ended
        // and the rows stored so far stay readable.
    }
}

void QueryDataset::ReadAhead::finish()
{
    m_query.d->stopAhead();
}

void QueryDataset::GoFirst()
{
    d->recNo = d->fetched > 0 ? 0 : -1;
    d->eof = d->fetched == 0;
}

void QueryDataset::GoNext()
{
    if (d->eof)
        return;
    if (d->recNo + 1 >= d->fetched)
        d->fetchBlock();
    if (d->recNo + 1 < d->fetched)
        ++d->recNo;
    else
        d->eof = true;
}

bool QueryDataset::AtEof() const
{
    return d->eof;
}

int QueryDataset::RecNo() const
{
    return d->recNo;
}

void QueryDataset::setRecNo(int record)
{
    while (record >= d->fetched && !d->allFetched)
        d->fetchBlock();
    if (d->fetched == 0)
        return;
    d->recNo = std::clamp(record, 0, d->fetched - 1);
    d->eof = false;
}

int QueryDataset::fetchedCount() const
{
    return d->fetched;
}

bool QueryDataset::allFetched() const
{
    return d->allFetched;
}

void QueryDataset::fetchMore()
{
    d->fetchBlock();
}

int QueryDataset::FieldCount() const
{
    return int(d->columns.size());
}

QString QueryDataset::FieldTitle(int field) const
{
    return field >= 0 && field < FieldCount() ? d->columns[std::size_t(field)].title : QString();
}

int QueryDataset::FieldType(int field) const
{
    return field >= 0 && field < FieldCount() ? d->columns[std::size_t(field)].type
                                              : int(FieldTypes::Unknown);
}

int QueryDataset::DisplayWidth(int field) const
{
    return field >= 0 && field < FieldCount() ? d->columns[std::size_t(field)].width : 0;
}

void QueryDataset::setDisplayWidth(int field, int width)
{
    if (field >= 0 && field < FieldCount())
        d->columns[std::size_t(field)].width = width;
}

bool QueryDataset::FieldIsNull(int field) const
{
    return isNull(d->recNo, field);
}

QString QueryDataset::FieldString(int field) const
{
    return text(d->recNo, field);
}

bool QueryDataset::appendFieldString(int field, QString &out) const
{
    return appendText(d->recNo, field, out);
}

bool QueryDataset::isNull(int record, int field) const
{
    return !d->store || d->store->isNull(record, field);
}

QString QueryDataset::text(int record, int field) const
{
    QString result;
    if (appendText(record, field, result) && result.isNull())
        result = QString::fromUtf8("", 0); // an empty value, not a NULL one
    return result;
}

bool QueryDataset::appendText(int record, int field, QString &out) const
{
    const char *value = nullptr;
    std::size_t length = 0;
    if (!d->store || !d->store->value(record, field, value, length))
        return false;
    const Column &column = d->columns[std::size_t(field)];
    switch (column.kind) {
    case Kind::Int64: {
        std::int64_t number;
        std::memcpy(&number, value, sizeof number);
        appendInteger(out, number);
        return true;
    }
    case Kind::Double: {
        double number;
        std::memcpy(&number, value, sizeof number);
        ValueText::appendFloatText(out, number);
        return true;
    }
    case Kind::Date: {
        SQL_DATE_STRUCT date;
        std::memcpy(&date, value, sizeof date);
        ValueText::appendDateText(out, date.year, date.month, date.day);
        return true;
    }
    case Kind::Time: {
        SQL_TIME_STRUCT time;
        std::memcpy(&time, value, sizeof time);
        ValueText::appendTimeText(out, time.hour, time.minute, time.second);
        return true;
    }
    case Kind::Timestamp: {
        PackedTimestamp ts;
        std::memcpy(&ts, value, sizeof ts);
        ValueText::appendDateTimeText(
            out, ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second, ts.fraction);
        return true;
    }
    case Kind::Bit:
        out += *value ? QLatin1String("True") : QLatin1String("False");
        return true;
    case Kind::Decimal:
        ValueText::appendDecimalText(out, value, qsizetype(length));
        return true;
    case Kind::Text:
        appendUtf8Text(out, value, length);
        return true;
    case Kind::Binary:
        out += QLatin1String(QByteArray(value, qsizetype(length)).toHex().toUpper());
        return true;
    }
    return true;
}

bool QueryDataset::fieldNumber(int field, double &value) const
{
    const char *data = nullptr;
    std::size_t length = 0;
    if (field < 0 || field >= FieldCount() || d->columns[std::size_t(field)].kind != Kind::Double
        || !d->store || !d->store->value(d->recNo, field, data, length))
        return false;
    std::memcpy(&value, data, sizeof value);
    return true;
}

std::size_t QueryDataset::rowsetRows(std::size_t rowBytes)
{
    if (rowBytes == 0)
        return BlockRows;
    return std::clamp<std::size_t>(BindBudgetBytes / rowBytes, 1, BlockRows);
}

std::size_t QueryDataset::boundBytes() const
{
    std::size_t bytes = 0;
    for (const Column &column : d->columns)
        bytes += column.buffer.capacity() + column.indicators.capacity() * sizeof(SQLLEN);
    return bytes;
}

std::size_t QueryDataset::storeBytes() const
{
    return d->store ? d->store->memoryBytes() : 0;
}

QString QueryDataset::displayText(int record, int field, int maxChars) const
{
    const char *value = nullptr;
    std::size_t length = 0;
    if (!d->store || !d->store->value(record, field, value, length))
        return QString();
    const Kind kind = d->columns[std::size_t(field)].kind;
    if (kind != Kind::Text && kind != Kind::Binary)
        return text(record, field);
    const std::size_t limit = std::size_t(std::max(0, maxChars));
    QString shown;
    bool cut = false;
    if (kind == Kind::Binary) {
        // Two hexadecimal digits per byte.
        const std::size_t bytes = std::min(length, limit / 2);
        shown = QLatin1String(QByteArray(value, qsizetype(bytes)).toHex().toUpper());
        cut = bytes < length;
    } else {
        // A UTF-8 character takes at most four bytes: that many bytes hold the characters shown.
        std::size_t bytes = std::min(length, limit * 4);
        // Not in the middle of a character.
        while (bytes < length && bytes > 0
            && (static_cast<unsigned char>(value[bytes]) & 0xC0) == 0x80)
            --bytes;
        appendUtf8Text(shown, value, bytes);
        cut = bytes < length;
        if (shown.size() > qsizetype(limit)) {
            shown.truncate(qsizetype(limit));
            if (shown.size() > 0 && shown.back().isHighSurrogate())
                shown.chop(1);
            cut = true;
        }
    }
    if (cut)
        shown += QChar(0x2026);
    return shown;
}
