#include "settings/IniFile.h"

#include <QFile>
#include <QSaveFile>

#include <stdexcept>

namespace {

const QByteArray byteOrderMark("\xEF\xBB\xBF");

// A header is "[name]", optionally indented, followed by nothing but blanks or a comment
// ("[DB2P201] ; prod"). The name is compared without its surrounding blanks.
bool isSection(const QByteArray &line, QByteArray *name)
{
    const QByteArray text = line.trimmed();
    if (!text.startsWith('['))
        return false;
    const qsizetype close = text.indexOf(']');
    if (close < 0)
        return false;
    const QByteArray rest = text.mid(close + 1).trimmed();
    if (!rest.isEmpty() && !rest.startsWith(';') && !rest.startsWith('#'))
        return false;
    *name = text.mid(1, close - 1).trimmed();
    return true;
}

bool isKey(const QByteArray &line, const QByteArray &key)
{
    const qsizetype equals = line.indexOf('=');
    return equals >= 0 && line.left(equals).trimmed().compare(key, Qt::CaseInsensitive) == 0;
}

[[noreturn]] void unableToWrite(const QString &path)
{
    throw std::runtime_error((QStringLiteral("Unable to write to ") + path).toStdString());
}

} // namespace

void WriteIniStrings(
    const QString &path, const QString &section, const QList<QPair<QString, QString>> &entries)
{
    // The file is handled as bytes, line by line with each line's own ending, so that every line
    // the write does not touch stays exactly as it was, whatever its encoding.
    QByteArray content;
    QFile existing(path);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            unableToWrite(path);
        content = existing.readAll();
        existing.close();
    }
    // A byte-order mark belongs to the file, not to its first line: kept, and skipped here.
    const bool hasMark = content.startsWith(byteOrderMark);
    if (hasMark)
        content.remove(0, byteOrderMark.size());
#ifdef Q_OS_WIN
    const bool crlf = content.isEmpty() || content.contains("\r\n");
#else
    const bool crlf = content.contains("\r\n");
#endif
    bool finalBreak = content.endsWith('\n');
    QList<QByteArray> lines; // without '\n'; a CR before it stays part of the line
    if (!content.isEmpty()) {
        lines = content.split('\n');
        if (finalBreak)
            lines.removeLast(); // the empty text after the last line break
    }

    const QByteArray sectionName = section.toLocal8Bit();
    const QByteArray newLineEnd = crlf ? QByteArray("\r") : QByteArray();

    // The section's lines run from its header to the next header or the end of the file.
    qsizetype sectionStart = -1;
    qsizetype sectionEnd = lines.size();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray name;
        if (!isSection(lines.at(i), &name))
            continue;
        if (sectionStart >= 0) {
            sectionEnd = i;
            break;
        }
        if (name.compare(sectionName, Qt::CaseInsensitive) == 0)
            sectionStart = i;
    }
    if (sectionStart < 0) {
        lines.append('[' + sectionName + ']' + newLineEnd);
        sectionStart = lines.size() - 1;
        sectionEnd = lines.size();
        finalBreak = true;
    }

    for (const auto &[key, value] : entries) {
        const QByteArray keyName = key.toLocal8Bit();
        const QByteArray entry = keyName + '=' + value.toLocal8Bit();
        qsizetype insertAt = sectionStart + 1; // after the section's last non-blank line
        bool replaced = false;
        for (qsizetype i = sectionStart + 1; i < sectionEnd && !replaced; ++i) {
            if (isKey(lines.at(i), keyName)) {
                lines[i] = entry + (lines.at(i).endsWith('\r') ? QByteArray("\r") : QByteArray());
                replaced = true;
            } else if (!lines.at(i).trimmed().isEmpty()) {
                insertAt = i + 1;
            }
        }
        if (replaced)
            continue;
        if (insertAt == lines.size())
            finalBreak = true;
        lines.insert(insertAt, entry + newLineEnd);
        ++sectionEnd;
    }

    QByteArray output = lines.join('\n');
    if (finalBreak)
        output += '\n';
    if (hasMark)
        output.prepend(byteOrderMark);

    QSaveFile file(path);
    // A folder where no temporary file may be created still lets a writable file be updated.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(output) != output.size() || !file.commit())
        unableToWrite(path);
}

void WriteIniString(
    const QString &path, const QString &section, const QString &key, const QString &value)
{
    WriteIniStrings(path, section, { { key, value } });
}
