#include "app/QueryFiles.h"

#include "app/FileDialogs.h"
#include "app/Guard.h"
#include "app/WindowLifecycle.h"
#include "results/TargetFile.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTextCursor>
#include <QTextDocument>

#include <stdexcept>

namespace {

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

QueryFiles::QueryFiles(QWidget *window, QPlainTextEdit *editor, EditorAccess access)
    : QObject(window)
    , m_window(window)
    , m_editor(editor)
    , m_access(std::move(access))
    , m_saveDialog(FileDialogs::make(window, QStringLiteral("SaveDialog2"),
          { tr("SQL Files (*.sql)"), tr("TXT Files (*.txt)"), tr("Any File (*.*)") },
          QStringLiteral("sql"), true))
    , m_openDialog(FileDialogs::make(window, QStringLiteral("OpenDialog1"),
          { tr("SQL Files (*.sql)"), tr("TXT Files (*.txt)"), tr("All Files (*.*)") },
          QStringLiteral("sql"), false))
{ }

bool QueryFiles::write(const QString &path)
{
    // In the encoding of the file loaded last. A Windows-1252 text that gained a character the
    // code page lacks may go to UTF-8, which holds every character, if the user agrees; from
    // then on the text is UTF-8. Otherwise a character the encoding cannot hold stops the save
    // before anything is written.
    const QString text = m_access.text();
    qsizetype bad = -1;
    QByteArray bytes = encodeQueryFile(text, m_windows1252File, bad);
    const bool toUtf8 = bad >= 0 && m_windows1252File;
    if (toUtf8) {
        const auto answer = QMessageBox::question(m_window, QStringLiteral("Save Query"),
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

void QueryFiles::setFileTitle(const QString &path)
{
    m_fileName = path;
    emit fileSaved();
    m_window->setWindowTitle(WindowLifecycle::titleText() + QLatin1String(" [")
        + QFileInfo(path).fileName() + QLatin1Char(']'));
}

bool QueryFiles::offerToSave()
{
    if (!*m_access.changed)
        return true;
    const auto answer = QMessageBox::warning(m_window, QStringLiteral("WARNING"),
        QStringLiteral("Query has changed, do you wish to save it?"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return true;
    const QString path = FileDialogs::choose(m_saveDialog);
    if (path.isEmpty())
        return false;
    if (!write(path)) // an existing file is overwritten without asking
        return false;
    setFileTitle(path);
    *m_access.changed = false;
    return true;
}

void QueryFiles::load()
{
    if (!offerToSave())
        return;
    const QString path = FileDialogs::choose(m_openDialog);
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
    m_access.replace(windows1252 ? fromWindows1252(bytes) : QString::fromLocal8Bit(bytes));
    m_windows1252File = windows1252;
    setFileTitle(path);
    *m_access.changed = false;
}

void QueryFiles::save()
{
    const QString path = FileDialogs::choose(m_saveDialog);
    if (path.isEmpty())
        return;
    if (QFileInfo::exists(path)) {
        const auto answer = QMessageBox::question(m_window, QStringLiteral("File Exists"),
            QDir::toNativeSeparators(path) + QStringLiteral(" Exists, Overwrite? "),
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    if (!write(path))
        return;
    setFileTitle(path);
    *m_access.changed = false;
}

void QueryFiles::printText(QPrinter *printer, const QStringList &lines, const QString &title) const
{
    if (!printer->isValid()
        || (printer->outputFormat() == QPrinter::NativeFormat && printer->printerName().isEmpty()))
        throw std::runtime_error("No printer is available");
    // One job, named by its document title; the text flows over as many pages as it needs.
    QTextDocument document;
    document.setDefaultFont(m_editor->font());
    document.setPlainText(lines.join(QLatin1Char('\n')));
    document.setMetaInformation(QTextDocument::DocumentTitle, title);
    printer->setDocName(title);
    document.print(printer);
    if (printer->printerState() == QPrinter::Error)
        throw std::runtime_error("Printing failed");
}

void QueryFiles::printQuery(QPrinter *printer)
{
    QPrinter defaultPrinter;
    if (!printer)
        printer = &defaultPrinter;
    QPrintDialog PrintDialog1(printer, m_window);
    PrintDialog1.setObjectName(QStringLiteral("PrintDialog1"));
    if (PrintDialog1.exec() != QDialog::Accepted)
        return;
    printText(printer, m_access.lines(), m_window->windowTitle());
}

RecoveredQuery QueryFiles::recoverySnapshot() const
{
    return { QString(), m_fileName,
        m_windows1252File ? QByteArrayLiteral("windows-1252") : QByteArrayLiteral("UTF-8"),
        m_editor->textCursor().position(), {}, {} };
}

void QueryFiles::restore(const RecoveredQuery &recovered)
{
    m_access.replace(recovered.text);
    m_fileName = recovered.fileName;
    m_windows1252File = recovered.encoding == "windows-1252";
    QTextCursor cursor = m_editor->textCursor();
    cursor.setPosition(std::min(recovered.cursor, int(recovered.text.size())));
    m_editor->setTextCursor(cursor);
}
