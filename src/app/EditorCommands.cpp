#include "app/EditorCommands.h"

#include "app/Guard.h"
#include "app/ReplaceText.h"
#include "history/HistoryStore.h"
#include "widgets/ReplaceDialog.h"

#include <QClipboard>
#include <QFontDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <stdexcept>

namespace {

// Hands the key presses of one control to a handler, which tells whether it took them.
class KeyDownFilter : public QObject
{
public:
    KeyDownFilter(QObject *parent, std::function<bool(QKeyEvent *)> handler)
        : QObject(parent)
        , m_handler(std::move(handler))
    { }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::ShortcutOverride && isPasteKey(event)) {
            // Keep the key from any shortcut so that it reaches the key handler.
            event->accept();
            return true;
        }
        if (event->type() == QEvent::KeyPress)
            return m_handler(static_cast<QKeyEvent *>(event));
        return false;
    }

private:
    static bool isPasteKey(QEvent *event)
    {
        const auto *key = static_cast<QKeyEvent *>(event);
        return key->key() == Qt::Key_V && key->modifiers().testFlag(Qt::ControlModifier);
    }

    std::function<bool(QKeyEvent *)> m_handler;
};

// The clipboard keeps only its plain text (the empty text when it holds none).
void reduceClipboardToPlainText()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QString text = clipboard->text();
    clipboard->setText(text);
}

} // namespace

EditorCommands::EditorCommands(
    QWidget *window, QPlainTextEdit *editor, TReplaceDialog *replace, KeyDown keyDown)
    : QObject(window)
    , m_editor(editor)
    , m_replace(replace)
    , m_fontDialog(new QFontDialog(window)) // owned by the window
{
    m_fontDialog->setObjectName(QStringLiteral("FontDialog1"));
    m_fontDialog->setOption(QFontDialog::DontUseNativeDialog);
    auto *filter = new KeyDownFilter(editor, // owned by RE1
        [window, keyDown = std::move(keyDown)](QKeyEvent *event) {
            int key = event->key();
            bool taken = false;
            runGuarded(window, [&] {
                keyDown(key, event->modifiers());
                taken = key == 0;
            });
            // A paste key whose handler failed must not paste formatted text after all.
            return taken || (event->key() == Qt::Key_V && event->modifiers() & Qt::ControlModifier);
        });
    editor->installEventFilter(filter);
    // Connected after the document's own layout, which has not laid the new text out yet when
    // this runs: the text is laid out once, in the mode chosen here.
    connect(editor->document(), &QTextDocument::contentsChange, this,
        [this](int position, int removed, int added) {
            keepLongLinesUnwrapped(position, removed, added);
        });
}

void EditorCommands::keepLongLinesUnwrapped(int position, int removed, int added)
{
    // Wrapping a line with no place to break costs time that grows with the square of its
    // length (a 10 MB line took hours): while the text holds a line that long, the editor does
    // not wrap. A change can lengthen only the blocks it touches, which are looked at and marked,
    // so small edits that build a long line are seen as a large paste is.
    constexpr int LongLine = 20000;
    constexpr int LongMark = 1; // a block's user state: longer than LongLine
    QTextDocument *document = m_editor->document();
    const QTextBlock first = document->findBlock(position);
    const QTextBlock last = document->findBlock(position + added);
    bool wasLong = false;
    bool isLong = false;
    for (QTextBlock block = first; block.isValid(); block = block.next()) {
        wasLong = wasLong || block.userState() == LongMark;
        const bool longNow = block.length() > LongLine;
        block.setUserState(longNow ? LongMark : -1);
        isLong = isLong || longNow;
        if (block == last)
            break;
    }
    if (!isLong) {
        if (m_editor->lineWrapMode() != QPlainTextEdit::NoWrap)
            return;
        // A long line can have gone only from a touched block marked long, or from the first
        // block if the removal shortened it that much (a merge keeps the later block's mark):
        // only then, never per keystroke, is every block looked at.
        if (!wasLong && position - first.position() + removed < LongLine)
            return;
        for (QTextBlock block = document->begin(); block.isValid() && !isLong; block = block.next())
            isLong = block.userState() == LongMark;
    }
    m_editor->setLineWrapMode(isLong ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
}

void EditorCommands::undo()
{
    m_editor->undo();
}

void EditorCommands::copy()
{
    m_editor->copy();
    reduceClipboardToPlainText();
}

void EditorCommands::cut()
{
    m_editor->cut();
    reduceClipboardToPlainText();
}

void EditorCommands::paste()
{
    reduceClipboardToPlainText();
    m_editor->paste();
}

void EditorCommands::selectAll()
{
    m_editor->selectAll();
}

void EditorCommands::chooseFont()
{
    m_fontDialog->setCurrentFont(m_editor->font());
    if (m_fontDialog->exec() == QDialog::Accepted)
        m_editor->setFont(m_fontDialog->selectedFont());
}

void EditorCommands::showFindReplace()
{
    m_replace->show();
    m_replace->raise();
    m_replace->activateWindow();
}

QString EditorCommands::replaced(const QString &text) const
{
    const QString search = m_replace->FindText();
    const QString replacement = m_replace->ReplaceText();
    return m_replace->ReplaceAllPressed() ? ReplaceText::replaceAll(text, search, replacement)
                                          : ReplaceText::replaceFirst(text, search, replacement);
}

void EditorCommands::replaceText(const QString &text)
{
    // One edit, undoable as a whole; the signals wait until it is complete.
    const QSignalBlocker blocker(m_editor);
    QTextCursor cursor(m_editor->document());
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.insertText(textFor(HistoryStore::splitLines(text)));
    cursor.endEditBlock();
    cursor.movePosition(QTextCursor::Start);
    m_editor->setTextCursor(cursor);
}

void EditorCommands::refuseNulCharacter(const QStringList &lines)
{
    // The driver would read the text only up to a NUL, and so run just part of the statement.
    for (qsizetype line = 0; line < lines.size(); ++line)
        if (lines[line].contains(QChar(0)))
            throw std::runtime_error(QStringLiteral("Line %1 of the statement holds a NUL "
                                                    "character. The statement was not run.")
                                         .arg(line + 1)
                                         .toStdString());
}

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
