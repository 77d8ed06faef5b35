#pragma once

#include "connection/ResultStore.h"
#include "valuetext/StoredValue.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

// Rows made elsewhere for one dataset (the rows of several statements merged into one result):
// producer threads push whole store blocks, the dataset's owner takes them into its own store.
// Bounded: a push waits while the blocks not yet taken hold more than the queue's bytes, so the
// result stays within its store's budget however fast the producers are. Shared (std::shared_ptr)
// by the producers and the dataset; any thread.
class ResultFeed
{
public:
    struct Column
    {
        QString title;
        int type = 0; // field type code
        int width = 10; // default display width
        ValueText::StoredKind kind = ValueText::StoredKind::Text;
    };

    explicit ResultFeed(std::vector<Column> columns, std::size_t queueBytes = DefaultQueueBytes);
    ResultFeed(const ResultFeed &) = delete;
    ResultFeed &operator=(const ResultFeed &) = delete;

    static constexpr std::size_t DefaultQueueBytes = std::size_t(16) * 1024 * 1024;

    const std::vector<Column> &columns() const { return m_columns; }
    std::vector<int> fixedBytes() const;
    // An empty block for these columns, with room for `rows` rows.
    ResultStore::Block newBlock(int rows) const { return m_shape.newBlock(rows); }

    // Producers: hands a block over, waiting while the queue is full. False once the taker
    // closed the feed: nothing more is wanted, and the block is dropped.
    bool push(ResultStore::Block &&block);
    // No block will come any more.
    void finish();
    // The producers stop: pushes return false from now on, waiting ones at once; the blocks
    // handed over so far stay for the taker.
    void stopProducers();

    // The taker: moves the blocks waiting into `out`, first waiting up to `wait` for one when
    // none waits and the feed is not finished. True when the feed is finished and nothing
    // waits any more: the last rows were taken.
    bool take(std::vector<ResultStore::Block> &out, std::chrono::milliseconds wait);
    // The taker wants no more: pushes return false from now on, waiting ones at once.
    void close();
    bool isClosed() const;

private:
    std::vector<Column> m_columns;
    ResultStore m_shape; // never holds rows: shapes the producers' blocks
    std::size_t m_queueBytes;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<ResultStore::Block> m_waiting;
    std::size_t m_waitingBytes = 0;
    bool m_finished = false;
    bool m_closed = false;
    bool m_producersStopped = false;
};
