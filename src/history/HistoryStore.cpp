#include "history/HistoryStore.h"

#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSettings>
#include <QVariant>

#include <atomic>
#include <stdexcept>

#if defined(Q_OS_UNIX)
#include <cstdio>
#include <unistd.h>
#endif

namespace {

// Writes the settings' changes to their file and tells whether the file on disk now holds them
// all. QSettings writes through QSaveFile, whose commit lets a short write of the buffered tail
// pass (a full disk) and puts the cut file in place of the whole old one, with no error. So the
// old file is kept under a second name (a hard link: no space needed) until the new one reads
// back with every value, and is put back when it does not.
bool syncWhole(QSettings &settings)
{
#if defined(Q_OS_UNIX)
    const QString path = settings.fileName();
    if (settings.format() != QSettings::NativeFormat && settings.format() != QSettings::IniFormat) {
        settings.sync();
        return settings.status() == QSettings::NoError;
    }
    QMap<QString, QVariant> expected;
    for (const QString &key : settings.allKeys())
        expected.insert(key, settings.value(key));
    const QByteArray file = QFile::encodeName(path);
    const QByteArray kept = file + ".kept";
    ::unlink(kept.constData());
    const bool keeping = ::link(file.constData(), kept.constData()) == 0;
    settings.sync();
    bool whole = settings.status() == QSettings::NoError;
    if (whole) {
        // Read back under a name of its own: QSettings shares what it read of a file between
        // the objects of one process, and would answer from memory instead of the disk.
        static std::atomic<int> checks { 0 };
        const QByteArray check = file + ".check" + QByteArray::number(++checks);
        whole = ::link(file.constData(), check.constData()) == 0;
        if (whole) {
            const QSettings written(QFile::decodeName(check), settings.format());
            whole = written.allKeys().size() == expected.size();
            for (auto it = expected.cbegin(); whole && it != expected.cend(); ++it)
                whole = written.value(it.key()) == it.value();
            ::unlink(check.constData());
        }
    }
    if (!whole && keeping)
        ::rename(kept.constData(), file.constData());
    else if (keeping)
        ::unlink(kept.constData());
    return whole;
#else
    settings.sync();
    return settings.status() == QSettings::NoError;
#endif
}

} // namespace

namespace HistoryStore {

QString valueName(int index)
{
    return QStringLiteral("History%1").arg(index);
}

QStringList splitLines(const QString &text)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = text.split(lineBreak);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString joinLines(const QStringList &lines)
{
    QString text;
    for (const QString &line : lines) {
        text += line;
        text += QLatin1String("\r\n");
    }
    return text;
}

bool addEntry(HistoryItems &items, const QStringList &lines)
{
    if (lines.isEmpty() || lines.first().isEmpty())
        return false;
    items.prepend(HistoryItem { lines.first(), TString(joinLines(lines)) });
    while (items.size() > MaxEntries)
        items.removeAt(MaxEntries);
    return true;
}

QStringList load(QSettings &settings, HistoryItems &items)
{
    QStringList skipped;
    for (int n = ValueCount - 1; n >= 0; --n) {
        const QString name = valueName(n);
        const QVariant value = settings.value(name);
        if (!value.isValid())
            continue; // missing: reads as the empty text
        if (value.typeId() != QMetaType::QString) {
            skipped << name; // one unreadable value costs no other entry
            continue;
        }
        // A value ends at its first NUL, as a stored string does.
        QString text = value.toString();
        const qsizetype nul = text.indexOf(QChar(0));
        if (nul >= 0)
            text.truncate(nul);
        if (text.isEmpty())
            continue;
        // A non-empty text gives at least one line, possibly an empty one (a leading break).
        const QStringList lines = splitLines(text);
        items.prepend(HistoryItem { lines.first(), TString(joinLines(lines)) });
    }
    return skipped;
}

void save(QSettings &settings, const HistoryItems &items)
{
    // Values that are not text were never loaded: they are kept, in their order, behind the
    // entries, where the next load skips them again.
    QVariantList kept;
    for (int n = 0; n < ValueCount; ++n) {
        const QVariant value = settings.value(valueName(n));
        if (value.isValid() && value.typeId() != QMetaType::QString)
            kept << value;
    }
    for (int n = 0; n < ValueCount; ++n)
        settings.remove(valueName(n));
    for (int i = 0; i < items.size(); ++i)
        settings.setValue(valueName(i), items.at(i).Object.FullText);
    for (int k = 0; k < kept.size(); ++k)
        settings.setValue(valueName(int(items.size()) + k), kept.at(k));
    if (!syncWhole(settings)) {
        // The settings file is written as a whole, so the first value names the failure.
        throw std::runtime_error(
            QStringLiteral("Failed to set data for '%1'").arg(valueName(0)).toStdString());
    }
}

} // namespace HistoryStore
