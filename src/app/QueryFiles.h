#pragma once

#include "app/EditorAccess.h"
#include "app/EditorRecovery.h"

#include <QObject>
#include <QStringList>

class QWidget;
class QFileDialog;
class QPlainTextEdit;
class QPrinter;

// The editor's query files: Load and Save Query in the file's own encoding (a file that is not
// UTF-8 on a UTF-8 system is read as Windows-1252 and written back in it), the unsaved-changes
// prompt, and the printing of SQL text. Owned by the window (Qt parent); UI thread only.
class QueryFiles : public QObject
{
    Q_OBJECT

public:
    QueryFiles(QWidget *window, QPlainTextEdit *editor, EditorAccess access);

    // Load Query: the unsaved-changes prompt, the open dialog OpenDialog1, the read.
    void load();
    // Save Query: the save dialog SaveDialog2, the overwrite prompt, the write.
    void save();
    // Print Query: the print dialog on `printer` (null: the printer chosen there), then the
    // editor's text as one job named by the window's title.
    void printQuery(QPrinter *printer);
    // The unsaved-changes prompt with its save; false when the user cancelled the save dialog or
    // chose not to write.
    bool offerToSave();
    // Prints `lines` in the editor's font as one job named `title`.
    void printText(QPrinter *printer, const QStringList &lines, const QString &title) const;

    // The editor's state for the recovery file but its text (gathered by the recovery itself):
    // the query file, its encoding, the cursor.
    RecoveredQuery recoverySnapshot() const;
    // Puts a recovered state back: the text as unsaved changes, the file and its encoding.
    void restore(const RecoveredQuery &recovered);

signals:
    void fileSaved(); // the editor's text was loaded from or written to a query file

private:
    // Writes the editor's text in the encoding of the query file loaded last.
    bool write(const QString &path); // false: the user chose not to write
    void setFileTitle(const QString &path);

    QWidget *m_window; // not owned: the window owns this room
    QPlainTextEdit *m_editor; // not owned: the SQL editor RE1
    EditorAccess m_access; // the editor's whole text and QueryChanged
    QFileDialog *m_saveDialog; // SaveDialog2, owned by the window (Qt parent)
    QFileDialog *m_openDialog; // OpenDialog1, owned by the window (Qt parent)
    bool m_windows1252File = false; // the query file loaded last was read as Windows-1252
    QString m_fileName; // the query file loaded or saved last
};
