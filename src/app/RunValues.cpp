#include "app/RunValues.h"

#include "app/AliasDialect.h"
#include "app/CallParameters.h"
#include "connection/ConnectionHandle.h"
#include "connection/QueryDataset.h"
#include "connection/Session.h"
#include "history/HistoryRecorder.h"
#include "widgets/ParameterDialog.h"

#include <QPointer>
#include <QRegularExpression>
#include <QWidget>

struct RunValues::Learnt
{
    Sql::Markers markers;
    CallParameters::Target call;
    QVector<ParameterType> types; // per "?" of markers.driverText, as far as the driver says
    QVector<ProcedureParameter> declared; // the called procedure's parameters
};

namespace {

// A statement cancelled on the server (or a result let go of) but still holding the connection
// may keep it as long as its server likes: the prompt waits for it no longer than the grace the
// connection gives a cancel, then asks for text.
bool turnFree(ConnectionHandle &connection)
{
    const ConnectionHandle::Clock::time_point deadline = connection.holdDeadline();
    if (deadline == ConnectionHandle::Clock::time_point::max())
        return true; // a turn held by a running statement comes back in its time
    if (!connection.acquireUntil(deadline))
        return false;
    connection.release();
    return true;
}

// The type a procedure declares for an argument whose marker the driver could not describe;
// decimals are left as text, since the declaration gives no scale.
ParameterType declaredType(const ProcedureParameter &parameter)
{
    ParameterType type;
    if (parameter.sqlType == SQL_UNKNOWN_TYPE || parameter.sqlType == SQL_DECIMAL
        || parameter.sqlType == SQL_NUMERIC)
        return type;
    type.sqlType = parameter.sqlType;
    type.described = true;
    return type;
}

} // namespace

RunValues::RunValues(QWidget *window, std::function<HistoryRecorder *()> history)
    : QObject(window)
    , m_window(window)
    , m_history(std::move(history))
{ }

bool RunValues::prepare(const QString &alias, const QString &text,
    std::shared_ptr<ConnectionHandle> connection, bool workOpen, bool remembered, Ready ready)
{
    const Sql::Dialect dialect = aliasDialect(alias);
    Learnt learnt;
    learnt.markers = Sql::parameterMarkers(text, dialect);
    if (learnt.markers.isEmpty())
        return false;
    learnt.call = CallParameters::target(text, learnt.markers, dialect);
    const QString driver = Session::instance().AliasDriver(alias);
    const QString driverText = learnt.markers.driverText;
    const CallParameters::Target call = learnt.call;
    // The prepare and the catalog query wait for the connection's turn: never on this thread.
    OffThread::run(
        this, m_describe.renew(),
        [connection, alias, driver, driverText, call, workOpen] {
            Learnt said;
            if (!connection || !turnFree(*connection))
                return said;
            try {
                if (call.isCall())
                    said.declared = callParameters(
                        *connection, driver, call.schema, call.name, call.argumentCount);
            } catch (...) {
                // No declaration: every marker is asked for as an input.
            }
            if (workOpen)
                return said;
            try {
                QueryDataset statement;
                statement.setConnection(alias, connection);
                statement.setSql(driverText);
                said.types = statement.describeParameters();
            } catch (...) {
                // A statement the driver cannot prepare gets text fields; its run says why.
            }
            return said;
        },
        [this, text, remembered, ready = std::move(ready), learnt](Learnt said) mutable {
            m_describe.settle();
            learnt.types = std::move(said.types);
            learnt.declared = std::move(said.declared);
            ask(text, learnt, remembered, ready);
        });
    return true;
}

