#include "app/StatementValues.h"

namespace StatementValues {

ParameterKind kindOf(const ParameterType &type)
{
    if (!type.described)
        return ParameterKind::Text;
    switch (type.sqlType) {
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
    case SQL_TINYINT:
        return ParameterKind::Integer;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return type.digits == 0 ? ParameterKind::Integer : ParameterKind::Decimal;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return ParameterKind::Float;
    case SQL_TYPE_DATE:
    case SQL_DATE:
        return ParameterKind::Date;
    case SQL_TYPE_TIME:
    case SQL_TIME:
        return ParameterKind::Time;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        return ParameterKind::Timestamp;
    default:
        return ParameterKind::Text;
    }
}

QString typeName(const ParameterType &type)
{
    if (!type.described)
        return {};
    switch (type.sqlType) {
    case SQL_SMALLINT:
        return QStringLiteral("SMALLINT");
    case SQL_INTEGER:
        return QStringLiteral("INTEGER");
    case SQL_BIGINT:
        return QStringLiteral("BIGINT");
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return QStringLiteral("DECIMAL(%1,%2)").arg(type.size).arg(type.digits);
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return QStringLiteral("DOUBLE");
    case SQL_TYPE_DATE:
    case SQL_DATE:
        return QStringLiteral("DATE");
    case SQL_TYPE_TIME:
    case SQL_TIME:
        return QStringLiteral("TIME");
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        return QStringLiteral("TIMESTAMP");
    default:
        return {}; // text, or a type a prompt need not name
    }
}

QVector<ParameterPrompt> prompts(const Sql::Markers &markers,
    const QVector<ParameterType> &described, const QVector<HistoryParameter> &last,
    const std::function<QStringList(const QString &)> &recent)
{
    QVector<ParameterPrompt> prompts(markers.names.size());
    for (int i = 0; i < markers.names.size(); ++i)
        prompts[i].name = markers.names.at(i);
    // The type of a value is the one of the first "?" that takes it.
    QVector<bool> typed(markers.names.size(), false);
    for (const Sql::Marker &marker : markers.occurrences)
        prompts[marker.value].list = prompts[marker.value].list || marker.inList;
    for (int at = 0; at < markers.occurrences.size() && at < described.size(); ++at) {
        const int value = markers.occurrences.at(at).value;
        if (typed[value] || !described.at(at).described)
            continue;
        typed[value] = true;
        prompts[value].kind = kindOf(described.at(at));
        prompts[value].typeName = typeName(described.at(at));
    }
    for (ParameterPrompt &prompt : prompts) {
        // The statement's own last value first, then what the name took elsewhere.
        for (const HistoryParameter &before : last) {
            if (before.name != prompt.name)
                continue;
            prompt.lastWasNull = before.isNull;
            if (!before.isNull)
                prompt.recent << before.value;
            break;
        }
        if (recent && !prompt.name.startsWith(QLatin1Char('?')))
            for (const QString &value : recent(prompt.name))
                if (!prompt.recent.contains(value))
                    prompt.recent << value;
        while (prompt.recent.size() > 10)
            prompt.recent.removeLast();
    }
    return prompts;
}

Bound bind(QStringView text, const Sql::Markers &markers, const QVector<ParameterAnswer> &answers)
{
    Bound bound;
    QVector<QStringList> items(markers.names.size());
    QVector<bool> isList(markers.names.size(), false);
    for (const Sql::Marker &marker : markers.occurrences)
        isList[marker.value] = isList[marker.value] || marker.inList;
    QVector<int> counts(markers.names.size(), 1);
    for (int i = 0; i < markers.names.size(); ++i) {
        const ParameterAnswer answer =
            i < answers.size() ? answers.at(i) : ParameterAnswer { true, {} };
        bound.remembered.append({ markers.names.at(i), answer.isNull, answer.text });
        if (isList[i] && !answer.isNull) {
            for (const QString &line : answer.text.split(QLatin1Char('\n')))
                if (!line.trimmed().isEmpty())
                    items[i] << line.trimmed();
        }
        if (items[i].isEmpty())
            items[i] << answer.text;
        counts[i] = int(items[i].size());
    }
    QVector<Sql::Binding> bindings;
    bound.driverText = Sql::expandedText(text, markers, counts, &bindings);
    for (const Sql::Binding &binding : bindings) {
        const bool isNull = bound.remembered.at(binding.value).isNull;
        bound.values.push_back({ markers.names.at(binding.value), isNull,
            isNull ? QString() : items[binding.value].value(binding.item) });
    }
    return bound;
}

QVector<ParameterAnswer> answersFrom(
    const Sql::Markers &markers, const QVector<HistoryParameter> &last)
{
    if (last.size() != markers.names.size())
        return {};
    QVector<ParameterAnswer> answers;
    for (int i = 0; i < last.size(); ++i) {
        if (last.at(i).name != markers.names.at(i))
            return {};
        answers.append({ last.at(i).isNull, last.at(i).value });
    }
    return answers;
}

} // namespace StatementValues
