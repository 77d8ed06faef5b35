#pragma once

// The dataset's inside, shared by its source files (QueryDataset.cpp: the statement's life,
// navigation and the values; QueryDatasetFetch.cpp: the statement's turn on its connection,
// blocks into the store, the read-ahead thread of a walk and what becomes of a failed call).
// Nothing outside the dataset includes this.

#include "connection/ConnectionHandle.h"
#include "connection/DatabaseError.h"
#include "connection/OdbcCursor.h"
#include "connection/QueryDataset.h"
#include "connection/ReadAheadThread.h"
#include "connection/ResultFeed.h"
#include "connection/ResultStore.h"
#include "connection/StatementCancel.h"
#include "valuetext/StoredValue.h"

#include <exception>
#include <memory>
#include <vector>

struct QueryDataset::Impl
{
    // What the dataset keeps of a column once described: the names the window uses and how its
    // values are stored.
    struct Field
    {
        QString title;
        int type = FieldTypes::Unknown;
        int width = 10;
        ValueText::StoredKind kind = ValueText::StoredKind::Text;
    };

    // A walk's read-ahead fetches rowsets; the walking thread packs them into store blocks.
    using BlockReader = ReadAheadThread<OdbcCursor::Rowset>;

    QString databaseName;
    QString sql;
    std::vector<ParameterValue> parameters; // bound to the markers in order when it runs
    std::shared_ptr<ConnectionHandle> connection;
    std::shared_ptr<StatementCancel> cancel = std::make_shared<StatementCancel>();
    OdbcCursor cursor { cancel };
    bool holdsTicket = false;
    bool wantsMoreResults = false; // keep the statement's next result at the end of this one
    // The statement moved on to its next result, waiting for takeNextResult; it holds the
    // connection's turn until then.
    std::unique_ptr<OdbcCursor> nextResult;
    bool open = false;
    bool allFetched = true;
    bool eof = true;
    int recNo = -1;
    int fetched = 0;
    std::vector<Field> fields;
    // The fetched rows, from the describe on; shared with the readers of a result fetched whole.
    std::shared_ptr<ResultStore> store;
    std::uint64_t serial = 0;
    std::size_t storeBudget = QueryDataset::DefaultStoreBudget; // given by the dataset's maker
    qint64 affected = -1; // rows the last ExecQuery changed
    std::unique_ptr<BlockReader> ahead; // while a walk fetches ahead
    std::shared_ptr<ResultFeed> feed; // the rows' source when others produce them (openFeed)
    // A fetch error met ahead of the rows taken so far: raised when those rows are asked for,
    // as a fetch of them would have raised it.
    std::exception_ptr pendingError;

    void acquire(); // the connection's turn, or an error when it is not connected
    // Frees the statement, then gives the connection to the next waiting statement.
    void finishStatement() noexcept;
    // A failed call: a lost connection is remembered, the statement is ended, the error
    // goes on to the caller.
    [[noreturn]] void fail(const DatabaseError &error);
    [[noreturn]] void failWith(std::exception_ptr error);
    // Adds a fetched block to the store; at the end of the data ends the statement.
    void storeBlock(ResultStore::Block &&block, bool end);
    // A rowset from the read-ahead thread as a store block; its buffers go back to the pool.
    ResultStore::Block packed(OdbcCursor::Rowset &&set);
    void fetchBlock(); // the next block: from the read-ahead thread when it runs
    // The blocks the feed has for this dataset; untilOne: waits for one (or the feed's end).
    void feedBlock(bool untilOne);
    // The executed statement's columns described and bound, the first block fetched.
    void openResult();
    // At the end of the data: the statement's next result kept when one is wanted and there.
    bool keepNextResult() noexcept;
    // Stops the read-ahead thread and stores what it fetched, in order.
    void stopAhead();
};
