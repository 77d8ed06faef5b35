#include "app/EditorMarks.h"

#include "app/AliasDialect.h"
#include "app/SqlHighlighter.h"
#include "sql/ErrorPlace.h"
#include "sql/SqlStatements.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>

EditorMarks::EditorMarks(QPlainTextEdit *editor, QWidget *window, QComboBox *aliases)
    : QObject(window)
    , m_editor(editor)
    , m_window(window)
{
    if (!aliases)
        return;
    connect(aliases, &QComboBox::currentTextChanged, this,
        [this](const QString &alias) { setDialect(aliasDialect(alias)); });
    setDialect(aliasDialect(aliases->currentText()));
}

void EditorMarks::setDialect(Sql::Dialect dialect)
{
    m_dialect = dialect;
    for (SqlHighlighter *highlighter : m_editor->findChildren<SqlHighlighter *>())
        highlighter->setDialect(dialect);
}

bool EditorMarks::statementAtCursor(QStringList &lines, int &origin)
{
    const QTextCursor cursor = m_editor->textCursor();
    const QString text = m_editor->toPlainText();
    int from = cursor.selectionStart();
    int to = cursor.selectionEnd();
    if (!cursor.hasSelection()) {
        const QVector<Sql::Statement> statements = Sql::splitStatements(text, m_dialect);
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

int EditorMarks::errorMarks(QPlainTextEdit *editor, const QString &message, const QString &sent,
    int origin, Sql::Dialect dialect, QList<QTextEdit::ExtraSelection> &marks)
{
    bool ambiguous = false;
    const int offset = Sql::errorPlace(sent, message, dialect, &ambiguous);
    if (offset < 0 && !ambiguous)
        return -1;
    // The text was sent with CR LF line ends, the editor holds LF alone.
    const auto editorOffset = [&sent, origin](int at) {
        return origin + at - int(QStringView(sent).left(at).count(u'\r'));
    };
    int from = 0;
    int to = 0;
    if (ambiguous) {
        // The statement from its first character to its last, blanks around it left out.
        int first = 0;
        int end = int(sent.size());
        while (first < end && sent[first].isSpace())
            ++first;
        while (end > first && sent[end - 1].isSpace())
            --end;
        from = editorOffset(first);
        to = editorOffset(end);
    } else {
        Sql::Lexer lexer(QStringView(sent).mid(offset), dialect);
        const Sql::Token token = lexer.next();
        from = editorOffset(offset);
        to = from + std::max(1, token.kind == Sql::TokenKind::End ? 1 : token.length);
    }
    const int last = editor->document()->characterCount() - 1;
    to = std::min(to, last);
    if (from > to)
        return -1;
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(editor->document());
    mark.cursor.setPosition(from);
    mark.cursor.setPosition(to, QTextCursor::KeepAnchor);
    mark.format.setBackground(QColor(255, 200, 200));
    marks.append(mark);
    return from;
}

void EditorMarks::markErrorPlace(const QString &message, const QString &sent, int origin)
{
    QList<QTextEdit::ExtraSelection> marks;
    const int position = errorMarks(m_editor, message, sent, origin, m_dialect, marks);
    if (position < 0)
        return;
    m_editor->setExtraSelections(marks);
    QTextCursor cursor = m_editor->textCursor();
    cursor.setPosition(position);
    m_editor->setTextCursor(cursor);
    m_editor->ensureCursorVisible();
    m_editor->setFocus();
}
