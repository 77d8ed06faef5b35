#include "app/EditorMarks.h"

#include "sql/ErrorPlace.h"
#include "sql/SqlLexer.h"
#include "sql/SqlStatements.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>

EditorMarks::EditorMarks(QPlainTextEdit *editor, QWidget *window)
    : QObject(window)
    , m_editor(editor)
    , m_window(window)
{ }

bool EditorMarks::statementAtCursor(QStringList &lines, int &origin)
{
    const QTextCursor cursor = m_editor->textCursor();
    const QString text = m_editor->toPlainText();
    int from = cursor.selectionStart();
    int to = cursor.selectionEnd();
    if (!cursor.hasSelection()) {
        const QVector<Sql::Statement> statements = Sql::splitStatements(text);
        const int at = Sql::statementAt(text, statements, cursor.position());
        if (at < 0)
            return false;
        from = statements[at].begin;
        to = statements[at].end;
    }
    if (text.mid(from, to - from).trimmed().isEmpty())
        return false;
    lines = text.mid(from, to - from).split(QLatin1Char('\n'));
    origin = from;
    // The range about to run is marked for a moment.
    mark(from, to, m_window->palette().color(QPalette::Highlight).lighter(170));
    QTimer::singleShot(800, this, [this] { m_editor->setExtraSelections({}); });
    return true;
}

void EditorMarks::mark(int from, int to, const QColor &background)
{
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(m_editor->document());
    mark.cursor.setPosition(from);
    mark.cursor.setPosition(to, QTextCursor::KeepAnchor);
    mark.format.setBackground(background);
    m_editor->setExtraSelections({ mark });
}

void EditorMarks::markErrorPlace(const QString &message, const QString &sent, int origin)
{
    const int offset = Sql::errorPlace(sent, message);
    if (offset < 0)
        return;
    // The text was sent with CR LF line ends, the editor holds LF alone.
    const int position = origin + offset - int(QStringView(sent).left(offset).count(u'\r'));
    Sql::Lexer lexer(QStringView(sent).mid(offset));
    const Sql::Token token = lexer.next();
    const int length = std::max(1, token.kind == Sql::TokenKind::End ? 1 : token.length);
    const int end = std::min(position + length, m_editor->document()->characterCount() - 1);
    if (position > end)
        return;
    mark(position, end, QColor(255, 200, 200));
    QTextCursor cursor = m_editor->textCursor();
    cursor.setPosition(position);
    m_editor->setTextCursor(cursor);
    m_editor->ensureCursorVisible();
    m_editor->setFocus();
}
