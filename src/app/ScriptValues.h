#pragma once

#include "history/HistoryRecord.h"
#include "query/ScriptRun.h"
#include "sql/SqlMarkers.h"
#include "widgets/ParameterDialog.h"

#include <QStringList>
#include <QVector>

#include <functional>

class QWidget;

// The values a script's markers take, asked once before it runs: ":name" (and "$1") is one value
// across all its statements, each "?" is a value of its own, asked as "?1 (line 3)": its number
// in its statement and the editor's line where the statement starts. Each statement then gets
// its own driver text and bound values; nothing is spliced into a text. UI thread.
namespace ScriptValues {

struct Asked
{
    QStringList names; // one per value asked for, in the order first met
    QVector<Sql::Markers> markers; // per step
    QVector<QVector<int>> values; // per step: for each of its markers' names, its index in names
    bool isEmpty() const { return names.isEmpty(); }
};

// firstLine: the editor's line of the script's start.
Asked collect(const QVector<ScriptRun::Step> &steps, Sql::Dialect dialect, int firstLine);

// Each step with markers gets its driver text, its values (one per "?") and the log's "with :id =
// '5'". answers: one per asked.names entry. remembered, when given, gets per step the values as
// the history keeps them (empty for a step without markers).
void bind(QVector<ScriptRun::Step> &steps, const Asked &asked,
    const QVector<ParameterAnswer> &answers,
    QVector<QVector<HistoryParameter>> *remembered = nullptr);

// One dialog for every value of the script (text fields; recent: the values a name took before,
// newest first), then bind(). False when the user cancelled: nothing may run. A script without
// markers asks nothing and is left as it is.
bool ask(QWidget *parent, const QString &text, QVector<ScriptRun::Step> &steps,
    Sql::Dialect dialect, int firstLine, const std::function<QStringList(const QString &)> &recent,
    QVector<QVector<HistoryParameter>> *remembered = nullptr);

} // namespace ScriptValues
