#pragma once

#include "results/ExportProfile.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <vector>

class QueryDataset;
class QWidget;

// The records an export takes, in their order (the rows the grid shows, of a result fetched
// whole); null for every record from the first, in fetched order.
using ShownRecords = std::shared_ptr<const std::vector<int>>;

// The walk and the text building shared by the export buttons and the benchmarks: the two
// layouts of the buttons in the system's 8-bit encoding with every line followed by CR LF, the
// profiles as ExportProfile.h says. A file export writes as it walks, through a TargetFile; a
// clipboard export builds the whole text in memory first. Either way a failure or a cancel leaves
// a file or the clipboard untouched.
// Runs on the UI thread over a dataset no worker owns.

// After this many milliseconds of walking a progress dialog with the number of records written
// and a Cancel button appears. Tests lower it to see the dialog on small results.
extern int exportProgressDelayMs;

// Walks the result from its first record: the header line, then one line per record, at most
// `limit` of them (every record when limit is negative); with `records`, those in their order. The
// record pointer is left where the walk stopped (the last record when they ran out, else the
// first one not written). Errors of the walk and of the cells throw. Shows no progress: the walk
// runs to its end.
void buildExportText(QueryDataset &query, const ExportProfile &profile, int limit, QByteArray &text,
    ShownRecords records = nullptr);

// Walks as buildExportText does and writes the lines to the file as they are built, as
// TargetFile does: a regular file never holds a cut text. Throws at once, before the walk, for a
// folder; throws what the walk throws; then "Cannot create file <name>" when the file cannot be
// created and "Unable to write to <name>: <reason>" when writing fails (a full disk, a device
// that takes nothing). The whole text is never held in memory.
void writeExportFile(QueryDataset &query, const ExportProfile &profile, int limit,
    const QString &fileName, ShownRecords records = nullptr);

// Replaces the clipboard's whole content with the text, as plain text.
void putTextOnClipboard(const QString &text);

// The export after its dialogs, walked to its end: writes the file or, when `toClipboard`,
// builds the text and puts it on the clipboard.
void exportResult(QueryDataset &query, const ExportProfile &profile, int limit, bool toClipboard,
    const QString &fileName, ShownRecords records = nullptr);

// The export after its dialogs, as the window runs it: the walk goes straight on until the
// progress dialog is due, then advances in short slices from the event loop while the
// application-modal dialog shows the records written and offers Cancel. The dataset must stay
// open and unmoved until done is called; destroying the run before then cancels it. UI thread.
class ExportRun : public QObject
{
    Q_OBJECT

public:
    // written: the file or the clipboard holds the export; false when cancelled or failed.
    // error: what ended the export, null when it was written or cancelled.
    using Done = std::function<void(bool written, std::exception_ptr error)>;

    // Throws, before anything is walked, for a folder (as writeExportFile does).
    ExportRun(QueryDataset &query, const ExportProfile &profile, int limit, bool toClipboard,
        const QString &fileName, QWidget *progressParent, ShownRecords records = nullptr);
    ~ExportRun() override;

    // Starts the walk; done is called once, at its end, possibly before start() returns.
    void start(Done done);

private:
    struct Walk;
    void advance(); // one slice
    void end(bool written, std::exception_ptr error);
    void showProgress();

    std::unique_ptr<Walk> m_walk;
    QWidget *m_progressParent; // not owned
    Done m_done;
};
