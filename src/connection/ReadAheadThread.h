#pragma once

#include <QThreadPool>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

// Fills blocks on a thread of its own, a few ahead of whoever takes them, so that the taker's work
// on the blocks it has overlaps the filling of the next ones. The read routine it is given owns
// whatever it reads from (a statement and its bind buffers) while the thread runs; the blocks go
// to the taker in order. Block is any movable type with rows(). Made, used and stopped by one
// thread (the taker's).
//
// The thread is one kept for reuse when one is free: a thread made afresh for every walk fetches
// noticeably slower at first (its heap and caches are cold).
inline QThreadPool &readAheadThreads()
{
    static QThreadPool *pool = [] {
        auto *made = new QThreadPool; // lives as long as the process; its threads expire idle
        made->setExpiryTimeout(60000);
        made->setMaxThreadCount(8);
        return made;
    }();
    return *pool;
}

template <typename Block>
class ReadAheadThread
{
public:
    struct Item
    {
        Block block;
        bool end = false; // the last block of the data
        std::exception_ptr error; // the read failed; nothing follows
    };

    // read fills a block from newBlock() and returns true at the end of the data; it runs until
    // then, until it throws, or until the rows so far (`rows` to begin with) reach `wantedRows`
    // when that is not negative. At most `depth` blocks wait to be taken.
    ReadAheadThread(std::function<Block()> newBlock, std::function<bool(Block &)> read, int rows,
        int wantedRows, std::size_t depth = Depth)
        : m_depth(std::max<std::size_t>(depth, 1))
        , m_newBlock(std::move(newBlock))
        , m_read(std::move(read))
        , m_rows(rows)
        , m_wanted(wantedRows)
    {
        // The end is told through a promise the task owns, so the task touches nothing of this
        // object once the taker may destroy it.
        auto ended = std::make_shared<std::promise<void>>();
        m_ended = ended->get_future();
        auto task = [this, ended] {
            run();
            ended->set_value();
        };
        // Every kept thread busy: a thread of its own, so that a walk never waits for another.
        if (!readAheadThreads().tryStart(task))
            m_thread = std::thread(task);
    }
    ~ReadAheadThread() { stop(); }
    ReadAheadThread(const ReadAheadThread &) = delete;
    ReadAheadThread &operator=(const ReadAheadThread &) = delete;

    // The next block in order; waits until it is read. Nothing once the wanted rows were read
    // and taken.
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

    // Ends the thread once its current block is read; returns the blocks nobody took, in order.
    std::deque<Item> stop()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_ended.wait();
        if (m_thread.joinable())
            m_thread.join();
        return std::exchange(m_items, {});
    }

    static constexpr std::size_t Depth = 4; // blocks read and not yet taken, at most, by default

private:
    void run()
    {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [this] { return m_stopping || m_items.size() < m_depth; });
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

    const std::size_t m_depth;
    std::function<Block()> m_newBlock;
    std::function<bool(Block &)> m_read;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Item> m_items;
    int m_rows; // read so far, by this thread and before it
    const int m_wanted;
    bool m_stopping = false;
    bool m_done = false;
    std::shared_future<void> m_ended; // the reading has ended
    std::thread m_thread; // only when no kept thread was free
};
