#include "connection/ResultStore.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A block in memory and in the file is one piece: a header with three offsets per column (its
// null bits, its end offsets or 0 for a fixed size, its value bytes), then those parts.
constexpr std::size_t OffsetsPerColumn = 3;

std::uint32_t readU32(const char *at)
{
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void tooLarge()
{
    throw std::runtime_error("The result is too large to keep");
}

} // namespace

void ResultStore::Block::startValue(Column &column)
{
    const int row = m_rows;
    if (row % 8 == 0)
        column.nulls.push_back(0);
}

void ResultStore::Block::addNull(int column)
{
    Column &c = m_columns[std::size_t(column)];
    startValue(c);
    c.nulls.back() |= std::uint8_t(1u << (m_rows % 8));
    if (c.fixed)
        c.bytes.insert(c.bytes.end(), std::size_t(c.fixed), 0);
    else
        c.ends.push_back(std::uint32_t(c.bytes.size()));
}

void ResultStore::Block::addValue(int column, const char *data, std::size_t length)
{
    Column &c = m_columns[std::size_t(column)];
    if (c.fixed) {
        startValue(c);
        c.bytes.insert(c.bytes.end(), data, data + c.fixed);
        return;
    }
    c.bytes.insert(c.bytes.end(), data, data + length);
    endValue(column);
}

void ResultStore::Block::endValue(int column)
{
    Column &c = m_columns[std::size_t(column)];
    startValue(c);
    if (c.bytes.size() > std::numeric_limits<std::uint32_t>::max() / 2)
        tooLarge();
    c.ends.push_back(std::uint32_t(c.bytes.size()));
}

std::size_t ResultStore::Block::bytes() const
{
    std::size_t total = m_columns.size() * OffsetsPerColumn * sizeof(std::uint32_t);
    for (const Column &c : m_columns)
        total += c.nulls.size() + c.ends.size() * sizeof(std::uint32_t) + c.bytes.size();
    return total;
}

ResultStore::ResultStore(
    std::vector<int> fixedBytes, std::size_t budgetBytes, const QString &folder)
    : m_fixed(std::move(fixedBytes))
    , m_budget(budgetBytes)
    , m_folder(folder)
{ }

ResultStore::~ResultStore()
{
    if (m_file >= 0)
        ::close(m_file); // the file has no name: closing it frees its space
}

QString ResultStore::defaultSpillFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
}

ResultStore::Block ResultStore::newBlock(int rows) const
{
    Block block;
    block.m_columns.resize(m_fixed.size());
    for (std::size_t i = 0; i < m_fixed.size(); ++i) {
        Block::Column &c = block.m_columns[i];
        c.fixed = m_fixed[i];
        c.nulls.reserve(std::size_t(rows + 7) / 8);
        if (c.fixed) {
            c.bytes.reserve(std::size_t(c.fixed) * std::size_t(rows));
        } else {
            c.ends.reserve(std::size_t(rows));
        }
    }
    return block;
}

void ResultStore::append(Block &&block)
{
    if (block.m_rows == 0)
        return;
    if (m_rows > std::numeric_limits<int>::max() - block.m_rows)
        throw std::runtime_error("The result has too many records");
    const std::size_t size = block.bytes();
    if (size > std::numeric_limits<std::uint32_t>::max())
        tooLarge();

    Stored stored;
    stored.first = m_rows;
    stored.rows = block.m_rows;
    stored.size = std::uint32_t(size);
    stored.data.reset(new char[size]); // owned by the stored block
    char *out = stored.data.get();
    const std::size_t header = m_fixed.size() * OffsetsPerColumn * sizeof(std::uint32_t);
    std::size_t at = header;
    auto put = [&](std::size_t index, const void *part, std::size_t bytes) {
        const std::uint32_t offset = bytes ? std::uint32_t(at) : 0;
        std::memcpy(out + index * sizeof offset, &offset, sizeof offset);
        if (bytes)
            std::memcpy(out + at, part, bytes);
        at += bytes;
    };
    for (std::size_t i = 0; i < block.m_columns.size(); ++i) {
        const Block::Column &c = block.m_columns[i];
        put(i * OffsetsPerColumn, c.nulls.data(), c.nulls.size());
        put(i * OffsetsPerColumn + 1, c.ends.data(), c.ends.size() * sizeof(std::uint32_t));
        // An empty part still records where it would start, for the value offsets.
        const std::uint32_t bytesAt = std::uint32_t(at);
        put(i * OffsetsPerColumn + 2, c.bytes.data(), c.bytes.size());
        std::memcpy(out + (i * OffsetsPerColumn + 2) * sizeof bytesAt, &bytesAt, sizeof bytesAt);
    }
    block = Block();

    m_rows += stored.rows;
    m_inMemory += stored.size;
    m_blocks.push_back(std::move(stored));

    // The oldest blocks go first: a walk or the grid reads on from the newest rows.
    while (m_inMemory > m_budget && m_oldestInMemory < int(m_blocks.size())) {
        spill(m_blocks[std::size_t(m_oldestInMemory)]);
        ++m_oldestInMemory;
    }
}

void ResultStore::openFile()
{
    const QByteArray folder = QFile::encodeName(m_folder);
    if (m_folder.isEmpty() || !QDir().mkpath(m_folder))
        throw std::runtime_error(
            QStringLiteral("Cannot create the folder %1 for the result's temporary file")
                .arg(m_folder)
                .toStdString());
    int fd = -1;
#ifdef O_TMPFILE
    // A file without a name from the start: nothing is left behind, whatever ends the process.
    fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    if (fd < 0) {
        QByteArray name = folder + "/stelvik-result-XXXXXX";
        fd = ::mkstemp(name.data());
        if (fd >= 0)
            ::unlink(name.constData());
    }
    if (fd < 0)
        throw std::runtime_error(
            QStringLiteral("Cannot create the result's temporary file in %1: %2")
                .arg(m_folder, systemError(errno))
                .toStdString());
    m_file = fd;
}

