#include "results/Exporter.h"

#include "connection/QueryDataset.h"
#include "results/LineBuilder.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProgressDialog>
#include <QStringDecoder>
#include <QStringEncoder>

#include <memory>
#include <stdexcept>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

int exportProgressDelayMs = 500;

namespace {

// Shows the number of records written once a walk takes longer than the delay, and lets the user
// cancel it. The walk stays on the UI thread; the dialog is application-modal, so events handled
// while it is up cannot reach the window whose dataset is being walked.
class ExportProgress
{
public:
    explicit ExportProgress(QWidget *parent)
        : m_parent(parent)
    {
        m_clock.start();
    }

    // Called every few records; false once the user has cancelled.
    bool keepGoing(qint64 written)
    {
        const qint64 now = m_clock.elapsed();
        if (!m_dialog) {
            if (now < exportProgressDelayMs)
                return true;
            m_dialog = std::make_unique<QProgressDialog>(m_parent); // owned here
            m_dialog->setObjectName(QStringLiteral("ExportProgress"));
            m_dialog->setWindowTitle(QCoreApplication::applicationName());
            m_dialog->setWindowModality(Qt::ApplicationModal);
            m_dialog->setCancelButtonText(QStringLiteral("Cancel"));
            m_dialog->setRange(0, 0);
            m_dialog->setMinimumDuration(0);
            m_dialog->setAutoClose(false);
            m_dialog->setAutoReset(false);
            m_dialog->show();
        } else if (now - m_lastUpdate < qMin(100, exportProgressDelayMs)) {
            return !m_dialog->wasCanceled();
        }
        m_lastUpdate = now;
        m_dialog->setLabelText(QStringLiteral("%1 records written").arg(written));
        QCoreApplication::processEvents();
        return !m_dialog->wasCanceled();
    }

private:
    QWidget *m_parent; // not owned
    QElapsedTimer m_clock;
    qint64 m_lastUpdate = 0;
    std::unique_ptr<QProgressDialog> m_dialog;
};

// Collects the lines in a UTF-16 batch of many lines and converts each batch to the 8-bit text
// at once, so that neither a line nor a value needs a conversion or an allocation of its own.
// Without a file the text collects in `out`; with one, each converted batch goes to the file
// and `out` only holds the batch (a file sink without a file drops it). After a failed write the
// rest is dropped: the walk goes on to where it would have stopped, and its caller reports the
// failure.
class TextSink
{
public:
    TextSink(QByteArray &out, QIODevice *file, bool toFile, ExportFormat format)
        : m_out(out)
        , m_file(file)
        , m_toFile(toFile)
        , m_encoder(ExportProfiles::encoding(format),
              ExportProfiles::byteOrderMark(format) ? QStringConverter::Flag::WriteBom
                                                    : QStringConverter::Flag::Default)
        , m_lineEnd(ExportProfiles::lineEnd(format))
    { }

    // Ends the line that was appended to batch; converts the batch once it is large enough.
    void endLine(QString &batch)
    {
        batch.append(m_lineEnd);
        if (batch.size() >= BatchChars)
            flush(batch);
    }

    // Converts what is in batch and empties it, keeping its capacity.
    void flush(QString &batch)
    {
        if (!m_toFile || m_writing) {
            const qsizetype used = m_out.size();
            m_out.resize(used + m_encoder.requiredSpace(batch.size()));
            char *end = m_encoder.appendToBuffer(m_out.data() + used, batch);
            m_out.resize(end - m_out.constData());
        }
        batch.resize(0);
        if (m_toFile && m_writing) {
            // A short write is retried, so that a full disk shows as an error with its reason.
            qsizetype done = 0;
            while (m_writing && done < m_out.size()) {
                const qint64 written = m_file->write(m_out.constData() + done, m_out.size() - done);
                m_writing = written > 0;
                done += qsizetype(written);
            }
            m_out.resize(0);
        }
    }

    // A file sink stops writing, for a file that could not be opened.
    void discard() { m_writing = false; }
    bool failed() const { return m_toFile && !m_writing; }

private:
    static constexpr qsizetype BatchChars = 32768;
    QByteArray &m_out;
    QIODevice *m_file; // not owned
    bool m_toFile; // else the text collects in m_out
    QStringEncoder m_encoder;
    QLatin1String m_lineEnd;
    bool m_writing = true;
};

// The walk over the rows shown: the records in their order, every one fetched already.
bool walkRecords(QueryDataset &query, const std::vector<int> &records, int limit,
    LineBuilder &builder, QString &line, TextSink &sink, ExportProgress &progress)
{
    qint64 written = 0;
    for (const int record : records) {
        query.setRecNo(record);
        if (limit >= 0 && written >= limit)
            break;
        if ((written & 255) == 0 && !progress.keepGoing(written))
            return false;
        builder.appendRecord(line);
        sink.endLine(line);
        ++written;
    }
    sink.flush(line);
    return true;
}

// The walk shared by both destinations: the header line, then one line per record from the
// first, at most `limit` of them (all when negative). Returns false when the user cancelled.
bool walk(QueryDataset &query, const ExportProfile &profile, int limit, TextSink &sink,
    QWidget *progressParent, const std::vector<int> *records)
{
    ExportProgress progress(progressParent);
    LineBuilder builder(query, ExportProfiles::lineFormat(profile.format), profile.tableName);
    query.GoFirst();
    QString line; // the lines not yet converted
    if (ExportProfiles::hasHeader(profile.format)) {
        builder.appendHeader(line);
        sink.endLine(line);
    }
    if (records)
        return walkRecords(query, *records, limit, builder, line, sink, progress);

    // The next blocks are fetched while this thread formats and writes the ones it has.
    QueryDataset::ReadAhead ahead(query, limit);
    qint64 written = 0;
    while (!query.AtEof()) {
        if (limit >= 0 && written >= limit)
            break;
        if ((written & 255) == 0 && !progress.keepGoing(written)) {
            ahead.finish(); // what was fetched ahead is kept; a failure to keep it is reported
            return false;
        }
        builder.appendRecord(line);
        sink.endLine(line);
        ++written;
        query.GoNext();
    }
    ahead.finish();
    sink.flush(line);
    return true;
}

} // namespace

