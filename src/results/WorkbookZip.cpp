#include "results/WorkbookZip.h"

#include <QIODevice>

#include <stdexcept>
#include <zlib.h>

namespace {

// zlib's fastest level: a sheet's XML repeats itself so much that it still shrinks about six
// times, in a third of the default level's time.
constexpr int Level = Z_BEST_SPEED;
constexpr std::size_t MostWaiting = 4; // chunks handed over and not yet compressed

[[noreturn]] void fail(const QString &message)
{
    throw std::runtime_error(message.toStdString());
}

void put16(QByteArray &out, quint32 value)
{
    out.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
}

void put32(QByteArray &out, quint32 value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

void put64(QByteArray &out, quint64 value)
{
    put32(out, quint32(value & 0xFFFFFFFF));
    put32(out, quint32(value >> 32));
}

quint32 get16(const QByteArray &in, qsizetype at)
{
    return quint32(quint8(in[at])) | quint32(quint8(in[at + 1])) << 8;
}

quint32 get32(const QByteArray &in, qsizetype at)
{
    return get16(in, at) | get16(in, at + 2) << 16;
}

// Runs deflate over what z holds until it has taken all and given all out.
template <typename Out>
int deflateAll(z_stream &z, int flush, Out &&out)
{
    char buffer[64 * 1024];
    int result = Z_OK;
    do {
        z.next_out = reinterpret_cast<Bytef *>(buffer);
        z.avail_out = sizeof buffer;
        result = deflate(&z, flush);
        if (result == Z_STREAM_ERROR)
            return result;
        out(buffer, qint64(sizeof buffer - z.avail_out));
    } while (z.avail_out == 0);
    return result;
}

bool beginDeflate(z_stream &z)
{
    z = {};
    return deflateInit2(&z, Level, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) == Z_OK;
}

} // namespace

QByteArray deflateRun(QByteArrayView data, bool last)
{
    z_stream z;
    if (!beginDeflate(z))
        fail(QStringLiteral("Cannot start compressing the workbook."));
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    z.avail_in = uInt(data.size());
    QByteArray out;
    deflateAll(z, last ? Z_FINISH : Z_SYNC_FLUSH,
        [&out](const char *bytes, qint64 size) { out.append(bytes, size); });
    deflateEnd(&z);
    return out;
}

QByteArray inflateRun(QByteArrayView data, qint64 size)
{
    QByteArray out(size, Qt::Uninitialized);
    z_stream z = {};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        fail(QStringLiteral("Cannot start reading the workbook's parts."));
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    const int result = inflate(&z, Z_FINISH);
    const bool whole = result == Z_STREAM_END && z.total_out == uLong(size);
    inflateEnd(&z);
    if (!whole)
        fail(QStringLiteral("A part of the workbook does not read back as it was written."));
    return out;
}

quint32 crcOf(QByteArrayView data)
{
    return quint32(
        crc32_z(crc32(0, nullptr, 0), reinterpret_cast<const Bytef *>(data.data()), data.size()));
}

quint32 joinCrc(quint32 a, quint32 b, qint64 bLength)
{
    return quint32(crc32_combine(a, b, z_off_t(bLength)));
}

std::vector<ZipEntry> readZipEntries(QIODevice &zip)
{
    const auto broken = [] { fail(QStringLiteral("The workbook's parts are not a zip.")); };
    // The end record: the last 22 bytes, as libxlsxwriter writes no comment.
    if (zip.size() < 22 || !zip.seek(zip.size() - 22))
        broken();
    const QByteArray end = zip.read(22);
    if (end.size() != 22 || get32(end, 0) != 0x06054b50)
        broken();
    const quint32 count = get16(end, 10);
    const qint64 directorySize = get32(end, 12);
    if (!zip.seek(get32(end, 16)))
        broken();
    const QByteArray directory = zip.read(directorySize);
    std::vector<ZipEntry> entries;
    qsizetype at = 0;
    for (quint32 i = 0; i < count; ++i) {
        if (at + 46 > directory.size() || get32(directory, at) != 0x02014b50)
            broken();
        ZipEntry entry;
        entry.method = quint16(get16(directory, at + 10));
        entry.time = quint16(get16(directory, at + 12));
        entry.date = quint16(get16(directory, at + 14));
        entry.crc = get32(directory, at + 16);
        entry.stored = get32(directory, at + 20);
        entry.size = get32(directory, at + 24);
        const qsizetype nameSize = get16(directory, at + 28);
        const qint64 header = get32(directory, at + 42);
        entry.name = directory.mid(at + 46, nameSize);
        at += 46 + nameSize + get16(directory, at + 30) + get16(directory, at + 32);
        if (entry.stored == 0xFFFFFFFF || entry.size == 0xFFFFFFFF || !zip.seek(header))
            broken();
        const QByteArray local = zip.read(30);
        if (local.size() != 30 || get32(local, 0) != 0x04034b50)
            broken();
        entry.dataOffset = header + 30 + get16(local, 26) + get16(local, 28);
        entries.push_back(entry);
    }
    return entries;
}

ZipWriter::ZipWriter(QIODevice &out, qint64 zip64From)
    : m_out(out)
    , m_zip64From(zip64From)
{ }

void ZipWriter::write(QByteArrayView bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 written = m_out.write(bytes.data() + done, bytes.size() - done);
        if (written <= 0)
            fail(QStringLiteral("Cannot write the workbook: %1").arg(m_out.errorString()));
        done += written;
    }
    m_at += bytes.size();
}

