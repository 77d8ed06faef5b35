#include "connection/ResultFeed.h"

namespace {

std::vector<int> fixedOf(const std::vector<ResultFeed::Column> &columns)
{
    std::vector<int> fixed;
    for (const ResultFeed::Column &column : columns)
        fixed.push_back(ValueText::storedFixedBytes(column.kind));
    return fixed;
}

} // namespace

ResultFeed::ResultFeed(std::vector<Column> columns, std::size_t queueBytes)
    : m_columns(std::move(columns))
    , m_shape(fixedOf(m_columns), 0)
    , m_queueBytes(queueBytes)
{ }

std::vector<int> ResultFeed::fixedBytes() const
{
    return fixedOf(m_columns);
}

bool ResultFeed::push(ResultStore::Block &&block)
{
    const std::size_t bytes = block.bytes();
    std::unique_lock<std::mutex> lock(m_mutex);
    // One block always goes in, however large, so that a wide row never waits for ever.
    m_changed.wait(lock,
        [&] { return m_closed || m_waiting.empty() || m_waitingBytes + bytes <= m_queueBytes; });
    if (m_closed)
        return false;
    m_waiting.push_back(std::move(block));
    m_waitingBytes += bytes;
    m_changed.notify_all();
    return true;
}

void ResultFeed::stopProducers()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_producersStopped = true;
    m_changed.notify_all();
}

void ResultFeed::finish()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished = true;
    m_changed.notify_all();
}

bool ResultFeed::take(std::vector<ResultStore::Block> &out, std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (wait.count() > 0)
        m_changed.wait_for(lock, wait, [&] { return !m_waiting.empty() || m_finished; });
    while (!m_waiting.empty()) {
        out.push_back(std::move(m_waiting.front()));
        m_waiting.pop_front();
    }
    m_waitingBytes = 0;
    m_changed.notify_all(); // room for the producers
    return m_finished;
}

void ResultFeed::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    m_waiting.clear();
    m_waitingBytes = 0;
    m_changed.notify_all();
}

bool ResultFeed::isClosed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
}
