#pragma once

#include <QObject>
#include <QStringList>

class QColor;
class QPlainTextEdit;
class QWidget;

// The run path's marks in the editor: which statement the cursor stands in (or the selection),
// marked for a moment as it runs, and the place a driver's error message points to. Owned by
// the window (Qt parent); UI thread only.
class EditorMarks : public QObject
{
public:
    EditorMarks(QPlainTextEdit *editor, QWidget *window);

    // The selection, or the statement at the cursor, as lines and where they start in the
    // editor; false when only blanks and comments are there (nothing to run).
    bool statementAtCursor(QStringList &lines, int &origin);
    // Where the driver's message points in the statement sent from the editor at origin: marked
    // and the cursor put there.
    void markErrorPlace(const QString &message, const QString &sent, int origin);

private:
    void mark(int from, int to, const QColor &background); // until the next edit

    QPlainTextEdit *m_editor; // not owned: the window's
    QWidget *m_window; // not owned: the window owns this room
};