void ZipWriter::copy(QIODevice &from, qint64 offset, qint64 length)
{
    if (!from.seek(offset))
        fail(QStringLiteral("Cannot read the workbook's parts: %1").arg(from.errorString()));
    QByteArray buffer;
    while (length > 0) {
        buffer = from.read(qMin<qint64>(length, 1 << 20));
        if (buffer.isEmpty())
            fail(QStringLiteral("Cannot read the workbook's parts: %1").arg(from.errorString()));
        write(buffer);
        length -= buffer.size();
    }
}

void ZipWriter::beginEntry(const ZipEntry &entry)
{
    const bool zip64 = entry.size >= m_zip64From || entry.stored >= m_zip64From;
    m_entries.push_back({ entry, m_at });
    QByteArray header;
    put32(header, 0x04034b50);
    put16(header, zip64 ? 45 : 20); // the version a reader needs
    put16(header, 0); // flags
    put16(header, entry.method);
    put16(header, entry.time);
    put16(header, entry.date);
    put32(header, entry.crc);
    put32(header, zip64 ? 0xFFFFFFFF : quint32(entry.stored));
    put32(header, zip64 ? 0xFFFFFFFF : quint32(entry.size));
    put16(header, quint32(entry.name.size()));
    put16(header, zip64 ? 20 : 0);
    header += entry.name;
    if (zip64) {
        put16(header, 0x0001);
        put16(header, 16);
        put64(header, quint64(entry.size));
        put64(header, quint64(entry.stored));
    }
    write(header);
}

void ZipWriter::finish()
{
    const qint64 directoryStart = m_at;
    for (const Written &written : m_entries) {
        const ZipEntry &entry = written.entry;
        // Zip64 holds, in this order, each of the three that does not fit its field.
        QByteArray extra;
        const auto field = [&](qint64 value) -> quint32 {
            if (value < m_zip64From)
                return quint32(value);
            put64(extra, quint64(value));
            return 0xFFFFFFFF;
        };
        const quint32 size = field(entry.size);
        const quint32 stored = field(entry.stored);
        const quint32 offset = field(written.headerOffset);
        QByteArray record;
        put32(record, 0x02014b50);
        put16(record, 45); // made by: the version of the format, MS-DOS attributes
        put16(record, extra.isEmpty() ? 20 : 45);
        put16(record, 0);
        put16(record, entry.method);
        put16(record, entry.time);
        put16(record, entry.date);
        put32(record, entry.crc);
        put32(record, stored);
        put32(record, size);
        put16(record, quint32(entry.name.size()));
        put16(record, extra.isEmpty() ? 0 : quint32(extra.size() + 4));
        put16(record, 0); // comment
        put16(record, 0); // disk
        put16(record, 0); // internal attributes
        put32(record, 0); // external attributes
        put32(record, offset);
        record += entry.name;
        if (!extra.isEmpty()) {
            put16(record, 0x0001);
            put16(record, quint32(extra.size()));
            record += extra;
        }
        write(record);
    }
    const qint64 directorySize = m_at - directoryStart;
    const bool zip64 =
        m_entries.size() >= 0xFFFF || directoryStart >= m_zip64From || directorySize >= m_zip64From;
    QByteArray end;
    if (zip64) {
        const qint64 recordStart = m_at;
        put32(end, 0x06064b50);
        put64(end, 44); // the size of the rest of the record
        put16(end, 45);
        put16(end, 45);
        put32(end, 0);
        put32(end, 0);
        put64(end, m_entries.size());
        put64(end, m_entries.size());
        put64(end, quint64(directorySize));
        put64(end, quint64(directoryStart));
        put32(end, 0x07064b50); // where the record is
        put32(end, 0);
        put64(end, quint64(recordStart));
        put32(end, 1);
    }
    put32(end, 0x06054b50);
    put16(end, 0);
    put16(end, 0);
    put16(end, zip64 ? 0xFFFF : quint32(m_entries.size()));
    put16(end, zip64 ? 0xFFFF : quint32(m_entries.size()));
    put32(end, zip64 ? 0xFFFFFFFF : quint32(directorySize));
    put32(end, zip64 ? 0xFFFFFFFF : quint32(directoryStart));
    put16(end, 0); // comment
    write(end);
}

