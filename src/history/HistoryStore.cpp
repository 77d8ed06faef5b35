#include "history/HistoryStore.h"

#include "settings/ParmStore.h"

#include <QRegularExpression>
#include <QSettings>
#include <QVariant>

#include <algorithm>
#include <stdexcept>

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

QString shownLine(const QString &text)
{
    const qsizetype scanned = std::min(text.size(), qsizetype(MaxShownChars) + 1);
    qsizetype end = 0;
    while (end < scanned && text.at(end) != QLatin1Char('\r') && text.at(end) != QLatin1Char('\n'))
        ++end;
    if (end <= MaxShownChars)
        return text.left(end);
    // Not between the halves of a character.
    qsizetype cut = MaxShownChars;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut) + QChar(0x2026);
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
