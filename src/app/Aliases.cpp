#include "app/Aliases.h"

#include "connection/Session.h"

#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <stdexcept>

void EnsureAlias(const QString &name, const QString &dsn)
{
    Session &session = Session::instance();
    if (session.AliasExists(name))
        return; // an existing alias is never changed, whatever its parameters
    const QStringList params { QStringLiteral("DB2 DSN=") + dsn,
        QStringLiteral("SQLPASSTHRU MODE=SHARED NOAUTOCOMMIT") };
    session.CreateAlias(name, QStringLiteral("DB2"), params);
    session.SaveAliasConfig();
}

void SetDB2Isolation()
{
    // The DB2 client's machine-wide settings; reading them never creates them.
    const QSettings db2(QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("IBM"),
        QStringLiteral("DB2"));
    const QString valueName = QStringLiteral("DB2 Path Name");
    const QVariant value = db2.value(valueName);
    if (!value.isValid())
        return;
    if (value.typeId() != QMetaType::QString)
        throw std::runtime_error("Invalid data type for '" + valueName.toStdString() + "'");
    if (value.toString().isEmpty())
        return;
    const QString path = AppendBackslash(value.toString()) + QStringLiteral("db2cli.ini");
    WriteIniString(
        path, QStringLiteral("DB2P201"), QStringLiteral("TXNISOLATION"), QStringLiteral("1"));
    WriteIniString(
        path, QStringLiteral("DB2P401"), QStringLiteral("TXNISOLATION"), QStringLiteral("1"));
}

QString AppendBackslash(const QString &text)
{
#ifdef Q_OS_WIN
    const QChar separator = QLatin1Char('\\');
#else
    // A backslash is an ordinary file name character here.
    const QChar separator = QLatin1Char('/');
#endif
    // Blanks and control characters count as white space at both ends.
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= ' ')
        ++first;
    while (last > first && text.at(last - 1).unicode() <= ' ')
        --last;
    QString result = text.mid(first, last - first);
    if (!result.endsWith(separator))
        result += separator;
    return result;
}

namespace {

// "[name]" (blanks allowed around the name) names a section; names compare ignoring case.
bool isSection(const QByteArray &line, QByteArray *name)
{
    const QByteArray text = line.trimmed();
    if (!text.startsWith('[') || !text.endsWith(']'))
        return false;
    *name = text.mid(1, text.size() - 2).trimmed();
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

void WriteIniString(
    const QString &path, const QString &section, const QString &key, const QString &value)
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
    const QByteArray keyName = key.toLocal8Bit();
    const QByteArray entry = keyName + '=' + value.toLocal8Bit();
    const QByteArray newLineEnd = crlf ? QByteArray("\r") : QByteArray();

    qsizetype sectionStart = -1; // the section's header line
    qsizetype insertAt = -1; // after the section's last non-blank line
    bool replaced = false;
    for (qsizetype i = 0; i < lines.size() && !replaced; ++i) {
        QByteArray name;
        if (isSection(lines.at(i), &name)) {
            if (sectionStart >= 0)
                break; // past the section
            if (name.compare(sectionName, Qt::CaseInsensitive) == 0) {
                sectionStart = i;
                insertAt = i + 1;
            }
        } else if (sectionStart >= 0) {
            if (isKey(lines.at(i), keyName)) {
                lines[i] = entry + (lines.at(i).endsWith('\r') ? QByteArray("\r") : QByteArray());
                replaced = true;
            } else if (!lines.at(i).trimmed().isEmpty()) {
                insertAt = i + 1;
            }
        }
    }
    if (sectionStart < 0) {
        lines.append('[' + sectionName + ']' + newLineEnd);
        lines.append(entry + newLineEnd);
        finalBreak = true;
    } else if (!replaced) {
        if (insertAt == lines.size())
            finalBreak = true;
        lines.insert(insertAt, entry + newLineEnd);
    }

    QByteArray output = lines.join('\n');
    if (finalBreak)
        output += '\n';

    QSaveFile file(path);
    // A folder where no temporary file may be created still lets a writable file be updated.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(output) != output.size() || !file.commit())
        unableToWrite(path);
}
