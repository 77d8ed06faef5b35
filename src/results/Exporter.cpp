#include "results/Exporter.h"

#include "connection/QueryDataset.h"
#include "results/LineBuilder.h"
#include "results/TargetFile.h"
#include "results/WorkbookWriter.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProgressBar>
#include <QProgressDialog>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTimer>

#include <chrono>
#include <future>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>

int exportProgressDelayMs = 500;

namespace {

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
        if (m_toFile && m_writing)
            writeOut();
    }

    bool toFile() const { return m_toFile; }

    // Copies a file made elsewhere (a workbook) to the file, as flush writes a batch.
    void copy(QIODevice &source)
    {
        while (m_toFile && m_writing) {
            m_out.resize(1 << 20);
            const qint64 read = source.read(m_out.data(), m_out.size());
            m_out.resize(qMax<qint64>(read, 0));
            if (read <= 0) {
                m_writing = read == 0;
                break;
            }
            writeOut();
        }
    }

    // A file sink stops writing, for a file that could not be opened.
    void discard() { m_writing = false; }
    bool failed() const { return m_toFile && !m_writing; }

private:
    void writeOut()
    {
        // A short write is retried, so that a full disk shows as an error with its reason.
        qsizetype done = 0;
        while (m_writing && done < m_out.size()) {
            const qint64 written = m_file->write(m_out.constData() + done, m_out.size() - done);
            m_writing = written > 0;
            done += qsizetype(written);
        }
        m_out.resize(0);
    }

    static constexpr qsizetype BatchChars = 32768;
    QByteArray &m_out;
    QIODevice *m_file; // not owned
    bool m_toFile; // else the text collects in m_out
    QStringEncoder m_encoder;
    QLatin1String m_lineEnd;
    bool m_writing = true;
};

// The records a walk visits, in the order it writes them: the result's own order from its first
// record, or the given records in their order (the rows the grid shows, of a result fetched
// whole); the pointer then stays on the last one when they run out. The only place that says
// which records an export takes and in what order.
class WalkRows
{
public:
    WalkRows(QueryDataset &query, ShownRecords records)
        : m_query(query)
        , m_records(std::move(records))
    { }

    bool inViewOrder() const { return m_records != nullptr; }
    void first()
    {
        m_next = 0;
        if (!m_records)
            m_query.GoFirst();
        else if (!m_records->empty())
            m_query.setRecNo(m_records->front());
    }
    bool atEnd() const { return m_records ? m_next >= m_records->size() : m_query.AtEof(); }
    void next()
    {
        if (!m_records)
            return m_query.GoNext();
        if (++m_next < m_records->size())
            m_query.setRecNo((*m_records)[m_next]);
    }

private:
    QueryDataset &m_query;
    ShownRecords m_records;
    std::size_t m_next = 0;
};

// One export's walk, advanced a number of records at a time: the header line, then one line per
// record, at most `limit` of them (all when negative).
class ExportWalk
{
public:
    ExportWalk(QueryDataset &query, const ExportProfile &profile, int limit, TextSink &sink,
        ShownRecords records)
        : m_rows(query, std::move(records))
        , m_builder(
              query, ExportProfiles::lineFormat(profile.format), profile.tableName, profile.dialect)
        , m_sink(sink)
        , m_limit(limit)
    {
        if (!ExportProfiles::isText(profile.format)) {
            if (!sink.toFile())
                throw std::runtime_error(
                    QStringLiteral("%1 is a file, not text: it cannot go to the clipboard.")
                        .arg(ExportProfiles::name(profile.format))
                        .toStdString());
            m_workbook = std::make_unique<WorkbookWriter>(m_builder, profile.sheetRows);
        }
        m_rows.first();
        if (ExportProfiles::hasHeader(profile.format)) {
            m_builder.appendHeader(m_line);
            m_sink.endLine(m_line);
        }
        // The next blocks are fetched while this thread formats and writes the ones it has (a
        // result walked in view order is fetched whole already).
        if (!m_rows.inViewOrder())
            m_ahead.emplace(query, limit);
    }

