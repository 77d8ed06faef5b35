#pragma once

#include "fanout/FanOutRun.h"

#include <QObject>
#include <QVector>

#include <cstdint>
#include <functional>

class HistoryRecorder;
class QLabel;
class QueryControl;
class ShownResult;

// A statement running on several aliases, as the window shows it: the merged result in the grid
// as soon as one alias answers (more rows as they arrive), the status strip above the grid with
// each alias's rows, time or error, one history entry per alias with what was sent there, and Esc
// stopping every alias while they run. Gets the strip, the result on screen, the window's
// statement control and the history; never the window. Owned by the window; UI thread only.
class FanOutView : public QObject
{
    Q_OBJECT

public:
    using History = std::function<HistoryRecorder *()>;
    // strip: a label above the grid, hidden here until several aliases run.
    FanOutView(
        QLabel *strip, ShownResult &shown, QueryControl &control, History history, QObject *parent);
    ~FanOutView() override;

    // Runs the targets (one per ticked alias, skipped ones included) with the merged result
    // keeping storeBudget bytes in memory; shown() follows once one alias answered.
    void start(const QVector<FanOutRun::Target> &targets, std::size_t storeBudget);
    void stop(); // every alias stops; the rows merged so far stay
    bool isRunning() const;
    // The strip's text as shown (for the tests and the status bar).
    QString stripText() const;

signals:
    void shown(); // the merged result is in the grid: the window brings the grid to the front
    void ended(const QString &summary); // every alias has ended

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void statusChanged(int index);
    void rowsArrived();
    void runEnded();
    void showStrip();

    QLabel *m_strip; // not owned: the window's
    ShownResult &m_shown;
    QueryControl &m_control;
    History m_history;
    FanOutRun *m_run = nullptr; // the run under way or last run; owned (Qt parent)
    std::uint64_t m_serial = 0; // of the merged result once shown
    QVector<qint64> m_historyRuns; // per target: its history key, 0 when none
    bool m_filtering = false; // Esc is watched for while the run is under way
};
