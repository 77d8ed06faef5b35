#pragma once

#include "history/HistoryDb.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <memory>

class HistoryWriter;

// The history database as the window uses it: searches run on the owner's thread over a
// connection of their own; runs are recorded by a writer thread with its own connection, so
// recording costs the owner a queued call and never waits for a lock. Owned by the main window;
// its owner's thread only.
class HistoryRecorder : public QObject
{
    Q_OBJECT

public:
    explicit HistoryRecorder(QObject *parent = nullptr);
    ~HistoryRecorder() override; // writes what is queued, then stops the writer

    // Opens the database (see HistoryDb) and starts the writer. Throws HistoryDbError; a damaged
    // file is moved aside first and the message names its new place.
    void open(const QString &path, int keep, int busyTimeoutMs,
        const std::function<QStringList()> &importTexts = {});
    bool isOpen() const { return m_db != nullptr; }
    bool imported() const { return m_db && m_db->imported(); }
    QString path() const { return m_path; }
    // Stops recording and searching; what was queued is dropped.
    void close();

    // Records the start of a run, of unknown end, with the values bound to its markers; returns
    // the key that names it in later calls (0 when the history is closed).
    qint64 runStarted(const QString &text, const QString &alias, qint64 startedMs,
        const QVector<HistoryParameter> &parameters = {});
    void runEnded(qint64 run, qint64 elapsedMs, RunOutcome outcome, const QString &errorText = {});
    void runCounted(qint64 run, qint64 count);

    // HistoryDb::search on the owner's thread. Throws HistoryDbError.
    QList<HistoryRecord> search(const QString &query, int limit) const;
    // HistoryDb::text on the owner's thread. Throws HistoryDbError.
    QString text(qint64 id) const;
    // HistoryDb::lastValues and recentValues on the owner's thread: what is still queued for the
    // writer is not seen yet. Throw HistoryDbError.
    QVector<HistoryParameter> lastValues(const QString &statement) const;
    QStringList recentValues(const QString &name) const;

    // Waits at most `timeoutMs` until the writer has written everything queued before the call.
    bool flush(int timeoutMs);

signals:
    void written(); // the writer has stored something
    // The database cannot be used any more; the recorder has closed it. A damaged file has been
    // moved aside, and the message says where.
    void failed(const QString &message);

private:
    void writerFailed(const QString &message, bool corrupt);
    // Runs a read on the owner's connection; nothing when closed.
    template <typename Read>
    auto read(Read &&body) const -> decltype(body());

    std::unique_ptr<HistoryDb> m_db; // the owner's connection, for searches
    QThread m_thread;
    QPointer<HistoryWriter> m_writer; // lives on m_thread, deleted when it finishes
    QString m_path;
    qint64 m_nextRun = 0;
};

// HistoryRecorder's writer. Lives on the recorder's thread; every call is queued to it.
class HistoryWriter : public QObject
{
    Q_OBJECT

public:
    HistoryWriter(const QString &path, int keep, int busyTimeoutMs);

    void open();
    void started(qint64 run, const HistoryRecord &record);
    void ended(qint64 run, qint64 elapsedMs, RunOutcome outcome, const QString &errorText);
    void counted(qint64 run, qint64 count);

signals:
    void written();
    void failed(const QString &message, bool corrupt);

private:
    template <typename Body>
    void guarded(Body &&body);

    QString m_path;
    int m_keep;
    int m_busyTimeoutMs;
    std::unique_ptr<HistoryDb> m_db;
    bool m_dead = false; // a failure was reported: nothing more is written
    QHash<qint64, qint64> m_ids; // run key -> row id of the runs whose end is still to come
};