    // Writes up to `records` more lines; true once the walk has ended and its text is flushed.
    bool advance(qint64 records)
    {
        if (m_closing.valid())
            return workbookWritten();
        for (; records > 0; --records) {
            if (m_rows.atEnd() || (m_limit >= 0 && m_written >= m_limit)) {
                finish();
                if (m_workbook) {
                    // The workbook's zip is written on a thread of its own (seconds for a large
                    // result), so that the progress dialog paints and hears Cancel meanwhile.
                    WorkbookWriter *book = m_workbook.get();
                    m_closing = std::async(
                        std::launch::async, [book]() -> QIODevice * { return &book->finish(); });
                    return workbookWritten();
                }
                m_sink.flush(m_line);
                return true;
            }
            if (m_workbook) {
                m_workbook->writeRecord(m_builder);
            } else {
                m_builder.appendRecord(m_line);
                m_sink.endLine(m_line);
            }
            ++m_written;
            m_rows.next();
        }
        return false;
    }

    qint64 written() const { return m_written; }

    // Ends the read-ahead: what was fetched ahead is kept; a failure to keep it is reported.
    // A walk dropped without it (on an error of its own) swallows such a failure.
    void finish()
    {
        if (m_ahead) {
            m_ahead->finish();
            m_ahead.reset();
        }
    }

private:
    // True once the closed workbook is copied to the file; waits a moment for the close at most.
    bool workbookWritten()
    {
        if (m_closing.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
            return false;
        QIODevice *file = m_closing.get(); // throws what the close threw
        m_sink.copy(*file);
        return true;
    }

    WalkRows m_rows;
    LineBuilder m_builder;
    TextSink &m_sink;
    int m_limit;
    qint64 m_written = 0;
    QString m_line; // the lines not yet converted
    std::optional<QueryDataset::ReadAhead> m_ahead;
    std::unique_ptr<WorkbookWriter> m_workbook; // the workbook's cells instead of lines
    // The workbook's close; declared after it, so that a walk dropped meanwhile (a cancel) waits
    // for the close before the workbook goes.
    std::future<QIODevice *> m_closing;
};

// Turns a file's failure after its walk into the error the user sees.
void commitOrThrow(TargetFile &file, bool created, const TextSink &sink, const QString &fileName)
{
    if (!created)
        throw std::runtime_error(
            QStringLiteral("Cannot create file %1").arg(fileName).toStdString());
    if (!file.commit() || sink.failed())
        throw std::runtime_error(QStringLiteral("Unable to write to %1: %2")
                                     .arg(fileName, file.errorString())
                                     .toStdString());
}

QString clipboardText(const QByteArray &text, ExportFormat format)
{
    // The clipboard's text is Unicode: a byte-order mark, which only tells a file's encoding, is
    // not part of it.
    const auto encoding = ExportProfiles::encoding(format);
    return encoding == QStringConverter::System ? QString::fromLocal8Bit(text)
                                                : QString(QStringDecoder(encoding).decode(text));
}

} // namespace

void buildExportText(QueryDataset &query, const ExportProfile &profile, int limit, QByteArray &text,
    ShownRecords records)
{
    text.clear();
    TextSink sink(text, nullptr, false, profile.format);
    ExportWalk walk(query, profile, limit, sink, std::move(records));
    while (!walk.advance(std::numeric_limits<qint64>::max())) { }
}

void writeExportFile(QueryDataset &query, const ExportProfile &profile, int limit,
    const QString &fileName, ShownRecords records)
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
    ExportWalk walk(query, profile, limit, sink, std::move(records));
    while (!walk.advance(std::numeric_limits<qint64>::max())) { }
    commitOrThrow(file, created, sink, fileName);
}

void putTextOnClipboard(const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
}

void exportResult(QueryDataset &query, const ExportProfile &profile, int limit, bool toClipboard,
    const QString &fileName, ShownRecords records)
{
    if (!toClipboard)
        return writeExportFile(query, profile, limit, fileName, std::move(records));
    // The clipboard takes the whole text at once, so it is built in memory.
    QByteArray text;
    buildExportText(query, profile, limit, text, std::move(records));
    putTextOnClipboard(clipboardText(text, profile.format));
}

// Everything one run holds while it walks; destroyed at its end, or on a cancel, which drops a
// file written aside and leaves the clipboard alone.
struct ExportRun::Walk
{
    Walk(QueryDataset &query, const ExportProfile &profile, int limit, bool toClipboard,
        const QString &fileName, ShownRecords records)
        : query(query)
        , profile(profile)
        , limit(limit)
        , fileName(fileName)
        , records(std::move(records))
    {
        if (!toClipboard) {
            file = std::make_unique<TargetFile>(fileName); // a folder is refused here
            created = file->open();
        }
        sink = std::make_unique<TextSink>(
            text, created ? &file->device() : nullptr, !toClipboard, profile.format);
        if (!toClipboard && !created)
            sink->discard();
    }

