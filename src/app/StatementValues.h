#pragma once

#include "connection/StatementParameters.h"
#include "history/HistoryRecord.h"
#include "sql/SqlMarkers.h"
#include "widgets/ParameterDialog.h"

#include <QStringList>
#include <QVector>

#include <functional>
#include <vector>

// From a statement's markers to what the driver runs: the prompts the dialog shows (typed from
// what the driver says, proposing the values used before), and the text and values bound from
// the answers, an IN list's pasted column as one value per line.
namespace StatementValues {

ParameterKind kindOf(const ParameterType &type);
QString typeName(const ParameterType &type); // "INTEGER", "DATE", ...; empty when not known

// One prompt per value of the markers. described: per "?" of markers.driverText, as the driver
// says (may be shorter or empty); last: the values of the statement's last run; recent: the
// values a name took before, newest first.
QVector<ParameterPrompt> prompts(const Sql::Markers &markers,
    const QVector<ParameterType> &described, const QVector<HistoryParameter> &last,
    const std::function<QStringList(const QString &)> &recent);

struct Bound
{
    QString driverText;
    std::vector<ParameterValue> values; // one per "?" of driverText
    QVector<HistoryParameter> remembered; // one per value, as the history keeps them
};

// answers: one per markers.names entry. A value of an IN-list marker holding several lines is
// one item per line that is not blank.
Bound bind(QStringView text, const Sql::Markers &markers, const QVector<ParameterAnswer> &answers);

// The answers the history's last values give, when they fit the markers (the same names in the
// same order); empty otherwise.
QVector<ParameterAnswer> answersFrom(
    const Sql::Markers &markers, const QVector<HistoryParameter> &last);

} // namespace StatementValues
