#include "results/Exporter.h"

#include "connection/QueryDataset.h"
#include "results/ValueText.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProgressDialog>
#include <QSaveFile>
#include <QStringEncoder>

#include <memory>
#include <stdexcept>
#include <vector>

int exportProgressDelayMs = 500;

namespace {

const QString nullText = QStringLiteral("<Null>");

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
class TextSink
{
public:
    explicit TextSink(QByteArray &out)
        : m_out(out)
        , m_encoder(QStringConverter::System)
    { }

    // Ends the line that was appended to batch; converts the batch once it is large enough.
    void endLine(QString &batch)
    {
        batch.append(QLatin1String("\r\n"));
        if (batch.size() >= BatchChars)
            flush(batch);
    }

    // Converts what is in batch and empties it, keeping its capacity.
    void flush(QString &batch)
    {
        const qsizetype used = m_out.size();
        m_out.resize(used + m_encoder.requiredSpace(batch.size()));
        char *end = m_encoder.appendToBuffer(m_out.data() + used, batch);
        m_out.resize(end - m_out.constData());
        batch.resize(0);
    }

private:
    static constexpr qsizetype BatchChars = 32768;
    QByteArray &m_out;
    QStringEncoder m_encoder;
};

} // namespace

bool buildExportText(
    QueryDataset &query, ExportFormat format, int limit, QByteArray &text, QWidget *progressParent)
{
    text.clear();
    TextSink sink(text);
    ExportProgress progress(progressParent);
    const int count = query.FieldCount();

    // The field descriptions are read once; a record only changes null flags and texts.
    std::vector<FieldInfo> fields(count);
    for (int i = 0; i < count; ++i) {
        fields[i].title = query.FieldTitle(i);
        fields[i].type = query.FieldType(i);
        fields[i].displayWidth = query.DisplayWidth(i);
    }

    query.GoFirst();
    QString line; // the lines not yet converted
    for (int i = 0; i < count; ++i) {
        if (format == ExportFormat::Report) {
            if (i > 0)
                line.append(QLatin1String("  "));
            appendReportHeaderCell(line, fields[i]);
        } else {
            if (i > 0)
                line.append(QLatin1Char(','));
            line.append(QLatin1Char('"')).append(fields[i].title).append(QLatin1Char('"'));
        }
    }
    sink.endLine(line);

    qint64 written = 0;
    while (!query.AtEof()) {
        if (limit >= 0 && written >= limit)
            break;
        if ((written & 255) == 0 && !progress.keepGoing(written)) {
            text.clear();
            return false;
        }
        for (int i = 0; i < count; ++i) {
            if (format == ExportFormat::Report) {
                FieldInfo &field = fields[i];
                field.text.resize(0); // keeps its capacity for the next record
                field.isNull = !query.appendFieldString(i, field.text);
                if (i > 0)
                    line.append(QLatin1String("  "));
                appendReportDataCell(line, field);
            } else {
                line.append(i > 0 ? QLatin1String(",\"") : QLatin1String("\""));
                if (!query.appendFieldString(i, line))
                    line.append(nullText);
                line.append(QLatin1Char('"'));
            }
        }
        sink.endLine(line);
        ++written;
        query.GoNext();
    }
    sink.flush(line);
    return true;
}

void writeExportFile(const QString &fileName, const QByteArray &text)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error(
            QStringLiteral("Cannot create file %1").arg(fileName).toStdString());
    // The explicit flush reports a short write of the buffered tail (a full disk) that
    // commit() alone would let through, putting a cut file in place.
    if (file.write(text) != text.size() || !file.flush() || !file.commit())
        throw std::runtime_error(QStringLiteral("Unable to write to %1: %2")
                                     .arg(fileName, file.errorString())
                                     .toStdString());
}

void putTextOnClipboard(const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
}

bool exportResult(QueryDataset &query, ExportFormat format, int limit, bool toClipboard,
    const QString &fileName, QWidget *progressParent)
{
    QByteArray text;
    if (!buildExportText(query, format, limit, text, progressParent))
        return false;
    if (toClipboard)
        putTextOnClipboard(QString::fromLocal8Bit(text));
    else
        writeExportFile(fileName, text);
    return true;
}
