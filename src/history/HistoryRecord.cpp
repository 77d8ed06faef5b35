#include "history/HistoryRecord.h"

#include "history/HistoryStore.h"

#include <QDateTime>
#include <QStringList>

#include <cstdio>
#include <ctime>

namespace {

// A start time as local "yyyy-MM-dd HH:mm:ss". The C library's conversion is used: the search
// lists a thousand of these per keystroke, and QDateTime's local conversion and formatting cost
// several times more.
QString localTimeText(qint64 ms)
{
    const std::time_t seconds = std::time_t(ms / 1000);
    std::tm local {};
#ifdef _WIN32
    if (localtime_s(&local, &seconds) != 0)
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
#else
    if (!localtime_r(&seconds, &local))
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
#endif
    char text[80]; // room for any int the fields may hold
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
        local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return QString::fromLatin1(text);
}

} // namespace

QString HistoryRecord::outcomeName(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Running:
        return QStringLiteral("running");
    case RunOutcome::Completed:
        return QStringLiteral("completed");
    case RunOutcome::Error:
        return QStringLiteral("error");
    case RunOutcome::Abandoned:
        return QStringLiteral("abandoned");
    case RunOutcome::Cancelled:
        return QStringLiteral("cancelled");
    case RunOutcome::Unknown:
        break;
    }
    return QStringLiteral("-");
}

QString HistoryRecord::displayLine() const
{
    const QString dash = QStringLiteral("-");
    const QString time = startedMs < 0 ? dash : localTimeText(startedMs);
    const QString values = valuesText();
    return time + QLatin1String(" | ") + (alias.isEmpty() ? dash : alias) + QLatin1String(" | ")
        + outcomeName(outcome) + QLatin1String(" | ") + HistoryStore::shownLine(text)
        + (values.isEmpty() ? QString() : QLatin1String(" ") + values);
}

QString HistoryRecord::statementKey(const QString &text)
{
    return text.simplified();
}

QString HistoryRecord::valuesText() const
{
    if (parameters.isEmpty())
        return {};
    QStringList parts;
    for (const HistoryParameter &parameter : parameters) {
        QString value = parameter.value.left(40);
        if (value.size() < parameter.value.size())
            value += QChar(0x2026);
        value.replace(QLatin1Char('\n'), QLatin1Char(' '))
            .replace(QLatin1Char('\r'), QLatin1Char(' '));
        parts << QStringLiteral("%1 = %2").arg(parameter.name,
            parameter.isNull ? QStringLiteral("NULL")
                             : QLatin1Char('\'')
                    + value.replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\''));
    }
    return QStringLiteral("with ") + parts.join(QLatin1String(", "));
}

QString HistoryRecord::details() const
{
    QStringList lines;
    if (startedMs >= 0)
        lines << QStringLiteral("Started: %1").arg(localTimeText(startedMs));
    if (!alias.isEmpty())
        lines << QStringLiteral("Alias: %1").arg(alias);
    if (elapsedMs >= 0)
        lines << QStringLiteral("Elapsed: %1 ms").arg(elapsedMs);
    if (recordCount >= 0)
        lines << QStringLiteral("Records: %1").arg(recordCount);
    lines << QStringLiteral("Outcome: %1").arg(outcomeName(outcome));
    if (!parameters.isEmpty())
        lines << QStringLiteral("Values: %1").arg(valuesText().mid(5));
    if (!errorText.isEmpty())
        lines << errorText;
    return lines.join(QLatin1Char('\n'));
}
