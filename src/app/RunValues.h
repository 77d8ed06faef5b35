#pragma once

#include "app/StatementValues.h"
#include "history/HistoryRecord.h"
#include "threads/OffThread.h"

#include <QHash>
#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class ConnectionHandle;
class HistoryRecorder;
class QWidget;

// The values of a statement's markers before it runs: what the driver says the markers take and
// what a called procedure declares, learnt off the UI thread; the prompt, or the values last
// used for the statement; the values kept for the next run. Owned by the window (Qt parent); UI
// thread only.
class RunValues : public QObject
{
public:
    // history: the window's history database, or null once it cannot be used.
    RunValues(QWidget *window, std::function<HistoryRecorder *()> history);

    using Ready = std::function<void(StatementValues::Bound bound)>;

    // A text without markers returns false at once: it runs as it is. Otherwise the markers are
    // described on the alias's connection off this thread, then the prompt asks for the values
    // (remembered: the last values of the statement are taken without asking when they fit its
    // markers) and ready() follows with what to run; Esc calls nothing. workOpen: the connection
    // holds open work, which a prepare that fails may end on some servers (PostgreSQL aborts
    // it): the markers are not described then, and the prompt asks for text.
    bool prepare(const QString &alias, const QString &text,
        std::shared_ptr<ConnectionHandle> connection, bool workOpen, bool remembered, Ready ready);
    // A prepare under way is no longer wanted (Close Query, a new run).
    void drop() { m_describe.drop(); }
    // The values the statement takes from now on: those of the history entry made current.
    void remember(const QString &text, const QVector<HistoryParameter> &values);

    // For a failed run's error box: which marker's value the driver refused, by the parameter
    // number its message names, else every value bound; empty when the values are not in question.
    static QString refusalNote(const QString &message, const QStringList &sqlStates,
        const std::vector<ParameterValue> &values);

private:
    struct Learnt; // what the driver and the catalog said
    void ask(const QString &text, const Learnt &learnt, bool remembered, const Ready &ready);
    QVector<HistoryParameter> lastValues(const QString &text) const;
    QStringList recentValues(const QString &name) const;

    QWidget *m_window; // not owned: the window owns this room
    std::function<HistoryRecorder *()> m_history;
    OffThread::Latest m_describe;
    // The values of this session's runs and of entries made current, by statement key: the
    // history's writer may not have stored the last run yet.
    QHash<QString, QVector<HistoryParameter>> m_last;
};