    QueryDataset &query;
    ExportProfile profile;
    int limit;
    QString fileName;
    ShownRecords records;
    std::unique_ptr<TargetFile> file; // null for the clipboard
    bool created = false;
    QByteArray text; // the clipboard's whole text, or a file's batch
    std::unique_ptr<TextSink> sink;
    std::unique_ptr<ExportWalk> walk; // declared last: it ends before the sink and the file
    QElapsedTimer clock;
    qint64 lastUpdate = 0;
    std::unique_ptr<QProgressDialog> progress;
};

ExportRun::ExportRun(QueryDataset &query, const ExportProfile &profile, int limit, bool toClipboard,
    const QString &fileName, QWidget *progressParent, ShownRecords records)
    : m_walk(
        std::make_unique<Walk>(query, profile, limit, toClipboard, fileName, std::move(records)))
    , m_progressParent(progressParent)
{ }

ExportRun::~ExportRun() = default;

void ExportRun::start(Done done)
{
    m_done = std::move(done);
    m_walk->clock.start();
    try {
        m_walk->walk = std::make_unique<ExportWalk>(
            m_walk->query, m_walk->profile, m_walk->limit, *m_walk->sink, m_walk->records);
    } catch (...) {
        return end(false, std::current_exception());
    }
    advance();
}

void ExportRun::advance()
{
    if (!m_walk)
        return;
    // Until the progress dialog is due the walk goes straight on, as the window takes no input
    // meanwhile; then a slice is short enough that the dialog paints and its Cancel is heard
    // at once, and long enough that the event loop between slices costs the walk nothing.
    const qint64 sliceMs = qBound(0, exportProgressDelayMs, 40);
    const qint64 sliceEnd = m_walk->progress ? m_walk->clock.elapsed() + sliceMs
                                             : qMax<qint64>(exportProgressDelayMs, 0);
    try {
        bool ended = false;
        do {
            ended = m_walk->walk->advance(256);
        } while (!ended && m_walk->clock.elapsed() < sliceEnd);
        if (ended) {
            if (m_walk->file)
                commitOrThrow(*m_walk->file, m_walk->created, *m_walk->sink, m_walk->fileName);
            else
                putTextOnClipboard(clipboardText(m_walk->text, m_walk->profile.format));
            return end(true, nullptr);
        }
    } catch (...) {
        return end(false, std::current_exception());
    }
    showProgress();
    if (m_walk->progress->wasCanceled())
        return end(false, nullptr);
    QTimer::singleShot(0, this, &ExportRun::advance);
}

void ExportRun::showProgress()
{
    const qint64 now = m_walk->clock.elapsed();
    if (!m_walk->progress) {
        auto dialog = std::make_unique<QProgressDialog>(m_progressParent); // owned by the walk
        dialog->setObjectName(QStringLiteral("ExportProgress"));
        dialog->setWindowTitle(QCoreApplication::applicationName());
        // Application-modal: events handled while it is up cannot reach the window whose
        // dataset is being walked.
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->setCancelButtonText(QStringLiteral("Cancel"));
        // The count of records written is the progress; a busy bar would only repaint, over
        // and over, time the walk needs.
        auto *bar = new QProgressBar; // owned by the dialog
        bar->setRange(0, 1);
        bar->setTextVisible(false);
        dialog->setBar(bar);
        bar->hide();
        dialog->setMinimumDuration(0);
        dialog->setAutoClose(false);
        dialog->setAutoReset(false);
        dialog->show();
        m_walk->progress = std::move(dialog);
    } else if (now - m_walk->lastUpdate < qMin(250, exportProgressDelayMs)) {
        return;
    }
    m_walk->lastUpdate = now;
    m_walk->progress->setLabelText(
        QStringLiteral("%1 records written").arg(m_walk->walk->written()));
}

void ExportRun::end(bool written, std::exception_ptr error)
{
    // The walk, the progress dialog and a file written aside go before the caller hears of the
    // end, so that it may free the dataset at once.
    if (!error && !written && m_walk->walk) {
        try {
            m_walk->walk->finish(); // a cancel keeps what was fetched ahead
        } catch (...) {
            error = std::current_exception();
        }
    }
    m_walk.reset();
    if (Done done = std::move(m_done))
        done(written, error);
}
