#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The rows of one result, kept in blocks of columns: in memory up to a byte budget, and beyond it
// the oldest blocks move to an unlinked temporary file in the user's cache folder, from which
// they are read back when asked for. Knows nothing of the database. Owned by its dataset and
// used by one thread at a time, like the dataset.
class ResultStore
{
public:
    // Values of one column while a block is being filled: a fixed number of bytes each, or any
    // number of bytes back to back with the end offset of each.
    class Block
    {
    public:
        // Starts the next row, whose values are then given column by column.
        void addNull(int column);
        void addValue(int column, const char *data, std::size_t length);
        // For a value built in place: append its bytes to valueBytes(column), then endValue.
        std::vector<char> &valueBytes(int column) { return m_columns[std::size_t(column)].bytes; }
        void endValue(int column);
        void endRow() { ++m_rows; }
        int rows() const { return m_rows; }
        std::size_t bytes() const;

    private:
        friend class ResultStore;
        struct Column
        {
            int fixed = 0; // bytes per value; 0 for values of any length
            std::vector<char> bytes;
            std::vector<std::uint32_t> ends;
            std::vector<std::uint8_t> nulls; // one bit per row
        };
        void startValue(Column &column);
        std::vector<Column> m_columns;
        int m_rows = 0;
    };

    // fixedBytes: per column, the bytes of each value, or 0 for values of any length.
    // budgetBytes: what the blocks may take in memory before the oldest move to the file.
    ResultStore(std::vector<int> fixedBytes, std::size_t budgetBytes,
        const QString &spillFolder = defaultSpillFolder());
    ~ResultStore(); // closes the temporary file; never throws
    ResultStore(const ResultStore &) = delete;
    ResultStore &operator=(const ResultStore &) = delete;

    // The user's cache folder.
    static QString defaultSpillFolder();

    // An empty block for this store's columns, with room for `rows` rows.
    Block newBlock(int rows) const;
    // Adds the block's rows after the rows so far. Moves the oldest blocks to the temporary file
    // while the memory budget is exceeded. Throws std::runtime_error when a block cannot be
    // written there (a full disk, for one) or when the store would pass 2^31-1 rows; every row
    // added so far, this block's included, stays readable.
    void append(Block &&block);

    int columnCount() const { return int(m_fixed.size()); }
    int rowCount() const { return m_rows; }
    bool isNull(int row, int column) const;
    // The bytes of a value, valid until the next call on the store. False for a null value and
    // for a row or column out of range. Throws std::runtime_error when reading the temporary
    // file fails.
    bool value(int row, int column, const char *&data, std::size_t &length) const;

    // A reader of its own over a store that takes no more rows (its result fetched whole), for
    // another thread: it keeps its own copies of the blocks it reads back from the file, so it
    // and the store's owner read side by side. Holds the store alive.
    class Reader
    {
    public:
        explicit Reader(std::shared_ptr<const ResultStore> store);
        int rowCount() const { return m_store->rowCount(); }
        // As ResultStore::value, the bytes valid until the next call on this reader.
        bool value(int row, int column, const char *&data, std::size_t &length) const;

    private:
        std::shared_ptr<const ResultStore> m_store;
        mutable std::unique_ptr<char[]> m_copy; // a block read back from the file
        mutable std::size_t m_capacity = 0;
        mutable int m_block = -1; // the block in m_copy
        mutable int m_lastBlock = 0;
    };

    std::size_t memoryBytes() const; // blocks in memory and read-back copies
    std::size_t spilledBytes() const { return m_fileSize; } // bytes in the temporary file
    int blockCount() const { return int(m_blocks.size()); }
    int spilledBlockCount() const;

private:
    struct Stored
    {
        int first = 0; // number of the first row
        int rows = 0;
        std::unique_ptr<char[]> data; // null once moved to the file
        std::uint32_t size = 0;
        std::int64_t offset = -1; // in the file, -1 while only in memory
    };
    struct ReadBack
    {
        int block = -1;
        std::unique_ptr<char[]> data;
        std::size_t capacity = 0;
    };

    const char *blockData(int block) const;
    int blockOf(int row, int &lastBlock) const;
    // Reads a block from the file into `copy`, growing it when needed.
    void readBlock(int block, std::unique_ptr<char[]> &copy, std::size_t &capacity) const;
    bool valueIn(const char *base, int block, int row, int column, const char *&data,
        std::size_t &length) const;
    void spill(Stored &block);
    void openFile();

    std::vector<int> m_fixed;
    std::size_t m_budget;
    QString m_folder;
    std::vector<Stored> m_blocks;
    int m_rows = 0;
    std::size_t m_inMemory = 0; // bytes of the blocks not moved to the file
    int m_oldestInMemory = 0; // blocks before it are in the file
    int m_file = -1;
    std::int64_t m_fileSize = 0;
    mutable int m_lastBlock = 0;
    mutable ReadBack m_readBack[2];
    mutable int m_nextReadBack = 0;
};
