#include "app/ReplaceText.h"
#include "app/Unit1.h"
#include "history/HistoryStore.h"
#include "ui_Unit1.h"
#include "widgets/ReplaceDialog.h"

#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QSignalBlocker>
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

std::runtime_error fileError(const char *format, const QString &path)
{
    return std::runtime_error(
        QString::fromLatin1(format).arg(QDir::toNativeSeparators(path)).toStdString());
}

} // namespace

QStringList TForm1::controlLines(const QPlainTextEdit *edit)
{
    // Blocks come as paragraph separators and Shift+Enter breaks as line separators: both end
    // a line, so that no break inside the text goes unseen.
    QString raw = edit->document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    raw.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return HistoryStore::splitLines(raw);
}

QString TForm1::controlText(const QStringList &lines)
{
    // A final empty line needs one more break, since a final break ends a line without
    // starting another.
    QString text = lines.join(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        text += QLatin1Char('\n');
    return text;
}

QStringList TForm1::EditorLines() const
{
    return controlLines(ui->RE1);
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
        cursor.insertText(controlText(HistoryStore::splitLines(text)));
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

QString TForm1::chooseFile(QFileDialog *dialog)
{
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return QString();
    return dialog->selectedFiles().constFirst();
}

void TForm1::writeQueryFile(const QString &path)
{
    // Written aside and put in place at the end, so a failed write leaves the old file whole.
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    const QByteArray bytes = EditorText().toLocal8Bit();
    if (!file.open(QIODevice::WriteOnly))
        throw fileError("Cannot create file %1", path);
    // A full disk fails the write, not the creation: the message says so. The explicit flush
    // reports a short write that commit() alone would let through, putting a cut file in place.
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.commit())
        throw fileError("Unable to write to %1", path);
}

void TForm1::setFileTitle(const QString &path)
{
    setWindowTitle(
        titleText() + QLatin1String(" [") + QFileInfo(path).fileName() + QLatin1Char(']'));
}

bool TForm1::offerToSaveQuery()
{
    if (!QueryChanged)
        return true;
    const auto answer = QMessageBox::warning(this, QStringLiteral("WARNING"),
        QStringLiteral("Query has changed, do you wish to save it?"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return true;
    const QString path = chooseFile(SaveDialog2);
    if (path.isEmpty())
        return false;
    writeQueryFile(path); // an existing file is overwritten without asking
    setFileTitle(path);
    QueryChanged = false;
    return true;
}

void TForm1::SpeedButton7Click(QObject *)
{
    if (!offerToSaveQuery())
        return;
    const QString path = chooseFile(OpenDialog1);
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw fileError("Cannot open file %1", path);
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw fileError("Cannot open file %1", path);
    setEditorText(QString::fromLocal8Bit(bytes));
    setFileTitle(path);
    QueryChanged = false;
}

void TForm1::SpeedButton8Click(QObject *)
{
    const QString path = chooseFile(SaveDialog2);
    if (path.isEmpty())
        return;
    if (QFileInfo::exists(path)) {
        const auto answer = QMessageBox::question(this, QStringLiteral("File Exists"),
            QDir::toNativeSeparators(path) + QStringLiteral(" Exists, Overwrite? "),
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    writeQueryFile(path);
    setFileTitle(path);
    QueryChanged = false;
}

void TForm1::printText(QPrinter *printer, const QStringList &lines, const QString &title)
{
    if (!printer->isValid()
        || (printer->outputFormat() == QPrinter::NativeFormat && printer->printerName().isEmpty()))
        throw std::runtime_error("No printer is available");
    // One job, named by its document title; the text flows over as many pages as it needs.
    QTextDocument document;
    document.setDefaultFont(ui->RE1->font());
    document.setPlainText(lines.join(QLatin1Char('\n')));
    document.setMetaInformation(QTextDocument::DocumentTitle, title);
    printer->setDocName(title);
    document.print(printer);
    if (printer->printerState() == QPrinter::Error)
        throw std::runtime_error("Printing failed");
}

void TForm1::SpeedButton9Click(QObject *)
{
    QPrinter defaultPrinter;
    QPrinter *printer = PrinterOverride ? PrinterOverride : &defaultPrinter;
    QPrintDialog PrintDialog1(printer, this);
    PrintDialog1.setObjectName(QStringLiteral("PrintDialog1"));
    if (PrintDialog1.exec() != QDialog::Accepted)
        return;
    printText(printer, EditorLines(), windowTitle());
}
