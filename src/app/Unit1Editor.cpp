#include "app/EditorCommands.h"
#include "app/QueryFiles.h"
#include "app/ReplaceText.h"
#include "app/Unit1.h"
#include "history/HistoryStore.h"
#include "ui_Unit1.h"
#include "widgets/ReplaceDialog.h"

#include <QClipboard>
#include <QFontDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <functional>
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

QStringList TForm1::EditorLines() const
{
    return EditorCommands::linesOf(ui->RE1);
}

QString TForm1::EditorText() const
{
    return HistoryStore::joinLines(EditorLines());
}

void TForm1::setEditorText(const QString &text)
{
    {
        // One edit, undoable as a whole, and one change notification once it is complete.
        const QSignalBlocker blocker(ui->RE1);
        QTextCursor cursor(ui->RE1->document());
        cursor.beginEditBlock();
        cursor.select(QTextCursor::Document);
        cursor.insertText(EditorCommands::textFor(HistoryStore::splitLines(text)));
        cursor.endEditBlock();
        cursor.movePosition(QTextCursor::Start);
        ui->RE1->setTextCursor(cursor);
    }
    RE1Change(ui->RE1);
}

void TForm1::setupEditor()
{
    auto *filter = new KeyDownFilter(ui->RE1, [this](QKeyEvent *event) { // owned by RE1
        int key = event->key();
        bool taken = false;
        runGuarded(this, [&] {
            RE1KeyDown(ui->RE1, key, event->modifiers());
            taken = key == 0;
        });
        // A paste key whose handler failed must not paste formatted text after all.
        return taken || (event->key() == Qt::Key_V && event->modifiers() & Qt::ControlModifier);
    });
    ui->RE1->installEventFilter(filter);
    wire(ReplaceDialog1, &TReplaceDialog::Replace, &TForm1::ReplaceDialog1Replace);
    // Connected after the document's own layout, which has not laid the new text out yet when
    // this runs: the text is laid out once, in the mode chosen here.
    connect(ui->RE1->document(), &QTextDocument::contentsChange, this,
        [this](int position, int removed, int added) {
            keepLongLinesUnwrapped(position, removed, added);
        });
}

void TForm1::keepLongLinesUnwrapped(int position, int removed, int added)
{
    // Wrapping a line with no place to break costs time that grows with the square of its
    // length (a 10 MB line took hours): while the text holds a line that long, the editor does
    // not wrap. A change can lengthen only the blocks it touches, which are looked at and marked,
    // so small edits that build a long line are seen as a large paste is.
    constexpr int LongLine = 20000;
    constexpr int LongMark = 1; // a block's user state: longer than LongLine
    QTextDocument *document = ui->RE1->document();
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
        if (ui->RE1->lineWrapMode() != QPlainTextEdit::NoWrap)
            return;
        // A long line can have gone only from a touched block marked long, or from the first
        // block if the removal shortened it that much (a merge keeps the later block's mark):
        // only then, never per keystroke, is every block looked at.
        if (!wasLong && position - first.position() + removed < LongLine)
            return;
        for (QTextBlock block = document->begin(); block.isValid() && !isLong; block = block.next())
            isLong = block.userState() == LongMark;
    }
    ui->RE1->setLineWrapMode(isLong ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
}

void TForm1::RE1Change(QObject *)
{
    QueryChanged = true;
}

void TForm1::RE1KeyDown(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift)
{
    if (Key == Qt::Key_V && Shift.testFlag(Qt::ControlModifier)) {
        Paste1Click(Sender);
        Key = 0;
    }
}

void TForm1::Undo1Click(QObject *)
{
    ui->RE1->undo();
}

void TForm1::Copy1Click(QObject *)
{
    ui->RE1->copy();
    reduceClipboardToPlainText();
}

void TForm1::Cut1Click(QObject *)
{
    ui->RE1->cut();
    reduceClipboardToPlainText();
}

void TForm1::Paste1Click(QObject *)
{
    reduceClipboardToPlainText();
    ui->RE1->paste();
}

void TForm1::SelectAll1Click(QObject *)
{
    ui->RE1->selectAll();
}

void TForm1::Font2Click(QObject *)
{
    FontDialog1->setCurrentFont(ui->RE1->font());
    if (FontDialog1->exec() == QDialog::Accepted)
        ui->RE1->setFont(FontDialog1->selectedFont());
}

void TForm1::FindReplace1Click(QObject *)
{
    ReplaceDialog1->show();
    ReplaceDialog1->raise();
    ReplaceDialog1->activateWindow();
}

void TForm1::ReplaceDialog1Replace(QObject *)
{
    const QString text = EditorText();
    const QString search = ReplaceDialog1->FindText();
    const QString replacement = ReplaceDialog1->ReplaceText();
    // The text is set again even when nothing matched: the editor counts as changed.
    setEditorText(ReplaceDialog1->ReplaceAllPressed()
            ? ReplaceText::replaceAll(text, search, replacement)
            : ReplaceText::replaceFirst(text, search, replacement));
}

void TForm1::refuseNulCharacter() const
{
    // The driver would read the text only up to a NUL, and so run just part of the statement.
    const QStringList lines = EditorLines();
    for (qsizetype line = 0; line < lines.size(); ++line)
        if (lines[line].contains(QChar(0)))
            throw std::runtime_error(QStringLiteral("Line %1 of the statement holds a NUL "
                                                    "character. The statement was not run.")
                                         .arg(line + 1)
                                         .toStdString());
}

void TForm1::SpeedButton7Click(QObject *)
{
    m_queryFiles->load();
}

void TForm1::SpeedButton8Click(QObject *)
{
    m_queryFiles->save();
}

void TForm1::SpeedButton9Click(QObject *)
{
    m_queryFiles->printQuery(PrinterOverride);
}