void RunValues::ask(const QString &text, const Learnt &learnt, bool remembered, const Ready &ready)
{
    const Sql::Markers &markers = learnt.markers;
    const QVector<ParameterDirection> directions =
        CallParameters::directions(learnt.call, markers, learnt.declared);
    QVector<ParameterType> types = learnt.types;
    for (int i = 0; i < markers.occurrences.size(); ++i) {
        const int argument = learnt.call.arguments.value(i, -1);
        if (argument < 0 || argument >= learnt.declared.size())
            continue;
        if (types.size() <= i)
            types.resize(i + 1);
        if (!types.at(i).described)
            types[i] = declaredType(learnt.declared.at(argument));
    }
    // OUT parameters are bound as output and never asked for.
    QVector<int> asked;
    Sql::Markers askedMarkers;
    for (int value = 0; value < markers.names.size(); ++value)
        if (directions.at(value) != ParameterDirection::Out) {
            asked << value;
            askedMarkers.names << markers.names.at(value);
        }
    const QVector<HistoryParameter> last = lastValues(text);
    QVector<ParameterAnswer> answers(markers.names.size(), ParameterAnswer { true, {} });
    QVector<ParameterAnswer> given = StatementValues::answersFrom(askedMarkers, last);
    if (!asked.isEmpty() && (!remembered || given.isEmpty())) {
        const QVector<ParameterPrompt> all = StatementValues::prompts(
            markers, types, last, [this](const QString &name) { return recentValues(name); });
        QVector<ParameterPrompt> prompts;
        for (const int value : asked)
            prompts << all.at(value);
        const QPointer<RunValues> self(this);
        ParameterDialog dialog(text, prompts, m_window);
        const bool run = dialog.exec() == QDialog::Accepted;
        if (!self || !run)
            return; // Esc: nothing runs
        given = dialog.answers();
    }
    for (int i = 0; i < asked.size() && i < given.size(); ++i)
        answers[asked.at(i)] = given.at(i);

    StatementValues::Bound bound = StatementValues::bind(text, markers, answers);
    for (ParameterValue &value : bound.values)
        value.direction = directions.value(int(markers.names.indexOf(value.name)));
    QVector<HistoryParameter> kept;
    for (const int value : asked)
        kept << bound.remembered.at(value);
    bound.remembered = kept;
    m_last.insert(HistoryRecord::statementKey(text), kept);
    ready(std::move(bound));
}

void RunValues::remember(const QString &text, const QVector<HistoryParameter> &values)
{
    if (!values.isEmpty())
        m_last.insert(HistoryRecord::statementKey(text), values);
}

QVector<HistoryParameter> RunValues::lastValues(const QString &text) const
{
    const auto known = m_last.constFind(HistoryRecord::statementKey(text));
    if (known != m_last.constEnd())
        return *known;
    HistoryRecorder *history = m_history();
    if (!history)
        return {};
    try {
        return history->lastValues(text);
    } catch (const std::exception &) {
        return {}; // the history page reports a database it cannot use
    }
}

QStringList RunValues::recentValues(const QString &name) const
{
    HistoryRecorder *history = m_history();
    if (!history)
        return {};
    try {
        return history->recentValues(name);
    } catch (const std::exception &) {
        return {};
    }
}

QString RunValues::refusalNote(
    const QString &message, const QStringList &sqlStates, const std::vector<ParameterValue> &values)
{
    if (values.empty() || message.startsWith(QLatin1String("The value of ")))
        return {}; // no values, or the binding named its marker already
    // "parameter 2", "param #2", "parameter number 2", PostgreSQL's "$2": the driver's count of
    // the "?" it was given.
    static const QRegularExpression numbered(
        QStringLiteral("\\b(?:parameter|param|marker)\\s*(?:number\\s*|no\\.\\s*|#\\s*)?\\$?(\\d+)"
                       "|\\$(\\d+)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = numbered.match(message);
    if (match.hasMatch()) {
        const int number =
            (match.captured(1).isEmpty() ? match.captured(2) : match.captured(1)).toInt();
        if (number >= 1 && number <= int(values.size())) {
            const ParameterValue &value = values.at(std::size_t(number - 1));
            return QStringLiteral("The value refused is the one of %1.").arg(value.name);
        }
    }
    // Data exceptions, dynamic SQL errors and type mismatches: a value is in question.
    bool valueError = false;
    for (const QString &state : sqlStates)
        valueError = valueError || state.startsWith(QLatin1String("22"))
            || state.startsWith(QLatin1String("07")) || state == QLatin1String("HY104")
            || state == QLatin1String("HY105") || state == QLatin1String("42804")
            || state == QLatin1String("42P18");
    if (!valueError)
        return {};
    HistoryRecord shown;
    QStringList seen;
    for (const ParameterValue &value : values) {
        if (value.direction == ParameterDirection::Out || seen.contains(value.name))
            continue;
        seen << value.name;
        shown.parameters.append({ value.name, value.isNull, value.text });
    }
    return QStringLiteral("One of the values was refused: %1").arg(shown.valuesText().mid(5));
}
