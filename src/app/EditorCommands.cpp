#include "app/EditorCommands.h"

#include "history/HistoryStore.h"

#include <QPlainTextEdit>
#include <QTextDocument>

QStringList EditorCommands::linesOf(const QPlainTextEdit *edit)
{
    // Blocks come as paragraph separators and Shift+Enter breaks as line separators: both end
    // a line, so that no break inside the text goes unseen.
    QString raw = edit->document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    raw.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return HistoryStore::splitLines(raw);
}

QString EditorCommands::textFor(const QStringList &lines)
{
    // A final empty line needs one more break, since a final break ends a line without
    // starting another.
    QString text = lines.join(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        text += QLatin1Char('\n');
    return text;
}
