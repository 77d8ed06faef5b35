#include "app/ScriptLog.h"

#include "app/AliasDialect.h"
#include "app/EditorMarks.h"
#include "app/Guard.h"
#include "app/ScriptValues.h"
#include "app/ShownResult.h"
#include "connection/Connection.h"
#include "connection/QueryDataset.h"
#include "history/HistoryDb.h"
#include "history/HistoryRecorder.h"
#include "query/QueryControl.h"
#include "query/Reaper.h"
#include "results/Exporter.h"
#include "settings/UserSettings.h"
#include "sql/SqlStatements.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTextBlock>
#include <QTreeWidget>

#include <algorithm>

namespace {
enum Column { LineColumn, KindColumn, OutcomeColumn, ElapsedColumn };
}

ScriptLog::ScriptLog(QWidget *window, const Controls &controls, QueryControl *control,
    ShownResult &shown, std::function<HistoryRecorder *()> history)
    : QObject(window)
    , m_window(window)
    , m_controls(controls)
    , m_control(control)
    , m_shown(shown)
    , m_statePanel(controls.statePanel)
    , m_history(std::move(history))
    , m_run(new ScriptRun(control, this)) // owned (Qt parent)
    , m_log(new QTreeWidget) // owned by the splitter below
    , m_action(new QAction(QStringLiteral("Run Script"), this)) // owned (Qt parent)
{
    connect(m_run, &ScriptRun::stepStarted, this, &ScriptLog::stepStarted);
    connect(m_run, &ScriptRun::stepEnded, this, &ScriptLog::stepEnded);
    connect(m_run, &ScriptRun::ended, this, &ScriptLog::ended);

    // The log sits under the editor, hidden until the first script: the SQL page is the editor
    // alone until then.
    m_log->setObjectName(QStringLiteral("ScriptLog"));
    m_log->setHeaderLabels({ QStringLiteral("Line"), QStringLiteral("Kind"),
        QStringLiteral("Outcome"), QStringLiteral("Elapsed") });
    m_log->setRootIsDecorated(false);
    m_log->setUniformRowHeights(true);
    m_log->header()->setStretchLastSection(false);
    m_log->header()->setSectionResizeMode(OutcomeColumn, QHeaderView::Stretch);
    m_log->hide();
    QWidget *page = controls.editor->parentWidget();
    auto *splitter = new QSplitter(Qt::Vertical, page); // owned by the page
    splitter->setObjectName(QStringLiteral("ScriptSplitter"));
    splitter->setChildrenCollapsible(false);
    delete page->layout()->replaceWidget(controls.editor, splitter); // the editor's old item
    splitter->addWidget(controls.editor);
    splitter->addWidget(m_log);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    // A query's line shows that statement's result, while it is kept.
    const auto chosen = [this](QTreeWidgetItem *item) {
        if (showPageOf(item))
            return;
        runGuarded(m_window, [&] { show(m_log->indexOfTopLevelItem(item)); });
    };
    connect(m_log, &QTreeWidget::itemClicked, this, chosen);
    connect(m_log, &QTreeWidget::itemActivated, this, chosen);

    // Copy (Ctrl+C, or the log's menu) takes the whole log as text.
    auto *copy = new QAction(QStringLiteral("Copy"), m_log); // owned by the log (Qt parent)
    copy->setObjectName(QStringLiteral("ScriptLogCopy"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    m_log->addAction(copy);
    m_log->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(copy, &QAction::triggered, this, [this] { putTextOnClipboard(logText()); });

    m_action->setObjectName(QStringLiteral("RunScript1"));
    m_action->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));
    m_action->setShortcutContext(Qt::WindowShortcut);
    window->addAction(m_action); // its key works anywhere in the window
    // Beside the other commands that run statements on the database; the editor's menu keeps
    // its own commands only.
    controls.menu->addSeparator()->setObjectName(QStringLiteral("N2"));
    controls.menu->addAction(m_action);
    connect(control, &QueryControl::stateChanged, this, [this](QueryControl::State state) {
        m_action->setEnabled(state == QueryControl::State::Idle);
    });
}

