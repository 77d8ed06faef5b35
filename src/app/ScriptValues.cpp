#include "app/ScriptValues.h"

#include "app/StatementValues.h"
#include "history/HistoryRecord.h"

#include <QHash>

namespace ScriptValues {

Asked collect(const QVector<ScriptRun::Step> &steps, Sql::Dialect dialect, int firstLine)
{
    Asked asked;
    QHash<int, int> onLine; // statements with markers per line where they start
    for (const ScriptRun::Step &step : steps) {
        asked.markers.append(Sql::parameterMarkers(step.sql, dialect));
        if (!asked.markers.last().isEmpty())
            ++onLine[step.line];
    }
    for (int i = 0; i < steps.size(); ++i) {
        const int line = firstLine + steps[i].line - 1;
        // Two statements on one line: the statement's number tells their "?" apart.
        const QString where = onLine.value(steps[i].line) > 1
            ? QStringLiteral(" (line %1, statement %2)").arg(line).arg(i + 1)
            : QStringLiteral(" (line %1)").arg(line);
        QVector<int> values;
        for (const QString &name : asked.markers[i].names) {
            const QString asName = name.startsWith(QLatin1Char('?')) ? name + where : name;
            int at = int(asked.names.indexOf(asName));
            if (at < 0) {
                at = int(asked.names.size());
                asked.names << asName;
            }
            values << at;
        }
        asked.values.append(values);
    }
    return asked;
}

void bind(QVector<ScriptRun::Step> &steps, const Asked &asked,
    const QVector<ParameterAnswer> &answers, QVector<QVector<HistoryParameter>> *remembered)
{
    if (remembered)
        remembered->fill({}, steps.size());
    for (int i = 0; i < steps.size() && i < asked.markers.size(); ++i) {
        if (asked.markers[i].isEmpty())
            continue;
        QVector<ParameterAnswer> own;
        for (const int value : asked.values[i])
            own << answers.value(value, ParameterAnswer { true, {} });
        StatementValues::Bound bound = StatementValues::bind(steps[i].sql, asked.markers[i], own);
        HistoryRecord shown;
        shown.parameters = bound.remembered;
        steps[i].driverSql = bound.driverText;
        steps[i].parameters = std::move(bound.values);
        steps[i].valuesText = shown.valuesText();
        if (remembered)
            (*remembered)[i] = std::move(shown.parameters);
    }
}

bool ask(QWidget *parent, const QString &text, QVector<ScriptRun::Step> &steps,
    Sql::Dialect dialect, int firstLine, const std::function<QStringList(const QString &)> &recent,
    QVector<QVector<HistoryParameter>> *remembered)
{
    const Asked asked = collect(steps, dialect, firstLine);
    if (asked.isEmpty())
        return true;
    Sql::Markers all; // the script's values as one statement's: what the prompts are made of
    all.names = asked.names;
    ParameterDialog dialog(text, StatementValues::prompts(all, {}, {}, recent), parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    bind(steps, asked, dialog.answers(), remembered);
    return true;
}

} // namespace ScriptValues
