#include "query/ScriptRun.h"

#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "query/QueryControl.h"

ScriptRun::ScriptRun(QueryControl *control, QObject *parent)
    : QObject(parent)
    , m_control(control)
{ }

QVector<ScriptRun::Step> ScriptRun::stepsOf(
    const QString &text, Sql::Dialect dialect, Unclosed *unclosed)
{
    QVector<Step> steps;
    const QVector<Sql::Statement> statements = Sql::splitStatements(text, dialect);
    if (unclosed) {
        *unclosed = Unclosed();
        if (!statements.isEmpty() && !statements.last().open.isEmpty())
            *unclosed = { statements.last().open, statements.last().openLine,
                statements.last().openAt };
    }
    for (const Sql::Statement &statement : statements) {
        Step step;
        // Sent as the editor's text is sent: every line followed by CR LF.
        for (const QStringView line :
            QStringView(text).mid(statement.begin, statement.end - statement.begin).split(u'\n'))
            step.sql += line.toString() + QStringLiteral("\r\n");
        step.line = statement.line;
        step.begin = statement.begin;
        step.end = statement.end;
        step.kind = statement.kind;
        steps.append(step);
    }
    return steps;
}

void ScriptRun::start(
    QVector<Step> steps, Connection *connection, bool continueOnError, std::size_t storeBudget)
{
    cancel();
    m_steps = std::move(steps);
    m_connection = connection;
    m_continueOnError = continueOnError;
    m_storeBudget = storeBudget;
    m_current = -1;
    m_running = true;
    startNext();
}

void ScriptRun::startNext()
{
    if (++m_current >= m_steps.size()) {
        finish();
        return;
    }
    Step &step = m_steps[m_current];
    step.outcome = Outcome::Running;
    m_clock.start();
    emit stepStarted(m_current);
    if (!m_running)
        return; // a listener cancelled the script
    if (!m_connection || !m_connection->IsConnected()) {
        // Close and Logout between two statements: nothing more can run.
        step.outcome = Outcome::Error;
        step.errorText = QStringLiteral("The connection was closed");
        emit stepEnded(m_current, nullptr);
        finish();
        return;
    }
    const bool isQuery = step.kind == Sql::StatementKind::Query;
    // A query's result is fetched to its end by the worker: the connection is then free for the
    // next statement, and the count is the log's "rows fetched".
    QPointer<ScriptRun> self(this);
    m_worker = m_control->startStatement(
        step.driverSql.isEmpty() ? step.sql : step.driverSql, m_connection, !isQuery, isQuery,
        [self](StatementOutcome &outcome) {
            if (self)
                self->handBack(outcome);
        },
        nullptr, m_storeBudget, step.parameters);
}

void ScriptRun::handBack(StatementOutcome &outcome)
{
    if (!m_running || !m_worker)
        return;
    m_worker = nullptr;
    Step &step = m_steps[m_current];
    step.elapsedMs = outcome.elapsedMs;
    if (outcome.failed()) {
        step.outcome = Outcome::Error;
        step.errorText = outcome.errorText;
    } else if (outcome.isExec) {
        step.count = outcome.rowsAffected;
        step.outcome = step.kind == Sql::StatementKind::Change && step.count >= 0
            ? Outcome::Affected
            : Outcome::Completed;
    } else {
        step.count = outcome.result ? outcome.result->fetchedCount() : -1;
        step.outcome = Outcome::Rows;
    }
    const bool failed = step.outcome == Outcome::Error;
    // Only a statement the database answered with a diagnostic was rejected; a lost connection
    // (SQLSTATE class 08) or a failure without one leaves nothing to go on with.
    const bool rejected = failed && !outcome.errorRecords.isEmpty()
        && !outcome.errorRecords.first().sqlState.startsWith(QLatin1String("08"));
    emit stepEnded(m_current, &outcome);
    if (!m_running)
        return; // a listener cancelled the script
    if (failed && (!m_continueOnError || !rejected))
        finish();
    else
        startNext();
}

void ScriptRun::cancel()
{
    if (!m_running)
        return;
    if (m_current >= 0 && m_current < m_steps.size()
        && m_steps[m_current].outcome == Outcome::Running) {
        m_steps[m_current].outcome = Outcome::Cancelled;
        m_steps[m_current].elapsedMs = qint32(m_clock.elapsed());
    }
    if (m_worker) {
        m_worker = nullptr;
        m_control->abandon(); // the statement is cancelled on the server, off this thread
    }
    finish();
}

void ScriptRun::finish()
{
    for (Step &step : m_steps) {
        if (step.outcome == Outcome::Waiting)
            step.outcome = Outcome::Skipped;
    }
    m_running = false;
    emit ended();
}

QString ScriptRun::outcomeText(const Step &step)
{
    const auto rows = [&step](const char *what) {
        return QStringLiteral("%1 %2 %3")
            .arg(step.count)
            .arg(step.count == 1 ? QStringLiteral("row") : QStringLiteral("rows"))
            .arg(QLatin1String(what));
    };
    switch (step.outcome) {
    case Outcome::Waiting:
        return QStringLiteral("waiting");
    case Outcome::Running:
        return QStringLiteral("running");
    case Outcome::Rows:
        return rows("fetched");
    case Outcome::Affected:
        return rows("affected");
    case Outcome::Completed:
        return QStringLiteral("completed");
    case Outcome::Error:
        return step.errorText;
    case Outcome::Cancelled:
        return QStringLiteral("cancelled");
    case Outcome::Skipped:
        return QStringLiteral("skipped");
    }
    return QString();
}
