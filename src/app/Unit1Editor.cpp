#include "app/EditorRecovery.h"
#include "app/ReplaceText.h"
#include "app/Unit1.h"
#include "history/HistoryStore.h"
#include "results/Exporter.h"
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
#include <QSignalBlocker>
#include <QStringDecoder>
#include <QStringEncoder>
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

std::runtime_error fileError(const char *format, const QString &path)
{
    return std::runtime_error(
        QString::fromLatin1(format).arg(QDir::toNativeSeparators(path)).toStdString());
}

// Windows-1252 as browsers read it: every byte stands for one character (the five bytes the code
// page leaves unassigned for the C1 controls of the same number), so a file read this way is
// written back byte for byte. The bytes 0x80 to 0x9F; the others are Latin-1.
constexpr char16_t windows1252C1[32] = { 0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020,
    0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019,
    0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E,
    0x0178 };

QString fromWindows1252(const QByteArray &bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        text[i] = QChar(byte >= 0x80 && byte < 0xA0 ? windows1252C1[byte - 0x80] : char16_t(byte));
    }
    return text;
}

// The Windows-1252 byte of a character, or -1 when the code page has none.
int windows1252Byte(char32_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return int(c);
    for (int i = 0; i < 32; ++i)
        if (windows1252C1[i] == c)
            return 0x80 + i;
    return -1;
}

// True when the system's 8-bit encoding, the one query files are normally read in, is UTF-8.
bool localIsUtf8()
{
    return QString::fromLocal8Bit("\xC3\xA9") == QString(QChar(0xE9));
}

bool isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = decoder.decode(bytes); // only to learn whether it fails
    Q_UNUSED(decoded);
    return !decoder.hasError();
}

// The length in UTF-16 units of the character at `i`: 2 for a surrogate pair, else 1.
qsizetype characterLength(const QString &text, qsizetype i)
{
    return text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
}

// A query file's bytes in its encoding; `bad` gets the position of the first character that the
// encoding cannot hold, or -1.
QByteArray encodeQueryFile(const QString &text, bool windows1252, qsizetype &bad)
{
    bad = -1;
    QByteArray bytes;
    if (windows1252) {
        bytes.reserve(text.size());
        for (qsizetype i = 0; i < text.size(); i += characterLength(text, i)) {
            const int byte = windows1252Byte(characterLength(text, i) == 2
                    ? QChar::surrogateToUcs4(text[i], text[i + 1])
                    : char32_t(text[i].unicode()));
            if (byte < 0) {
                bad = i;
                return QByteArray();
            }
            bytes += char(byte);
        }
        return bytes;
    }
    QStringEncoder encoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    bytes = encoder(text);
    if (!encoder.hasError())
        return bytes;
    // Found again character by character: only a failed save pays for that.
    for (qsizetype i = 0; i < text.size(); i += characterLength(text, i)) {
        QStringEncoder single(QStringConverter::System, QStringConverter::Flag::Stateless);
        const QByteArray piece = single(QStringView(text).mid(i, characterLength(text, i)));
        if (single.hasError()) {
            bad = i;
            return QByteArray();
        }
    }
    bad = 0;
    return QByteArray();
}

// Names the first character at `bad` that the encoding of the file at `path` cannot hold.
QString cannotHoldText(
    const QString &text, qsizetype bad, const QString &path, const QString &encoding)
{
    const char32_t c = characterLength(text, bad) == 2
        ? QChar::surrogateToUcs4(text[bad], text[bad + 1])
        : char32_t(text[bad].unicode());
    const QString name = QChar::isPrint(c)
        ? QStringLiteral("\"%1\" ").arg(QStringView(text).mid(bad, characterLength(text, bad)))
        : QString();
    return QStringLiteral("Line %1 holds the character %2(U+%3), which the encoding of %4 (%5) "
                          "cannot hold.")
        .arg(text.left(bad).count(QLatin1Char('\n')) + 1)
        .arg(name)
        .arg(QString::number(uint(c), 16).toUpper().rightJustified(4, QLatin1Char('0')))
        .arg(QDir::toNativeSeparators(path), encoding);
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

QString TForm1::chooseFile(QFileDialog *dialog)
{
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return QString();
    return dialog->selectedFiles().constFirst();
}

bool TForm1::writeQueryFile(const QString &path)
{
    // In the encoding of the file loaded last. A Windows-1252 text that gained a character the
    // code page lacks may go to UTF-8, which holds every character, if the user agrees; from
    // then on the text is UTF-8. Otherwise a character the encoding cannot hold stops the save
    // before anything is written.
    const QString text = EditorText();
    qsizetype bad = -1;
    QByteArray bytes = encodeQueryFile(text, m_windows1252File, bad);
    const bool toUtf8 = bad >= 0 && m_windows1252File;
    if (toUtf8) {
        const auto answer = QMessageBox::question(this, QStringLiteral("Save Query"),
            cannotHoldText(text, bad, path, QStringLiteral("Windows-1252"))
                + QStringLiteral(" Save it as UTF-8? If not, nothing is written."),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        if (answer != QMessageBox::Yes)
            return false;
        bytes = encodeQueryFile(text, false, bad);
    }
    if (bad >= 0)
        throw std::runtime_error((cannotHoldText(text, bad, path, QStringLiteral("UTF-8"))
            + QStringLiteral(" Nothing was written."))
                                     .toStdString());
    // Written aside and put in place at the end where it can be, so a failed write leaves the old
    // file whole; a FIFO or a device is written directly.
    TargetFile file(path);
    if (!file.open())
        throw fileError("Cannot create file %1", path);
    // A full disk fails the write, not the creation: the message says so.
    if (file.device().write(bytes) != bytes.size() || !file.commit())
        throw fileError("Unable to write to %1", path);
    if (toUtf8)
        m_windows1252File = false;
    return true;
}

void TForm1::setFileTitle(const QString &path)
{
    m_queryFile = path;
    m_recovery->fileSaved(); // the text is in a query file now
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
    if (!writeQueryFile(path)) // an existing file is overwritten without asking
        return false;
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
    // A file that is not UTF-8 on a UTF-8 system was written in an 8-bit code page: it is read
    // as Windows-1252, and saved in it again.
    const bool windows1252 = localIsUtf8() && !isValidUtf8(bytes);
    setEditorText(windows1252 ? fromWindows1252(bytes) : QString::fromLocal8Bit(bytes));
    m_windows1252File = windows1252;
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
    if (!writeQueryFile(path))
        return;
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
    QPrinter *printer = m_options.printer ? m_options.printer : &defaultPrinter;
    QPrintDialog PrintDialog1(printer, this);
    PrintDialog1.setObjectName(QStringLiteral("PrintDialog1"));
    if (PrintDialog1.exec() != QDialog::Accepted)
        return;
    printText(printer, EditorLines(), windowTitle());
}
