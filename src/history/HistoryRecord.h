#pragma once

#include <QString>
#include <QVector>

// How a recorded run ended. The numbers are stored in the database: never renumber.
enum class RunOutcome : int {
    Unknown = 0, // imported from the settings history
    Running = 1, // started; its end was never recorded
    Completed = 2,
    Error = 3,
    Abandoned = 4, // Close Query while it ran
    Cancelled = 5, // cut off because the program ended while it ran
};

// A value a run's marker was bound to.
struct HistoryParameter
{
    QString name; // ":note", "?1"
    bool isNull = false;
    QString value;
};

// One recorded run of a statement. Unknown values are empty or -1.
struct HistoryRecord
{
    qint64 id = 0;
    QString text; // the whole statement, every line followed by CR LF (see textCut)
    bool textCut = false; // text may hold only the statement's beginning; HistoryDb::text has all
    QString alias; // upper case, as the statement ran on it
    qint64 startedMs = -1; // start, milliseconds since 1970 UTC
    qint64 elapsedMs = -1;
    qint64 recordCount = -1;
    RunOutcome outcome = RunOutcome::Unknown;
    QString errorText;
    QVector<HistoryParameter> parameters; // the markers' values, in order

    // "2026-12-09 14:03:11 | DB2P201 | completed | " and the statement's first line as a list
    // shows it (HistoryStore::shownLine); the time in local time, "-" for what is not known.
    QString displayLine() const;
    // Every detail, one per line, for the list's hint.
    QString details() const;
    static QString outcomeName(RunOutcome outcome);
    // What makes two runs the same statement for its remembered values: the text with its
    // white space runs made one space.
    static QString statementKey(const QString &text);
    // "with :note = 'x', :n = NULL", values cut to 40 characters; empty without values.
    QString valuesText() const;
};
