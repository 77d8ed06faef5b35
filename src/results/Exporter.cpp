#include "results/Exporter.h"

#include "connection/QueryDataset.h"
#include "results/LineBuilder.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProgressDialog>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <memory>
#include <stdexcept>
#include <vector>

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
// and `out` only holds the batch. After a failed write the rest is dropped: the walk goes on to
// where it would have stopped, and its caller reports the failure.
class TextSink
{
public:
    TextSink(QByteArray &out, QIODevice *file, ExportFormat format)
        : m_out(out)
        , m_file(file)
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
        if (!m_file || m_writing) {
            const qsizetype used = m_out.size();
            m_out.resize(used + m_encoder.requiredSpace(batch.size()));
            char *end = m_encoder.appendToBuffer(m_out.data() + used, batch);
            m_out.resize(end - m_out.constData());
        }
        batch.resize(0);
        if (m_file && m_writing) {
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
    bool failed() const { return m_file && !m_writing; }

private:
    static constexpr qsizetype BatchChars = 32768;
    QByteArray &m_out;
    QIODevice *m_file; // not owned; null: the text collects in m_out
    QStringEncoder m_encoder;
    QLatin1String m_lineEnd;
    bool m_writing = true;
};

// The walk shared by both destinations: the header line, then one line per record from the
// first, at most `limit` of them (all when negative). Returns false when the user cancelled.
bool walk(QueryDataset &query, const ExportProfile &profile, int limit, TextSink &sink,
    QWidget *progressParent)
{
    ExportProgress progress(progressParent);
    LineBuilder builder(query, ExportProfiles::lineFormat(profile.format), profile.tableName);
    query.GoFirst();
    QString line; // the lines not yet converted
    if (ExportProfiles::hasHeader(profile.format)) {
        builder.appendHeader(line);
        sink.endLine(line);
    }

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

bool buildExportText(QueryDataset &query, const ExportProfile &profile, int limit, QByteArray &text,
    QWidget *progressParent)
{
    text.clear();
    TextSink sink(text, nullptr, profile.format);
    if (walk(query, profile, limit, sink, progressParent))
        return true;
    text.clear();
    return false;
}

bool writeExportFile(QueryDataset &query, const ExportProfile &profile, int limit,
    const QString &fileName, QWidget *progressParent)
{
    // The text goes to a temporary file beside the target, which takes the target's place only
    // once complete: a failed, cancelled or refused export leaves the target as it was.
    QSaveFile file(fileName);
    const bool created = file.open(QIODevice::WriteOnly);
    QByteArray batch;
    TextSink sink(batch, &file, profile.format);
    // A file that cannot be created or written is reported after the walk, as when the whole
    // text was built before the file was touched: the walk leaves the record pointer where it
    // always did.
    if (!created)
        sink.discard();
    if (!walk(query, profile, limit, sink, progressParent))
        return false; // the temporary file goes with `file`
    if (!created)
        throw std::runtime_error(
            QStringLiteral("Cannot create file %1").arg(fileName).toStdString());
    // The explicit flush reports a short write of the buffered tail (a full disk) that
    // commit() alone would let through, putting a cut file in place.
    if (sink.failed() || !file.flush() || !file.commit())
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
    const QString &fileName, QWidget *progressParent)
{
    if (!toClipboard)
        return writeExportFile(query, profile, limit, fileName, progressParent);
    // The clipboard takes the whole text at once, so it is built in memory. Its text is Unicode:
    // a byte-order mark, which only tells a file's encoding, is not part of it.
    QByteArray text;
    if (!buildExportText(query, profile, limit, text, progressParent))
        return false;
    const auto encoding = ExportProfiles::encoding(profile.format);
    putTextOnClipboard(encoding == QStringConverter::System
            ? QString::fromLocal8Bit(text)
            : QString(QStringDecoder(encoding).decode(text)));
    return true;
}
