#pragma once

#include <QObject>
#include <QString>
#include <QVector>

#include <cstddef>
#include <memory>

class ConnectionHandle;
class FanOutWorker;
class QueryDataset;

// One statement run on several aliases at once, each on its own connection and worker, at most
// MaxAtOnce at a time; their rows are merged into one result as they arrive: a first column
// ALIAS, then the columns of the first alias to answer. An alias whose columns differ from those
// in number or names (or hold values of a kind that cannot join them) ends with that error and
// adds no row; one alias failing never stops the others. Owned by the window; UI thread only.
// The workers report through queued signals, hold what they share with the run, and free
// themselves; nothing here waits for them.
class FanOutRun : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxAtOnce = 4;
    static QString aliasColumn() { return QStringLiteral("ALIAS"); }

    struct Target
    {
        QString alias; // as the ALIAS column shows it
        std::shared_ptr<ConnectionHandle> connection; // open; null only for a skipped alias
        QString sql; // what is sent there (its schema names rewritten for it)
        QString skipped; // why nothing is sent there; empty when it runs
    };

    enum class State { Waiting, Running, Done, Failed, Stopped, Skipped };
    struct Status
    {
        QString alias;
        QString sql;
        State state = State::Waiting;
        qint64 rows = 0; // merged so far
        qint64 elapsedMs = 0; // once ended
        QString error; // why it failed or was skipped
    };

    // storeBudget: the bytes the merged result may keep in memory before the rest goes to a
    // temporary file, as for any result.
    explicit FanOutRun(std::size_t storeBudget, QObject *parent = nullptr);
    ~FanOutRun() override; // stops what still runs, waits for nothing

    // Starts the targets that are not skipped, MaxAtOnce at a time, in the order given.
    void start(QVector<Target> targets);
    // Every alias stops: the statements running are cancelled (from a reaper thread), the
    // waiting ones never start; the rows merged so far stay in the result, which ends there.
    void stop();
    bool isRunning() const;
    const QVector<Status> &statuses() const;

    // The merged result, from resultReady on (null before, and once taken): the caller owns it.
    // Closing it stops the aliases still running.
    std::unique_ptr<QueryDataset> takeResult();

signals:
    // The first alias answered: the merged result is there to take.
    void resultReady();
    // Rows were merged since the last notice (one notice at a time; statuses() has the counts).
    void rowsArrived();
    void statusChanged(int index);
    void finished(); // every alias has ended (or was skipped)

private:
    friend class FanOutWorker;
    struct Shared;
    void launchNext();
    void stopWorkers(); // the statements cancelled, the queue's waiting workers woken
    void workerOpened();
    void workerEnded(int index, int state, qint64 elapsedMs, const QString &error);
    void arrived();

    std::size_t m_storeBudget;
    std::shared_ptr<Shared> m_shared;
    QVector<Target> m_targets;
    QVector<Status> m_statuses;
    int m_next = 0; // the next target to start
    int m_running = 0;
    std::unique_ptr<QueryDataset> m_result;
    bool m_resultMade = false;
    bool m_ended = false; // finished() was emitted
};
