#pragma once

#include "connection/OdbcHandle.h"
#include "connection/ResultStore.h"
#include "connection/StatementParameters.h"
#include "valuetext/StoredValue.h"

#include <QString>

#include <memory>
#include <mutex>
#include <vector>

class DatabaseError;
class StatementCancel;

// The ODBC side of one statement: executes it, describes its columns (type code, default width
// and how each value is kept, from one type table), binds them and fetches rowsets packed into
// the blocks of a result store. Owned by its dataset; one thread at a time, except that a
// read-ahead thread may run readBlock while the owner waits for it, or readRowset while the owner
// packs the rowsets read before (packRowset and the rowset pool are safe beside it).
class OdbcCursor
{
public:
    struct Column
    {
        QString title;
        int type = 0; // field type code
        int width = 10; // default display width
        ValueText::StoredKind kind = ValueText::StoredKind::Text;
        bool bound = true; // false: fetched with SQLGetData only
        SQLSMALLINT cType = SQL_C_WCHAR;
        SQLLEN elementBytes = 0; // bytes per row in the bind buffer
        std::vector<char> buffer;
        std::vector<SQLLEN> indicators;
    };

    // One rowset as the driver filled it, in buffers of its own, so that a read-ahead thread
    // only fetches while its taker packs the rowsets before into store blocks. Values longer
    // than their buffer are read whole while their rowset is the current one.
    struct Rowset
    {
        struct Whole
        {
            SQLULEN row = 0;
            std::size_t column = 0;
            bool isNull = false;
            std::vector<char> bytes;
        };
        std::vector<std::vector<char>> buffers; // per column
        std::vector<std::vector<SQLLEN>> indicators;
        SQLULEN fetched = 0;
        std::vector<Whole> wholes; // in row, then column order
        int rows() const { return int(fetched); }
    };

    static constexpr int BlockRows = 1000; // rows per fetch and per block of the store, at most

    explicit OdbcCursor(std::shared_ptr<StatementCancel> cancel);

    // Allocates the statement on the connection and executes it; the cancel point reaches it
    // only while the driver executes. Raises DatabaseError.
    // With values, the statement is prepared and each value bound to its marker in order.
    void execute(
        SQLHDBC connection, const QString &sql, const std::vector<ParameterValue> &values = {});
    // At the end of one result: moves the statement on to its next result that has columns
    // (a batch or a procedure may return several), passing over row counts; false when there is
    // none. Raises DatabaseError.
    bool nextResult();
    // Hands the statement, unbound, with its parameters' buffers to the cursor of the next
    // result; this cursor has none after.
    void handOver(OdbcCursor &next);

    // Describes the result's columns; raises when there is none. getDataExtensions: the
    // connection's SQL_GETDATA_EXTENSIONS, which decide between rowsets and one row per call.
    void describe(SQLUINTEGER getDataExtensions);
    // Binds the columns for rowsets that fit the bind budget.
    void bind();
    // Fetches the next rowset (or up to BlockRows rows one by one) into block; true at the end of
    // the data. A cancelled statement raises DatabaseError (HY008) before it fetches.
    bool readBlock(ResultStore::Block &block);
    // Fetches the next rowset (or rows one by one, as many as a rowset's budget holds) into set's
    // own buffers; true at the end of the data. Raises as readBlock.
    bool readRowset(Rowset &set);
    // Appends the rows of a rowset read by readRowset to block.
    void packRowset(const Rowset &set, ResultStore::Block &block) const;
    // A rowset with buffers from the pool when one is there; recycle gives one back.
    Rowset newRowset();
    void recycle(Rowset &&set);
    // Rows of the next block.
    int blockRows() const { return m_blockMode ? int(m_rowsetSize) : BlockRows; }

    const std::vector<Column> &columns() const { return m_columns; }
    QVector<ParameterOutput> parameterOutputs() const { return m_parameters.outputs(); }
    SQLHSTMT statement() const { return m_statement.get(); }
    explicit operator bool() const { return bool(m_statement); }
    // Frees the statement; releaseBuffers also lets the bind buffers go.
    void close() noexcept { m_statement.reset(); }
    void releaseBuffers() noexcept;
    std::size_t boundBytes() const;
    std::size_t largestRowsetBytes() const; // of readRowset's rowsets since the last bind
    // The buffers of one of readRowset's rowsets, in bytes (at most about the bind budget).
    std::size_t rowsetBytes() const;

    // Whether a failure means that the connection is gone: the error says so, or the driver.
    static bool connectionLost(const DatabaseError &error, SQLHDBC connection);
    // Rows per fetch for bind buffers of rowBytes bytes a row (indicators included): as many as
    // the budget of about 8 MB holds, at least one and at most BlockRows.
    static std::size_t rowsetRows(std::size_t rowBytes);

private:
    void appendRow(ResultStore::Block &block, SQLULEN row);
    // Appends one row's values; a value that is null or longer than its buffer comes from
    // `whole` when the caller read it whole.
    void appendValue(ResultStore::Block &block, std::size_t column, SQLLEN indicator,
        const char *value, const Rowset::Whole *whole) const;
    bool overlong(const Column &column, SQLLEN indicator) const;
    bool getData(SQLUSMALLINT field, SQLSMALLINT cType, std::vector<char> &out);
    bool readRows(Rowset &set); // readRowset's way for one row per call
    void bindOwnBuffers();

    std::shared_ptr<StatementCancel> m_cancel;
    OdbcHandle m_statement;
    ParameterBinding m_parameters; // the bound values' buffers, kept while the statement runs
    std::vector<Column> m_columns;
    bool m_blockMode = true; // a rowset of rows per SQLFetch, else one row per call
    SQLULEN m_rowsFetched = 0;
    SQLULEN m_rowsetSize = 1; // rows per SQLFetch as the driver accepted it
    SQLULEN m_rowsetRows = 1; // rows of one of readRowset's rowsets
    std::size_t m_rowBytes = 0; // bind buffer and indicator bytes of one row
    static constexpr std::size_t PoolBytes = 16 * 1024 * 1024; // rowsets kept for reuse, at most
    bool m_boundToOwn = true; // the columns are bound to m_columns' buffers, not a rowset's
    struct Pool
    {
        std::mutex mutex;
        std::vector<Rowset> free;
        std::size_t largest = 0; // bytes of the largest rowset read into since the last bind
    };
    std::unique_ptr<Pool> m_pool = std::make_unique<Pool>();
};