ScriptLog::Script ScriptLog::script()
{
    Script script;
    const QTextCursor cursor = m_controls.editor->textCursor();
    script.text = m_controls.editor->toPlainText();
    if (cursor.hasSelection()) {
        script.part = true;
        script.origin = cursor.selectionStart();
        script.text = script.text.mid(script.origin, cursor.selectionEnd() - script.origin);
        script.firstLine =
            m_controls.editor->document()->findBlock(script.origin).blockNumber() + 1;
    }
    script.dialect = aliasDialect(m_controls.aliases->currentText());
    ScriptRun::Unclosed unclosed;
    script.steps = ScriptRun::stepsOf(script.text, script.dialect, &unclosed);
    if (refuseUnclosed(script, unclosed))
        script.steps.clear();
    return script;
}

bool ScriptLog::refuseUnclosed(const Script &script, const ScriptRun::Unclosed &unclosed)
{
    if (unclosed.what.isEmpty())
        return false;
    // Nothing runs: the database would get half a statement, or a statement and the rest of the
    // script as its string.
    stop();
    m_script = Script();
    m_run->forget(); // the log's line is no step's
    m_log->clear();
    const int line = script.firstLine + unclosed.line - 1;
    const QString text =
        QStringLiteral("not run: %1 begun on line %2 is not closed").arg(unclosed.what).arg(line);
    auto *item = new QTreeWidgetItem(m_log); // owned by the log
    item->setText(LineColumn, QString::number(line));
    item->setText(OutcomeColumn, text);
    item->setToolTip(OutcomeColumn, text);
    m_log->show();
    m_statePanel->setText(QStringLiteral("Script not run: line %1 holds %2 that is not closed")
                              .arg(line)
                              .arg(unclosed.what));
    const int from = script.origin + unclosed.offset;
    const int last = m_controls.editor->document()->characterCount() - 1;
    QTextEdit::ExtraSelection selection;
    selection.cursor = QTextCursor(m_controls.editor->document());
    selection.cursor.setPosition(std::min(from, last));
    selection.cursor.setPosition(
        std::min(script.origin + int(script.text.size()), last), QTextCursor::KeepAnchor);
    selection.format.setBackground(QColor(255, 200, 200));
    m_controls.editor->setExtraSelections({ selection });
    QTextCursor cursor = m_controls.editor->textCursor();
    cursor.setPosition(std::min(from, last));
    m_controls.editor->setTextCursor(cursor);
    m_controls.editor->ensureCursorVisible();
    return true;
}

bool ScriptLog::start(const Script &given, Connection *connection)
{
    Script script = given;
    // The statement's route may have chosen an alias of another dialect than the one chosen.
    const Sql::Dialect dialect = aliasDialect(connection->DatabaseName);
    if (dialect != script.dialect) {
        ScriptRun::Unclosed unclosed;
        script.dialect = dialect;
        script.steps = ScriptRun::stepsOf(script.text, dialect, &unclosed);
        if (refuseUnclosed(script, unclosed))
            return false;
    }
    // The values of the script's markers are asked once, before anything runs: Esc runs nothing
    // and leaves the last run's log and results as they are.
    QVector<QVector<HistoryParameter>> values;
    if (!ScriptValues::ask(m_window, script.text, script.steps, script.dialect, script.firstLine,
            recentValues(), &values)) {
        m_statePanel->setText(QStringLiteral("Script not run: no values were given"));
        return false;
    }
    stop();
    m_stepValues = std::move(values);
    m_script = script;
    m_alias = connection->DatabaseName;
    const int count = int(script.steps.size());
    m_historyKeys.fill(0, count);
    m_closed.fill(false, count);
    m_log->clear();
    for (const ScriptRun::Step &step : script.steps) {
        auto *item = new QTreeWidgetItem(m_log); // owned by the log
        item->setText(LineColumn, QString::number(script.firstLine + step.line - 1));
        item->setText(KindColumn, Sql::kindName(step.kind));
    }
    m_log->show();
    const bool goOn = UserSettings::scriptContinueOnError();
    // The kept results share the memory the user gives one result.
    m_run->start(script.steps, connection, goOn, UserSettings::resultMemoryBytes() / KeptResults);
    return true;
}

