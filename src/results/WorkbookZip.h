#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QTemporaryFile>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class QIODevice;

// The zip container of a workbook, written by hand where libxlsxwriter's own container would
// compress a sheet only once the whole result is written, with zlib's slow default level: a
// sheet's rows are compressed while the export goes on (SheetStream) and the pieces are joined
// into one entry at the end (ZipWriter), the other parts copied as libxlsxwriter stored them.

// A run of raw deflate data in a file, with the size and CRC-32 of the bytes it holds.
struct DeflateRun
{
    qint64 offset = 0; // where the compressed bytes start in their file
    qint64 stored = 0; // compressed bytes
    qint64 size = 0; // uncompressed bytes
    quint32 crc = 0;
};

// Raw deflate of `data` on its own (no reference to what comes before), ending on a byte
// boundary so that more runs can follow, or with the final block when `last`.
QByteArray deflateRun(QByteArrayView data, bool last);
// The `size` bytes a raw deflate run holds. Throws when it holds something else.
QByteArray inflateRun(QByteArrayView data, qint64 size);
quint32 crcOf(QByteArrayView data);
// The CRC-32 of a and b one after the other, from theirs and b's length.
quint32 joinCrc(quint32 a, quint32 b, qint64 bLength);

// An entry of a zip as its central directory lists it.
struct ZipEntry
{
    QByteArray name;
    quint16 method = 0;
    quint16 time = 0; // MS-DOS time and date
    quint16 date = 0;
    quint32 crc = 0;
    qint64 stored = 0;
    qint64 size = 0;
    qint64 dataOffset = 0; // where its stored bytes start in the file
};

// The entries of a zip without Zip64 records (libxlsxwriter's small parts). Throws when the
// file is no such zip.
std::vector<ZipEntry> readZipEntries(QIODevice &zip);

// Writes a zip to a device entry by entry: the sizes and CRC of each are known before its bytes
// are written. Zip64 records only where a size or an offset reaches `zip64From` (4 GB; tests
// lower it). Throws when the device fails.
class ZipWriter
{
public:
    explicit ZipWriter(QIODevice &out, qint64 zip64From = 0xFFFFFFFFLL);

    // Starts an entry; its `stored` bytes follow through write and copy.
    void beginEntry(const ZipEntry &entry);
    void write(QByteArrayView bytes);
    // Copies `length` bytes of `from` at `offset`.
    void copy(QIODevice &from, qint64 offset, qint64 length);
    // Writes the central directory.
    void finish();

private:
    struct Written
    {
        ZipEntry entry;
        qint64 headerOffset;
    };
    QIODevice &m_out;
    qint64 m_zip64From;
    qint64 m_at = 0;
    std::vector<Written> m_entries;
};

// Compresses the XML of a workbook's sheets on a thread of its own into a temporary file while
// the export goes on: one raw deflate run per sheet, each ending on a byte boundary so that the
// sheet's head and tail, known only at the end, are joined to it in its zip entry. The export's
// thread hands chunks over and gets empty ones back; at most a few chunks wait, so memory stays
// bounded. Created, fed and finished by one thread.
class SheetStream
{
public:
    // Throws when the temporary file cannot be created in `folder`.
    explicit SheetStream(const QString &folder);
    ~SheetStream();

    static constexpr std::size_t ChunkBytes = 256 * 1024;

    // Hands the chunk over to be compressed; `chunk` comes back empty, with room for the next.
    // Throws what the thread failed with (a full disk).
    void write(std::string &chunk);
    // Ends the present sheet's run; the next bytes begin the next sheet's.
    void endSheet();
    // Waits for the thread to compress all; the runs, one per sheet, in file(). Throws what the
    // thread failed with.
    const std::vector<DeflateRun> &finish();
    QIODevice &file() { return m_file; }

private:
    struct Chunk
    {
        std::string bytes;
        bool endsSheet = false;
    };
    void run();
    void put(Chunk chunk);
    void throwFailure();

    QTemporaryFile m_file;
    std::mutex m_lock; // guards what follows up to the thread
    std::condition_variable m_changed;
    std::deque<Chunk> m_waiting;
    std::vector<std::string> m_spare; // emptied chunks, their room kept
    bool m_stop = false;
    bool m_busy = false; // the thread holds a chunk
    QString m_failure;
    std::vector<DeflateRun> m_runs;
    std::thread m_thread;
};
