#pragma once

#include <QByteArray>
#include <QString>

class QueryDataset;
class QWidget;

// The walk and the text building shared by the export buttons and the benchmarks. The whole text
// is built in memory in the system's 8-bit encoding, every line followed by CR LF, and only then
// written to a file or the clipboard, so that a failure or a cancel leaves both untouched. Runs
// on the UI thread over a dataset no worker owns.

enum class ExportFormat { CommaQuote, Report };

// After this many milliseconds of walking a progress dialog with the number of records written
// and a Cancel button appears. Tests lower it to see the dialog on small results.
extern int exportProgressDelayMs;

// Walks the result from its first record: the header line, then one line per record, at most
// `limit` of them (every record when limit is negative). The record pointer is left where the
// walk stopped. Returns false, with `text` emptied, when the user cancelled in the progress
// dialog (parented to `progressParent`). Errors of the walk and of the cells throw.
bool buildExportText(
    QueryDataset &query, ExportFormat format, int limit, QByteArray &text, QWidget *progressParent);

// Replaces the file's content with the text, through a temporary file that takes the target's
// place only once complete. Throws "Cannot create file <name>" when it cannot be created and
// "Unable to write to <name>: <reason>" when writing fails.
void writeExportFile(const QString &fileName, const QByteArray &text);

// Replaces the clipboard's whole content with the text, as plain text.
void putTextOnClipboard(const QString &text);

// The export after its dialogs: builds the text, then writes it to the file or, when
// `toClipboard`, to the clipboard. Returns false when the user cancelled the walk.
bool exportResult(QueryDataset &query, ExportFormat format, int limit, bool toClipboard,
    const QString &fileName, QWidget *progressParent);