void ScriptLog::stop(RunOutcome outcome)
{
    if (m_run->isRunning()) {
        const int running = m_run->current();
        m_run->cancel();
        const QVector<ScriptRun::Step> &steps = m_run->steps();
        HistoryRecorder *history = m_history();
        if (history && running >= 0 && running < steps.size() && m_historyKeys[running]
            && steps[running].outcome == ScriptRun::Outcome::Cancelled)
            history->runEnded(m_historyKeys[running], steps[running].elapsedMs, outcome);
    }
    for (auto &kept : m_results) {
        Reaper::dispose(std::move(kept.second));
        m_closed[kept.first] = true;
    }
    m_results.clear();
    if (m_shownStep >= 0)
        m_closed[m_shownStep] = true; // the shown result: its caller closes it
    m_shownStep = -1;
    for (int i = 0; i < m_log->topLevelItemCount(); ++i)
        showLine(i);
}

void ScriptLog::stepStarted(int index)
{
    showLine(index);
    m_log->scrollToItem(m_log->topLevelItem(index));
    mark(index, m_window->palette().color(QPalette::Highlight).lighter(170));
    if (HistoryRecorder *history = m_history())
        m_historyKeys[index] = history->runStarted(m_run->steps()[index].sql, m_alias,
            QDateTime::currentMSecsSinceEpoch(), m_stepValues.value(index));
}

void ScriptLog::stepEnded(int index, StatementOutcome *outcome)
{
    const ScriptRun::Step &step = m_run->steps()[index];
    const bool failed = step.outcome == ScriptRun::Outcome::Error;
    HistoryRecorder *history = m_history();
    if (history && m_historyKeys[index]) {
        history->runEnded(m_historyKeys[index], step.elapsedMs,
            failed ? RunOutcome::Error : RunOutcome::Completed, step.errorText);
        if (step.outcome == ScriptRun::Outcome::Rows)
            history->runCounted(m_historyKeys[index], step.count);
    }
    if (outcome && step.outcome == ScriptRun::Outcome::Rows && outcome->result)
        keep(index, std::move(outcome->result));
    showLine(index);
    if (outcome)
        emit statementEnded(m_alias, step.sql, !failed);
}

void ScriptLog::ended()
{
    const QVector<ScriptRun::Step> &steps = m_run->steps();
    for (int i = 0; i < m_log->topLevelItemCount(); ++i)
        showLine(i);
    m_controls.editor->setExtraSelections({});
    int errors = 0;
    int firstError = -1;
    int cancelled = -1;
    for (int i = 0; i < steps.size(); ++i) {
        if (steps[i].outcome == ScriptRun::Outcome::Error && errors++ == 0)
            firstError = i;
        if (steps[i].outcome == ScriptRun::Outcome::Cancelled)
            cancelled = i;
    }
    const bool stopped = !steps.isEmpty() && steps.last().outcome == ScriptRun::Outcome::Skipped;
    const auto lineOf = [this, &steps](int i) { return m_script.firstLine + steps[i].line - 1; };
    QString summary;
    if (cancelled >= 0) {
        summary = QStringLiteral("Script cancelled at line %1").arg(lineOf(cancelled));
    } else if (stopped && firstError >= 0) {
        summary = QStringLiteral("Script stopped at line %1").arg(lineOf(firstError));
    } else {
        summary = QStringLiteral("Script Complete: %1 statements").arg(steps.size());
        if (errors)
            summary += QStringLiteral(", %1 failed").arg(errors);
    }
    m_statePanel->setText(summary);
    if (firstError >= 0) {
        // The statement that failed first stays marked, the place its message points to more
        // strongly, and its line chosen in the log.
        mark(firstError, QColor(255, 228, 228));
        const ScriptRun::Step &step = steps[firstError];
        QList<QTextEdit::ExtraSelection> marks = m_controls.editor->extraSelections();
        const int at = EditorMarks::errorMarks(m_controls.editor, step.errorText, step.sql,
            m_script.origin + step.begin, m_script.dialect, marks);
        if (at >= 0) {
            m_controls.editor->setExtraSelections(marks);
            QTextCursor cursor = m_controls.editor->textCursor();
            cursor.setPosition(at);
            m_controls.editor->setTextCursor(cursor);
            m_controls.editor->ensureCursorVisible();
        }
        m_log->setCurrentItem(m_log->topLevelItem(firstError));
    } else if (cancelled < 0 && m_shownStep >= 0) {
        m_controls.pages->setCurrentWidget(m_controls.gridPage);
        m_controls.grid->setFocus();
    }
}

