#pragma once

#include "connection/StatementParameters.h"
#include "query/StatementOutcome.h"
#include "sql/SqlStatements.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

#include <cstddef>
#include <vector>

class Connection;
class QueryControl;

// The statements of a script, run one after another on one connection through the window's
// QueryControl: each starts when the one before has handed back, so nothing waits. It stops at
// the first error unless told to go on, and even then it goes on only after a statement the
// database rejected (not after a lost connection or a failure of our own); cancel() stops the
// running statement and skips the rest. Owned by the window's script room; UI thread only.
class ScriptRun : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { Waiting, Running, Rows, Affected, Completed, Error, Cancelled, Skipped };
    struct Step
    {
        QString sql; // as sent: every line followed by CR LF
        int line = 1; // where it starts in the script's text, counted from 1
        int begin = 0; // its range in the script's text
        int end = 0;
        Sql::StatementKind kind = Sql::StatementKind::Other;
        // With values for its markers: the text the driver runs (each marker a "?") and one
        // value per "?", bound when it runs. Empty: sql runs as it is.
        QString driverSql;
        std::vector<ParameterValue> parameters;
        QString valuesText; // "with :id = '5'", for the log
        Outcome outcome = Outcome::Waiting;
        qint64 count = -1; // rows fetched (a query) or changed (a change); -1 when unknown
        QString errorText;
        qint32 elapsedMs = 0;
    };

    explicit ScriptRun(QueryControl *control, QObject *parent = nullptr);

    // What keeps a script from running at all: a statement the splitter could not close.
    struct Unclosed
    {
        QString what; // "a string", "a BEGIN ... END body", ...; empty when all is closed
        int line = 0; // where it begins, counted from 1
        int offset = -1;
    };

    // The statements of a text in a dialect, empty ones left out. A query is opened and fetched
    // to its end (which frees the connection for the next statement); anything else is executed.
    // A statement left open at the end of the text (an unterminated string, comment or body) is
    // told in unclosed: such a script must not run, since the database would get half of it.
    static QVector<Step> stepsOf(const QString &text, Sql::Dialect dialect = Sql::Dialect::Db2,
        Unclosed *unclosed = nullptr);
    // Runs the steps on the connection (not owned; it outlives the run). storeBudget: the bytes
    // each query's result may keep in memory (0: the user's setting).
    void start(QVector<Step> steps, Connection *connection, bool continueOnError,
        std::size_t storeBudget = 0);
    // The running statement is abandoned (cancelled on the server), the rest are skipped;
    // ended() follows at once. Nothing when no script runs.
    void cancel();

    bool isRunning() const { return m_running; }
    // The steps of the last run are dropped (none runs now).
    void forget()
    {
        cancel();
        m_steps.clear();
        m_current = -1;
    }
    const QVector<Step> &steps() const { return m_steps; }
    int current() const { return m_current; }

    // "12 rows fetched", "1 row affected", "completed", the error's text, "cancelled", ...
    static QString outcomeText(const Step &step);

signals:
    void stepStarted(int index);
    // A statement ended. Emitted while its worker waits: a listener may take outcome->result (a
    // query's whole result); outcome is null for a statement that never reached the server.
    void stepEnded(int index, StatementOutcome *outcome);
    void ended(); // every step has its outcome

private:
    void startNext();
    void handBack(StatementOutcome &outcome);
    void finish();

    QueryControl *m_control; // not owned: the window's
    Connection *m_connection = nullptr; // not owned
    QVector<Step> m_steps;
    int m_current = -1;
    bool m_continueOnError = false;
    bool m_running = false;
    std::size_t m_storeBudget = 0;
    QPointer<QObject> m_worker; // the running statement's worker, until it hands back
    QElapsedTimer m_clock; // since the running statement started
};
