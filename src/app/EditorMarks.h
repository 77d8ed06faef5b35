#pragma once

#include "sql/SqlLexer.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QTextEdit>

class QColor;
class QComboBox;
class QPlainTextEdit;
class QWidget;

// The run path's marks in the editor: which statement the cursor stands in (or the selection),
// marked for a moment as it runs, and the place a driver's error message points to. It follows
// the alias chosen: the editor's text is read, and highlighted, in that alias's dialect. Owned
// by the window (Qt parent); UI thread only.
class EditorMarks : public QObject
{
public:
    // aliases: the alias box whose choice sets the dialect (none: DB2's).
    EditorMarks(QPlainTextEdit *editor, QWidget *window, QComboBox *aliases = nullptr);

    // The selection, or the statement at the cursor, as lines and where they start in the
    // editor; false when only blanks and comments are there (nothing to run).
    bool statementAtCursor(QStringList &lines, int &origin);
    // Where the driver's message points in the statement sent from the editor at origin: marked
    // and the cursor put there. When the message names a token the statement holds more than
    // once and says not which, the whole statement is marked instead.
    void markErrorPlace(const QString &message, const QString &sent, int origin);

    Sql::Dialect dialect() const { return m_dialect; }
    void setDialect(Sql::Dialect dialect); // the highlighter of the editor follows

    // The marks of an error in a statement sent (every line followed by CR LF) from the editor
    // at origin: the token the message points to, or the whole statement when it names a token
    // that occurs more than once, or nothing when it names no place; -1 when nothing is marked,
    // else where the mark starts.
    static int errorMarks(QPlainTextEdit *editor, const QString &message, const QString &sent,
        int origin, Sql::Dialect dialect, QList<QTextEdit::ExtraSelection> &marks);

private:
    void mark(int from, int to, const QColor &background); // until the next edit

    QPlainTextEdit *m_editor; // not owned: the window's
    QWidget *m_window; // not owned: the window owns this room
    Sql::Dialect m_dialect = Sql::Dialect::Db2;
};