void ScriptLog::keep(int index, std::unique_ptr<QueryDataset> result)
{
    // The grid shows the newest query's result; the one it showed is kept beside the others.
    putOnGrid(index, std::move(result));
    while (int(m_results.size()) + 1 > KeptResults)
        closeResult(m_results.begin()->first); // the oldest
}

void ScriptLog::putOnGrid(int index, std::unique_ptr<QueryDataset> result)
{
    // The result the grid showed goes back among the kept ones (one not of this script goes).
    std::unique_ptr<QueryDataset> before = m_shown.take();
    if (before && m_shownStep >= 0)
        m_results[m_shownStep] = std::move(before);
    else
        Reaper::dispose(std::move(before));
    m_shownStep = index;
    m_shown.show(std::move(result));
}

void ScriptLog::closeResult(int index)
{
    const auto kept = m_results.find(index);
    if (kept == m_results.end())
        return;
    Reaper::dispose(std::move(kept->second));
    m_results.erase(kept);
    m_closed[index] = true;
    showLine(index);
}

void ScriptLog::show(int index)
{
    const QueryControl::State state = m_control->state();
    if (state == QueryControl::State::FetchingToEnd || state == QueryControl::State::Counting)
        return; // the grid's result is on a worker now
    const auto kept = m_results.find(index);
    if (index != m_shownStep && kept == m_results.end())
        return; // no result, or closed: its line says so
    if (index != m_shownStep) {
        std::unique_ptr<QueryDataset> result = std::move(kept->second);
        m_results.erase(kept);
        putOnGrid(index, std::move(result));
    }
    m_controls.pages->setCurrentWidget(m_controls.gridPage);
    m_controls.grid->setFocus();
}

void ScriptLog::showLine(int index)
{
    QTreeWidgetItem *item = m_log->topLevelItem(index);
    const QVector<ScriptRun::Step> &steps = m_run->steps();
    if (!item || index >= steps.size())
        return;
    const ScriptRun::Step &step = steps[index];
    QString outcome = ScriptRun::outcomeText(step);
    if (index < m_closed.size() && m_closed[index])
        outcome += QStringLiteral(" (result closed)");
    if (!step.valuesText.isEmpty())
        outcome += QLatin1Char(' ') + step.valuesText;
    item->setText(OutcomeColumn, outcome.simplified()); // one line; the hint has it all
    item->setToolTip(OutcomeColumn, outcome);
    const bool ran = step.outcome != ScriptRun::Outcome::Waiting
        && step.outcome != ScriptRun::Outcome::Running
        && step.outcome != ScriptRun::Outcome::Skipped;
    item->setText(ElapsedColumn, ran ? StatementOutcome::elapsedText(step.elapsedMs) : QString());
}

void ScriptLog::mark(int index, const QColor &background)
{
    const ScriptRun::Step &step = m_run->steps()[index];
    // The editor may have changed since the script started: the mark stays inside its text.
    const int last = m_controls.editor->document()->characterCount() - 1;
    QTextEdit::ExtraSelection selection;
    selection.cursor = QTextCursor(m_controls.editor->document());
    selection.cursor.setPosition(std::min(m_script.origin + step.begin, last));
    selection.cursor.setPosition(
        std::min(m_script.origin + step.end, last), QTextCursor::KeepAnchor);
    selection.format.setBackground(background);
    m_controls.editor->setExtraSelections({ selection });
}

