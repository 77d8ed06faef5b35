#pragma once

#include "connection/StatementParameters.h"
#include "history/HistoryRecord.h"
#include "query/ScriptRun.h"

#include <QObject>
#include <QVector>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

class Connection;
class QAction;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class QueryControl;
class QueryDataset;
class ShownResult;
class HistoryRecorder;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QTabWidget;
class QTableView;
class QWidget;

// Run Script (Alt+X, also in the Auto-commit button's menu): the statements of the editor, or of
// its selection, run one after another by a ScriptRun, with a log under the editor that lists each
// one's line, kind, outcome and time; the running statement is marked in the editor. Each
// statement is recorded in the history database; the results of the last few queries are kept
// (the grid shows the newest, a query's line in the log shows its own). A single statement's
// several results and OUT values are listed there too; Copy takes the log as text. Owned by the
// window (Qt parent); UI thread only.
class ScriptLog : public QObject
{
    Q_OBJECT

public:
    // menu: where Run Script is listed, after a separator.
    // The window's controls the script uses (not owned).
    struct Controls
    {
        QPlainTextEdit *editor; // RE1: the log goes under it, on its page
        QComboBox *aliases; // ComboBox1: the dialect the script is split in
        QTabWidget *pages; // PageControl1
        QWidget *gridPage; // TabSheet2, shown with the grid when a query's result is kept
        QTableView *grid; // DBGrid1
        QLabel *statePanel; // status bar panel 1: the script's summary
        QMenu *menu; // where Run Script is listed, after a separator
    };
    // shown: the result in the grid; history: the history database, or null once it could not
    // be used.
    ScriptLog(QWidget *window, const Controls &controls, QueryControl *control, ShownResult &shown,
        std::function<HistoryRecorder *()> history);

    QAction *action() const { return m_action; } // RunScript1

    struct Script
    {
        QString text; // the selection, or the editor's whole text
        int origin = 0; // where it starts in the editor
        int firstLine = 1; // the editor's line of its start
        bool part = false; // a selection, not the whole text
        Sql::Dialect dialect = Sql::Dialect::Db2; // what the steps were split in
        QVector<ScriptRun::Step> steps;
    };
    // The script of the editor in the chosen alias's dialect. Steps empty: nothing to run, for
    // only blanks are there, or a statement the splitter could not close, which the log, the
    // status bar and a mark in the editor then show.
    Script script();
    // Once the alias's connection is open: the script runs on it. False when nothing runs: a
    // statement is not closed, or the values of its markers were not given (Esc).
    bool start(const Script &script, Connection *connection);
    // Close Query, a new run, or the window going: the running statement is cancelled, the
    // rest skipped, and every kept result is closed.
    void stop(RunOutcome outcome = RunOutcome::Abandoned);

    static constexpr int KeptResults = 3;

    // After a Run or Exec of the statement at origin in the editor that gave several results or
    // OUT values: the log under the editor lists each result's records (pageRecords: the shown
    // pages', in order) and each value, "OUT :name = value"; a result's line shows its page.
    void showStatement(const QString &sql, int origin, const QVector<int> &pageRecords,
        const QVector<ParameterOutput> &outputs, qint32 elapsedMs);
    // The log's lines as text, one a line, their cells apart by tabs: what Copy puts on the
    // clipboard.
    QString logText() const;

signals:
    // A statement of the script reached the server and ended: what a definition changed may
    // need reading again.
    void statementEnded(const QString &alias, const QString &sql, bool succeeded);

private:
    void stepStarted(int index);
    void stepEnded(int index, StatementOutcome *outcome);
    void ended();
    void keep(int index, std::unique_ptr<QueryDataset> result);
    void putOnGrid(int index, std::unique_ptr<QueryDataset> result); // the grid shows it
    void closeResult(int index);
    void show(int index); // the statement's kept result in the grid
    void showLine(int index);
    void mark(int index, const QColor &background);
    bool refuseUnclosed(const Script &script, const ScriptRun::Unclosed &unclosed);
    bool showPageOf(QTreeWidgetItem *item); // a result's line of showStatement: its page
    // The values a marker's name took before, from the history database (none without one).
    std::function<QStringList(const QString &)> recentValues();

    QWidget *m_window; // not owned: the window owns this room
    Controls m_controls; // the window's controls
    QueryControl *m_control; // not owned: the window's
    ShownResult &m_shown; // the window's
    QLabel *m_statePanel; // not owned: the status bar's
    std::function<HistoryRecorder *()> m_history;
    ScriptRun *m_run; // owned (Qt parent)
    QTreeWidget *m_log; // ScriptLog, owned by the splitter under the editor
    QAction *m_action; // RunScript1, owned (Qt parent)
    Script m_script;
    QString m_alias;
    QVector<qint64> m_historyKeys; // per step, 0 when not recorded
    QVector<QVector<HistoryParameter>> m_stepValues; // per step: the values bound to its markers
    QVector<bool> m_closed; // per step: its result was kept and is closed now
    std::map<int, std::unique_ptr<QueryDataset>> m_results; // kept, not shown
    int m_shownStep = -1; // the step whose result the grid shows
    // The pages that showStatement's result lines show (ShownResult::pagesSerial).
    std::uint64_t m_statementPages = 0;
};