TargetFile::TargetFile(const QString &path)
    : m_path(path)
{
    if (QFileInfo(path).isDir())
        throw std::runtime_error(QStringLiteral("%1 is a folder, not a file. Nothing was written.")
                                     .arg(QDir::toNativeSeparators(path))
                                     .toStdString());
}

bool TargetFile::open()
{
    const QFileInfo target(m_path);
    // A FIFO or a device is the destination itself: a file put in its place would take the text
    // from the program reading it, or stand where the device was.
    if (target.exists() && !target.isFile())
        return openDirect();
    m_aside = std::make_unique<QSaveFile>(m_path);
    if (m_aside->open(QIODevice::WriteOnly)) {
        m_device = m_aside.get();
        return true;
    }
    m_error = m_aside->errorString();
    m_aside.reset();
    // A folder that takes nothing aside, holding a file the user may write: the file is written
    // in place, only once the whole text is known.
    if (!target.isFile() || !target.isWritable())
        return false;
    m_heldDevice.open(QIODevice::WriteOnly);
    m_device = &m_heldDevice;
    return true;
}

bool TargetFile::openDirect()
{
    m_direct = std::make_unique<QFile>();
#ifdef Q_OS_UNIX
    // Opened without waiting: a FIFO that no program reads fails at once (ENXIO) instead of
    // holding the window until a reader comes. The writes then wait as usual.
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_error = qt_error_string(errno);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // A reader that goes away must fail the write (EPIPE), not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    if (!m_direct->open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
#else
    m_direct->setFileName(m_path);
    if (!m_direct->open(QIODevice::WriteOnly)) {
#endif
        m_error = m_direct->errorString();
        return false;
    }
    m_device = m_direct.get();
    return true;
}

bool TargetFile::commit()
{
    // The explicit flushes report a short write of the buffered tail (a full disk) that closing
    // or commit() alone would let through, putting a cut file in place.
    if (m_aside) {
        const bool written = m_aside->flush() && m_aside->commit();
        m_error = m_aside->errorString();
        return written;
    }
    if (m_direct) {
        const bool written = m_direct->flush() && m_direct->error() == QFileDevice::NoError;
        m_error = m_direct->errorString();
        m_direct->close();
        return written;
    }
    QFile file(m_path);
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(m_held) == m_held.size() && file.flush();
    m_error = file.errorString();
    return written;
}

bool buildExportText(QueryDataset &query, const ExportProfile &profile, int limit, QByteArray &text,
    QWidget *progressParent, const std::vector<int> *records)
{
    text.clear();
    TextSink sink(text, nullptr, false, profile.format);
    if (walk(query, profile, limit, sink, progressParent, records))
        return true;
    text.clear();
    return false;
}

bool writeExportFile(QueryDataset &query, const ExportProfile &profile, int limit,
    const QString &fileName, QWidget *progressParent, const std::vector<int> *records)
{
    TargetFile file(fileName); // a folder is refused before the walk
    const bool created = file.open();
    QByteArray batch;
    TextSink sink(batch, created ? &file.device() : nullptr, true, profile.format);
    // A file that cannot be created or written is reported after the walk, as when the whole
    // text was built before the file was touched: the walk leaves the record pointer where it
    // always did.
    if (!created)
        sink.discard();
    if (!walk(query, profile, limit, sink, progressParent, records))
        return false; // a file aside goes with `file`
    if (!created)
        throw std::runtime_error(
            QStringLiteral("Cannot create file %1").arg(fileName).toStdString());
    if (!file.commit() || sink.failed())
        throw std::runtime_error(QStringLiteral("Unable to write to %1: %2")
                                     .arg(fileName, file.errorString())
                                     .toStdString());
    return true;
}

void putTextOnClipboard(const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
}

bool exportResult(QueryDataset &query, const ExportProfile &profile, int limit, bool toClipboard,
    const QString &fileName, QWidget *progressParent, const std::vector<int> *records)
{
    if (!toClipboard)
        return writeExportFile(query, profile, limit, fileName, progressParent, records);
    // The clipboard takes the whole text at once, so it is built in memory. Its text is Unicode:
    // a byte-order mark, which only tells a file's encoding, is not part of it.
    QByteArray text;
    if (!buildExportText(query, profile, limit, text, progressParent, records))
        return false;
    const auto encoding = ExportProfiles::encoding(profile.format);
    putTextOnClipboard(encoding == QStringConverter::System
            ? QString::fromLocal8Bit(text)
            : QString(QStringDecoder(encoding).decode(text)));
    return true;
}