std::function<QStringList(const QString &)> ScriptLog::recentValues()
{
    HistoryRecorder *history = m_history();
    if (!history || !history->isOpen())
        return {};
    // A connection of its own, opened at the first name asked about: the recorder's stays with
    // its searches.
    auto db = std::make_shared<std::unique_ptr<HistoryDb>>();
    return [path = history->path(), db](const QString &name) -> QStringList {
        try {
            if (!*db)
                *db = std::make_unique<HistoryDb>(path);
            return (*db)->recentValues(name);
        } catch (const HistoryDbError &) {
            return {}; // no values proposed: the dialog still asks
        }
    };
}

void ScriptLog::showStatement(const QString &sql, int origin, const QVector<int> &pageRecords,
    const QVector<ParameterOutput> &outputs, qint32 elapsedMs)
{
    m_run->forget(); // the log's lines are no script's steps now
    m_script = Script();
    m_log->clear();
    m_statementPages = m_shown.pagesSerial();
    const QVector<Sql::Statement> statements = Sql::splitStatements(sql);
    const int last = m_controls.editor->document()->characterCount() - 1;
    const int line = m_controls.editor->document()->findBlock(std::min(origin, last)).blockNumber()
        + 1 + (statements.isEmpty() ? 0 : statements.first().line - 1);
    QStringList summary;
    if (pageRecords.size() > 1)
        summary << QStringLiteral("%1 results").arg(pageRecords.size());
    if (!outputs.isEmpty())
        summary << QStringLiteral("%1 OUT %2")
                       .arg(outputs.size())
                       .arg(outputs.size() == 1 ? QStringLiteral("value")
                                                : QStringLiteral("values"));
    auto *head = new QTreeWidgetItem(m_log); // owned by the log
    head->setText(LineColumn, QString::number(line));
    head->setText(KindColumn,
        statements.size() == 1 ? Sql::kindName(statements.first().kind) : QStringLiteral("batch"));
    head->setText(OutcomeColumn, summary.join(QStringLiteral(", ")));
    head->setText(ElapsedColumn, StatementOutcome::elapsedText(elapsedMs));
    // One result alone is the grid's as always: only several get lines.
    for (int page = 0; pageRecords.size() > 1 && page < pageRecords.size(); ++page) {
        auto *item = new QTreeWidgetItem(m_log); // owned by the log
        item->setText(KindColumn, QStringLiteral("result"));
        item->setText(OutcomeColumn, ShownResult::pageCaption(page, pageRecords[page]));
        item->setData(OutcomeColumn, Qt::UserRole, page);
    }
    for (const ParameterOutput &output : outputs) {
        auto *item = new QTreeWidgetItem(m_log); // owned by the log
        const QString text =
            QStringLiteral("OUT %1 = %2")
                .arg(output.name, output.isNull ? QStringLiteral("NULL") : output.text);
        item->setText(KindColumn, QStringLiteral("out"));
        item->setText(OutcomeColumn, text.simplified()); // one line; the hint has it all
        item->setToolTip(OutcomeColumn, text);
    }
    m_log->show();
}

bool ScriptLog::showPageOf(QTreeWidgetItem *item)
{
    const QVariant page = item ? item->data(OutcomeColumn, Qt::UserRole) : QVariant();
    if (!page.isValid())
        return false;
    // Only while the grid still shows that statement's results.
    if (m_statementPages == m_shown.pagesSerial() && m_shown.showPage(page.toInt())) {
        m_controls.pages->setCurrentWidget(m_controls.gridPage);
        m_controls.grid->setFocus();
    }
    return true;
}

QString ScriptLog::logText() const
{
    QStringList lines;
    for (int i = 0; i < m_log->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = m_log->topLevelItem(i);
        QStringList cells;
        for (int column = 0; column < m_log->columnCount(); ++column)
            cells << item->text(column);
        while (!cells.isEmpty() && cells.last().isEmpty())
            cells.removeLast();
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n'));
}