void ResultStore::spill(Stored &block)
{
    if (m_file < 0)
        openFile();
    const char *data = block.data.get();
    std::size_t done = 0;
    while (done < block.size) {
        const ssize_t written = ::pwrite(
            m_file, data + done, block.size - done, off_t(m_fileSize + std::int64_t(done)));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            // The block stays in memory, so no row is lost; the caller ends the fetch.
            const int error = written < 0 ? errno : ENOSPC;
            throw std::runtime_error(
                QStringLiteral("The result's temporary file in %1 cannot grow: %2. The fetch "
                               "stopped after %3 records; those stay available.")
                    .arg(m_folder, systemError(error))
                    .arg(m_rows)
                    .toStdString());
        }
        done += std::size_t(written);
    }
    block.offset = m_fileSize;
    m_fileSize += block.size;
    block.data.reset();
    m_inMemory -= block.size;
}

int ResultStore::blockOf(int row, int &lastBlock) const
{
    if (row < 0 || row >= m_rows)
        return -1;
    int index = lastBlock < int(m_blocks.size()) ? lastBlock : 0;
    const Stored *block = &m_blocks[std::size_t(index)];
    if (row < block->first || row >= block->first + block->rows) {
        const auto it = std::upper_bound(m_blocks.begin(), m_blocks.end(), row,
            [](int r, const Stored &b) { return r < b.first; });
        index = int(it - m_blocks.begin()) - 1;
        lastBlock = index;
    }
    return index;
}

void ResultStore::readBlock(int index, std::unique_ptr<char[]> &copy, std::size_t &capacity) const
{
    const Stored &block = m_blocks[std::size_t(index)];
    if (capacity < block.size) {
        copy.reset(new char[block.size]); // owned by the caller's read-back slot
        capacity = block.size;
    }
    std::size_t done = 0;
    while (done < block.size) {
        const ssize_t got = ::pread(
            m_file, copy.get() + done, block.size - done, off_t(block.offset + std::int64_t(done)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw std::runtime_error(
                QStringLiteral("Cannot read the result's temporary file in %1: %2")
                    .arg(m_folder, systemError(got < 0 ? errno : EIO))
                    .toStdString());
        done += std::size_t(got);
    }
}

const char *ResultStore::blockData(int index) const
{
    const Stored &block = m_blocks[std::size_t(index)];
    if (block.data)
        return block.data.get();
    for (const ReadBack &copy : m_readBack)
        if (copy.block == index)
            return copy.data.get();
    ReadBack &copy = m_readBack[m_nextReadBack];
    m_nextReadBack = (m_nextReadBack + 1) % int(std::size(m_readBack));
    copy.block = -1;
    readBlock(index, copy.data, copy.capacity);
    copy.block = index;
    return copy.data.get();
}

bool ResultStore::isNull(int row, int column) const
{
    const char *data = nullptr;
    std::size_t length = 0;
    return !value(row, column, data, length);
}

bool ResultStore::value(int row, int column, const char *&data, std::size_t &length) const
{
    const int index = blockOf(row, m_lastBlock);
    if (index < 0 || column < 0 || column >= columnCount())
        return false;
    return valueIn(blockData(index), index, row, column, data, length);
}

bool ResultStore::valueIn(
    const char *base, int index, int row, int column, const char *&data, std::size_t &length) const
{
    const std::size_t r = std::size_t(row - m_blocks[std::size_t(index)].first);
    const char *offsets = base + std::size_t(column) * OffsetsPerColumn * sizeof(std::uint32_t);
    if ((std::uint8_t(base[readU32(offsets) + r / 8]) >> (r % 8)) & 1u)
        return false;
    const char *bytes = base + readU32(offsets + 2 * sizeof(std::uint32_t));
    const int fixed = m_fixed[std::size_t(column)];
    if (fixed) {
        data = bytes + std::size_t(fixed) * r;
        length = std::size_t(fixed);
        return true;
    }
    const char *ends = base + readU32(offsets + sizeof(std::uint32_t));
    const std::uint32_t begin = r > 0 ? readU32(ends + (r - 1) * sizeof(std::uint32_t)) : 0;
    data = bytes + begin;
    length = readU32(ends + r * sizeof(std::uint32_t)) - begin;
    return true;
}

ResultStore::Reader::Reader(std::shared_ptr<const ResultStore> store)
    : m_store(std::move(store))
{ }

bool ResultStore::Reader::value(int row, int column, const char *&data, std::size_t &length) const
{
    const ResultStore &store = *m_store;
    const int index = store.blockOf(row, m_lastBlock);
    if (index < 0 || column < 0 || column >= store.columnCount())
        return false;
    // Blocks in memory are never changed once the store takes no more rows; those in the file
    // are read into this reader's own copy (pread leaves the file's offset alone).
    const char *base = store.m_blocks[std::size_t(index)].data.get();
    if (!base) {
        if (m_block != index) {
            m_block = -1;
            store.readBlock(index, m_copy, m_capacity);
            m_block = index;
        }
        base = m_copy.get();
    }
    return store.valueIn(base, index, row, column, data, length);
}

std::size_t ResultStore::memoryBytes() const
{
    std::size_t bytes = m_inMemory + m_blocks.capacity() * sizeof(Stored);
    for (const ReadBack &copy : m_readBack)
        bytes += copy.capacity;
    return bytes;
}

int ResultStore::spilledBlockCount() const
{
    return m_oldestInMemory;
}