SheetStream::SheetStream(const QString &folder)
{
    m_file.setFileTemplate(folder + QStringLiteral("/stelvik-sheets-XXXXXX"));
    if (!m_file.open())
        fail(QStringLiteral("Cannot create the workbook's temporary file in %1: %2")
                 .arg(folder, m_file.errorString()));
    m_thread = std::thread([this] { run(); });
}

SheetStream::~SheetStream()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void SheetStream::throwFailure()
{
    std::unique_lock<std::mutex> lock(m_lock);
    if (m_failure.isEmpty())
        return;
    const QString failure = m_failure;
    lock.unlock();
    fail(failure);
}

void SheetStream::put(Chunk chunk)
{
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(
            lock, [this] { return m_waiting.size() < MostWaiting || !m_failure.isEmpty(); });
        if (m_failure.isEmpty()) {
            m_waiting.push_back(std::move(chunk));
            m_changed.notify_all();
            return;
        }
    }
    throwFailure();
}

void SheetStream::write(std::string &chunk)
{
    Chunk full;
    full.bytes.swap(chunk);
    put(std::move(full));
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_spare.empty()) {
        chunk.swap(m_spare.back());
        m_spare.pop_back();
    }
}

void SheetStream::endSheet()
{
    Chunk end;
    end.endsSheet = true;
    put(std::move(end));
}

const std::vector<DeflateRun> &SheetStream::finish()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    throwFailure();
    if (!m_file.flush())
        fail(QStringLiteral("Cannot write the workbook's temporary file: %1")
                 .arg(m_file.errorString()));
    return m_runs;
}

// The thread: each chunk compressed and written as it comes; at a sheet's end the run is flushed
// to a byte boundary and the next one starts afresh. After a failure the chunks are only taken,
// so that the export's thread is never left waiting; it hears of the failure at its next call.
void SheetStream::run()
{
    z_stream z;
    QString failure;
    if (!beginDeflate(z))
        failure = QStringLiteral("Cannot start compressing the workbook.");
    DeflateRun current;
    current.crc = quint32(crc32(0, nullptr, 0));
    const auto out = [&](const char *bytes, qint64 size) {
        if (size > 0 && failure.isEmpty() && m_file.write(bytes, size) != size)
            failure = QStringLiteral("Cannot write the workbook's temporary file: %1")
                          .arg(m_file.errorString());
        current.stored += size;
    };
    for (;;) {
        Chunk chunk;
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_changed.wait(lock, [this] { return !m_waiting.empty() || m_stop; });
            if (m_waiting.empty())
                break;
            chunk = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
        m_changed.notify_all();
        if (failure.isEmpty()) {
            const auto *bytes = reinterpret_cast<const Bytef *>(chunk.bytes.data());
            current.crc = quint32(crc32_z(current.crc, bytes, chunk.bytes.size()));
            current.size += qint64(chunk.bytes.size());
            z.next_in = const_cast<Bytef *>(bytes);
            z.avail_in = uInt(chunk.bytes.size());
            if (deflateAll(z, chunk.endsSheet ? Z_SYNC_FLUSH : Z_NO_FLUSH, out) == Z_STREAM_ERROR)
                failure = QStringLiteral("Cannot compress the workbook.");
        }
        chunk.bytes.clear();
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (chunk.endsSheet) {
                m_runs.push_back(current);
                current = DeflateRun();
                current.offset = m_runs.back().offset + m_runs.back().stored;
                current.crc = quint32(crc32(0, nullptr, 0));
                deflateReset(&z);
            }
            if (chunk.bytes.capacity() > 0)
                m_spare.push_back(std::move(chunk.bytes));
            m_failure = failure;
        }
        m_changed.notify_all();
    }
    deflateEnd(&z);
}
