#include "connection/QueryDatasetImpl.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <utility>

namespace {
constexpr std::size_t AheadBytes = 16 * 1024 * 1024; // rowsets fetched ahead and not yet packed
}

void QueryDataset::Impl::acquire()
{
    if (!connection || !connection->isAlive())
        throw DatabaseError(
            QStringLiteral("Database ") + databaseName + QStringLiteral(" is not connected"));
    connection->acquire();
    holdsTicket = true;
}

void QueryDataset::Impl::finishStatement() noexcept
{
    ahead.reset(); // the statement is its own again; what was fetched ahead goes
    cursor.close();
    if (holdsTicket && connection)
        connection->release();
    holdsTicket = false;
    allFetched = true;
}

void QueryDataset::Impl::fail(const DatabaseError &error)
{
    if (cursor && connection && OdbcCursor::connectionLost(error, connection->get()))
        connection->markLost();
    open = false;
    finishStatement();
    throw error;
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
        if (keepNextResult()) {
            ahead.reset();
            allFetched = true; // this result is whole; the turn goes on with the next
        } else {
            finishStatement(); // the whole result is in the store
        }
        cursor.releaseBuffers(); // the bind buffers are not needed any more
    }
}

bool QueryDataset::Impl::keepNextResult() noexcept
{
    if (!wantsMoreResults || !cursor)
        return false;
    try {
        if (!cursor.nextResult())
            return false;
    } catch (const DatabaseError &) {
        // A later result that fails leaves this one whole; its error is the driver's to tell
        // when the batch runs again on its own.
        return false;
    }
    nextResult = std::make_unique<OdbcCursor>(std::make_shared<StatementCancel>());
    cursor.handOver(*nextResult);
    return true;
}

void QueryDataset::Impl::openResult()
{
    cursor.describe(connection->getDataExtensions());
    std::vector<int> fixed;
    for (const OdbcCursor::Column &column : cursor.columns()) {
        fields.push_back({ column.title, column.type, column.width, column.kind });
        fixed.push_back(ValueText::storedFixedBytes(column.kind));
    }
    store = std::make_shared<ResultStore>(std::move(fixed), storeBudget);
    static std::atomic<std::uint64_t> opened { 0 };
    serial = ++opened;
    cursor.bind();
    allFetched = false;
    open = true;
    fetchBlock();
}

void QueryDataset::Impl::fetchBlock()
{
    if (feed)
        return feedBlock(true);
    if (allFetched || !cursor)
        return;
    if (ahead) {
        std::optional<BlockReader::Item> item = ahead->take();
        if (item) {
            if (item->error) {
                stopAhead();
                failWith(item->error);
            }
            if (item->end)
                ahead.reset(); // its thread has ended
            ResultStore::Block block;
            try {
                block = packed(std::move(item->block));
            } catch (...) {
                ahead.reset(); // nothing after a row that could not be kept
                failWith(std::current_exception());
            }
            storeBlock(std::move(block), item->end);
            return;
        }
        ahead.reset(); // it fetched what was wanted: the rest comes as asked for
    }
    if (pendingError)
        failWith(std::exchange(pendingError, nullptr));
    ResultStore::Block block = store->newBlock(cursor.blockRows());
    bool end = false;
    try {
        end = cursor.readBlock(block);
    } catch (...) {
        failWith(std::current_exception());
    }
    storeBlock(std::move(block), end);
}

void QueryDataset::Impl::feedBlock(bool untilOne)
{
    if (allFetched || !feed)
        return;
    // The UI thread never waits for rows still to come when it only looks ahead (the grid's
    // lazy fetch): it takes what has arrived. Other waits are cut into slices so that a walk
    // sees its stop request and a cancel between them.
    const bool onUiThread = QCoreApplication::instance()
        && QThread::currentThread() == QCoreApplication::instance()->thread();
    const std::chrono::milliseconds slice(untilOne || !onUiThread ? 100 : 0);
    std::vector<ResultStore::Block> blocks;
    bool end = false;
    for (;;) {
        end = feed->take(blocks, slice);
        if (!blocks.empty() || end || !untilOne || cancel->isCancelled())
            break;
    }
    try {
        for (ResultStore::Block &block : blocks)
            storeBlock(std::move(block), false);
    } catch (...) {
        feed->close(); // the rows kept so far stay readable; no more come
        feed.reset();
        throw;
    }
    if (end || cancel->isCancelled()) {
        // Every row arrived, or the result was stopped: it is whole as it stands.
        if (!end)
            feed->close();
        allFetched = true;
    }
}

void QueryDataset::Impl::stopAhead()
{
    if (!ahead)
        return;
    auto fetchedAhead = ahead->stop(); // in fetch order
    ahead.reset();
    for (BlockReader::Item &item : fetchedAhead) {
        if (item.error) {
            pendingError = item.error; // nothing comes after an error
            break;
        }
        ResultStore::Block block;
        try {
            block = packed(std::move(item.block));
        } catch (...) {
            pendingError = std::current_exception();
            break;
        }
        storeBlock(std::move(block), item.end);
    }
}

ResultStore::Block QueryDataset::Impl::packed(OdbcCursor::Rowset &&set)
{
    ResultStore::Block block = store->newBlock(set.rows());
    cursor.packRowset(set, block);
    cursor.recycle(std::move(set));
    return block;
}

QueryDataset::ReadAhead::ReadAhead(QueryDataset &query, int wantedRecords)
    : m_query(query)
{
    Impl &d = *query.d;
    if (d.ahead || d.allFetched || !d.cursor || !d.store || d.pendingError
        || (wantedRecords >= 0 && wantedRecords <= d.fetched))
        return;
    // The thread only fetches; the walk packs. Its rowsets waiting to be packed stay within
    // AheadBytes.
    const std::size_t rowsetBytes = std::max<std::size_t>(d.cursor.rowsetBytes(), 1);
    d.ahead = std::make_unique<Impl::BlockReader>([&d] { return d.cursor.newRowset(); },
        [&d](OdbcCursor::Rowset &set) { return d.cursor.readRowset(set); }, d.fetched,
        wantedRecords, std::clamp<std::size_t>(AheadBytes / rowsetBytes, 1, 4));
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
