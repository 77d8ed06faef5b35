#pragma once

#include "results/ExportProfile.h"

#include <QByteArray>
#include <QString>

class QueryDataset;
class QWidget;

// The walk and the text building shared by the export buttons and the benchmarks: the two
// layouts of the buttons in the system's 8-bit encoding with every line followed by CR LF, the
// profiles as ExportProfile.h says. A file export writes as it walks, through a
// temporary file that takes the target's place only once complete; a clipboard export builds
// the whole text in memory first. Either way a failure or a cancel leaves the target untouched.
// Runs on the UI thread over a dataset no worker owns.

// After this many milliseconds of walking a progress dialog with the number of records written
// and a Cancel button appears. Tests lower it to see the dialog on small results.
extern int exportProgressDelayMs;

// Walks the result from its first record: the header line, then one line per record, at most
// `limit` of them (every record when limit is negative). The record pointer is left where the
// walk stopped. Returns false, with `text` emptied, when the user cancelled in the progress
// dialog (parented to `progressParent`). Errors of the walk and of the cells throw.
bool buildExportText(QueryDataset &query, const ExportProfile &profile, int limit, QByteArray &text,
    QWidget *progressParent);

// Walks as buildExportText does and writes the lines to the file as they are built, through a
// temporary file that takes the target's place only once complete; the whole text is never held
// in memory. Returns false, leaving the file as it was, when the user cancelled. Throws, leaving
// the file as it was, what the walk throws, then "Cannot create file <name>" when the file
// cannot be created and "Unable to write to <name>: <reason>" when writing fails (a full disk).
bool writeExportFile(QueryDataset &query, const ExportProfile &profile, int limit,
    const QString &fileName, QWidget *progressParent);

// Replaces the clipboard's whole content with the text, as plain text.
void putTextOnClipboard(const QString &text);

// The export after its dialogs: writes the file or, when `toClipboard`, builds the text and
// puts it on the clipboard. Returns false when the user cancelled the walk.
bool exportResult(QueryDataset &query, const ExportProfile &profile, int limit, bool toClipboard,
    const QString &fileName, QWidget *progressParent);
