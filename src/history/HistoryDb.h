#pragma once

#include "history/HistoryRecord.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>
#include <stdexcept>

struct sqlite3;

// A failure of the history database. `corrupt` tells that the file is damaged (or no database).
class HistoryDbError : public std::runtime_error
{
public:
    HistoryDbError(const QString &message, bool corrupt)
        : std::runtime_error(message.toStdString())
        , corrupt(corrupt)
    { }
    bool corrupt;
};

// One connection to the history database, an SQLite file in WAL mode with an FTS5 index on the
// statements' text. Used by the thread that opened it; other connections, in this process or
// another, may use the same file at once. Every failure throws HistoryDbError.
class HistoryDb
{
public:
    static constexpr int DefaultKeep = 100000;
    static constexpr int SchemaVersion = 2; // 2: the values of a run's markers
    static constexpr int DefaultBusyTimeoutMs = 5000;

    // Opens or creates the file. When the database is new, the texts that `importTexts` gives
    // (oldest first) are stored as runs of unknown time, alias and outcome, once, even when
    // several processes open a new file at the same moment.
    HistoryDb(const QString &path, int busyTimeoutMs = DefaultBusyTimeoutMs,
        const std::function<QStringList()> &importTexts = {});
    ~HistoryDb();
    HistoryDb(const HistoryDb &) = delete;
    HistoryDb &operator=(const HistoryDb &) = delete;

    bool imported() const { return m_imported; }

    // Stores a run and drops the oldest runs beyond `keep`. Returns the run's id.
    qint64 insert(const HistoryRecord &record, int keep);
    void setEnd(qint64 id, qint64 elapsedMs, RunOutcome outcome, const QString &errorText);
    void setRecordCount(qint64 id, qint64 count);
    // Stores many runs in one transaction (for bulk loads); returns the id of the last.
    qint64 insertMany(const QList<HistoryRecord> &records, int keep);

    // The runs that match `query`, newest first, at most `limit`. The query's words match the
    // words of the text and the beginnings of words; all of them must match. "alias:NAME" keeps
    // the runs on that alias (any case). A query without words or alias lists the newest runs.
    // A long statement comes cut (textCut): its text holds enough for its list entry.
    QList<HistoryRecord> search(const QString &query, int limit) const;
    // The values a run's markers were bound to, in order.
    QVector<HistoryParameter> parametersOf(qint64 entry) const;
    // The values of the newest run of the same statement (statementKey) that had any.
    QVector<HistoryParameter> lastValues(const QString &statement) const;
    // The values a marker of that name took, newest first, each once, at most limit.
    QStringList recentValues(const QString &name, int limit = 10) const;
    // The whole statement of a run; a null text when the run is no longer stored.
    QString text(qint64 id) const;
    qint64 count() const;

    // The file's place: history.db in the application's local data folder.
    static QString defaultPath();
    // Renames a damaged file (and its WAL and shared-memory files) to a free name beside it;
    // returns the new name of the database file. Throws when it cannot be renamed.
    static QString moveAside(const QString &path);

private:
    void exec(const char *sql) const;
    qint64 scalar(const char *sql, const QString &what) const; // the first column of one row
    void fail(const QString &what) const;
    qint64 insertRow(const HistoryRecord &record);
    void trim(int keep);

    class Tokenizer; // the index's word rule, for searches
    sqlite3 *m_db = nullptr;
    mutable std::unique_ptr<Tokenizer> m_tokenizer; // made at the first search
    QString m_path;
    bool m_imported = false;
};
