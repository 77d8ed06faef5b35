#include "app/CatalogFreshness.h"
#include "app/EditorCompletion.h"
#include "app/EditorMarks.h"
#include "app/EditorRecovery.h"
#include "app/FanOutView.h"
#include "app/GuardRails.h"
#include "app/HistoryPage.h"
#include "app/LoginFlow.h"
#include "app/Routing.h"
#include "app/RoutingView.h"
#include "app/RunValues.h"
#include "app/ScriptLog.h"
#include "app/Transactions.h"
#include "app/Unit1.h"
#include "connection/Connection.h"
#include "connection/DatabaseError.h"
#include "connection/QueryDataset.h"
#include "connection/Session.h"
#include "history/HistoryStore.h"
#include "query/QueryControl.h"
#include "results/DataSource.h"
#include "settings/UserSettings.h"
#include "sql/SqlLexer.h"
#include "ui_Unit1.h"
#include "widgets/StatementErrorBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>

#include <functional>
#include <utility>

// The run path: Run, Exec, Run Script and Close Query over the statement's QueryControl, the
// busy state, and what a statement's outcome shows.

void TForm1::setWaitCursor(bool on)
{
    // One override cursor per window at most, so that every path that ends the busy state
    // leaves the application's cursor stack as it found it.
    if (on && !m_waitCursor)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else if (!on && m_waitCursor)
        QApplication::restoreOverrideCursor();
    m_waitCursor = on;
}

void TForm1::Button1Click(QObject *)
{
    startStatement(false);
}

void TForm1::Button3Click(QObject *)
{
    startStatement(true);
}

void TForm1::Button2Click(QObject *)
{
    CloseCurrentQuery();
}

void TForm1::runRemembered()
{
    m_runRemembered = true;
    startStatement(false);
}

void TForm1::startStatement(bool isExec, bool atCursor)
{
    const bool remembered = std::exchange(m_runRemembered, false);
    refuseNulCharacter(); // before anything is closed, run or added to the history
    QStringList lines = EditorLines();
    int origin = 0;
    if (atCursor && !m_marks->statementAtCursor(lines, origin))
        return; // only blanks and comments there: nothing runs, nothing closes
    routeAndConnect(
        lines, origin, atCursor,
        [this, isExec, atCursor, remembered] {
            m_runRemembered = remembered;
            startStatement(isExec, atCursor);
        },
        [this, isExec, remembered](
            const QString &alias) { runWithValues(alias, isExec, remembered); });
}

void TForm1::routeAndConnect(const QStringList &lines, int origin, bool part,
    std::function<void()> again, std::function<void(const QString &)> run)
{
    // Asked before anything closes or runs: No leaves everything as it was.
    const QString text = HistoryStore::joinLines(lines);
    const Routing::Choice route = Routing::route(text);
    const QString target =
        route.alias.isEmpty() || ui->ComboBox1->findText(route.alias, Qt::MatchFixedString) < 0
        ? Sql::asciiUpper(ui->ComboBox1->currentText())
        : route.alias;
    // Open work on another alias, or held by a cancelled statement, is settled first; the
    // command starts again once it was committed or rolled back.
    if (!target.isEmpty() && !m_transactions->settleFor(target, std::move(again)))
        return;
    if (!target.isEmpty()
        && !GuardRails::confirm(this, target, m_routing->isProduction(target), text))
        return;
    m_recovery->saveNow(); // whatever happens to the statement, the text is kept
    CloseCurrentQuery();
    m_runLines = lines;
    m_runOrigin = origin;
    if (part)
        selectDatabaseFor(text);
    else
        SelectDatabaseFromSQL();
    if (ui->ComboBox1->currentText().isEmpty())
        return;
    const QString alias = Sql::asciiUpper(ui->ComboBox1->currentText());
    m_runAlias = alias;
    // The rest of the command runs once the connection is open; a failed connect has reported
    // itself, an abandoned one never comes back.
    ConnectDatabase(alias, [alias, run = std::move(run)](bool connected) {
        if (connected)
            run(alias);
    });
}

void TForm1::RunScript1Click(QObject *)
{
    if (m_control->state() != QueryControl::State::Idle)
        return; // as Run: nothing while a statement is under way
    refuseNulCharacter();
    const ScriptLog::Script script = m_scripts->script();
    if (script.steps.isEmpty())
        return; // only blanks and comments: nothing runs, nothing closes
    // The guard rails ask once, listing every statement of the script that needs a Yes.
    const QStringList lines = script.part ? script.text.split(QLatin1Char('\n')) : EditorLines();
    routeAndConnect(
        lines, script.origin, script.part, [this] { RunScript1Click(this); },
        [this, script](const QString &alias) {
            Connection *connection = Session::instance().FindConnection(alias);
            if (!connection || !connection->IsConnected())
                return;
            if (!m_scripts->start(script, connection))
                return; // its values were not given, or a statement is left open
            // The settings history gets the script once; a part of the editor is not the
            // editor's text, which stays unsaved.
            const bool wasChanged = QueryChanged;
            AddToHistory(m_runLines);
            if (m_runLines != EditorLines())
                QueryChanged = wasChanged;
        });
}

void TForm1::runWithValues(const QString &alias, bool isExec, bool remembered)
{
    Connection *connection = Session::instance().FindConnection(alias);
    if (!connection || !connection->IsConnected())
        return;
    // A statement without markers starts at once, as it always did.
    const std::shared_ptr<ConnectionHandle> handle = connection->handle();
    if (!m_runValues->prepare(alias, HistoryStore::joinLines(m_runLines), handle,
            m_control->transaction().holds(handle), remembered,
            [this, alias, isExec](StatementValues::Bound bound) {
                runGuarded(this, [&] { startBound(alias, isExec, std::move(bound)); });
            }))
        startBound(alias, isExec, {});
}

void TForm1::startBound(const QString &alias, bool isExec, StatementValues::Bound bound)
{
    Connection *connection = Session::instance().FindConnection(alias);
    if (!connection || !connection->IsConnected())
        return; // logged out while the values were asked for
    m_freshness->aliasInUse(alias);
    m_control->setStoreBudget(UserSettings::resultMemoryBytes());
    // The history and the guard rails keep the text as written; the driver gets its markers as
    // "?" and the values bound to them.
    const QString text = HistoryStore::joinLines(m_runLines);
    m_runParameters = bound.values;
    // Panel 1, the buttons and the cursor follow the state that this start enters.
    CurrentThread = m_control->startStatement(
        bound.driverText.isEmpty() ? text : bound.driverText, connection, isExec,
        !isExec && ui->CheckBox1->isChecked(),
        [this](StatementOutcome &outcome) { runGuarded(this, [&] { QueryFinished(outcome); }); },
        [this](StatementOutcome &outcome) {
            historyRunEnded(outcome); // the select itself ended; its count runs on
        },
        0, std::move(bound.values)); // frees itself
    m_historyPage->runStarted(alias, text, bound.remembered);
    // A part of the editor in the history is not the editor's text: that stays unsaved.
    const bool wasChanged = QueryChanged;
    AddToHistory(m_runLines); // while the worker works
    if (m_runLines != EditorLines())
        QueryChanged = wasChanged;
}

void TForm1::showState(QueryControl::State state)
{
    using State = QueryControl::State;
    showBusy(state);
    // "Connecting to ..." shows only while the connect waits; panel 1 then gets its earlier
    // text back, since the command itself writes what follows.
    if (state == State::Connecting) {
        if (!m_panelBeforeConnect)
            m_panelBeforeConnect = statusText(1);
        setStatusText(1, QStringLiteral("Connecting to ") + m_control->alias());
    } else if (m_panelBeforeConnect) {
        setStatusText(1, *m_panelBeforeConnect);
        m_panelBeforeConnect.reset();
    }
    if (state == State::Running)
        setStatusText(1,
            m_control->isExec() ? QStringLiteral("Executing SQL")
                                : QStringLiteral("Running Query"));
}

void TForm1::showBusy(QueryControl::State state)
{
    // Reading or storing the login belongs to the connect, before and after it.
    const bool busy = state != QueryControl::State::Idle || m_login->holdsCommands();
    ui->SpeedButton1->setEnabled(!busy);
    ui->SpeedButton2->setEnabled(!busy);
    setWaitCursor(busy);
}

void TForm1::CloseCurrentQuery()
{
    m_scripts->stop(); // a running script is cancelled, the rest of it skipped
    if (m_fanOut && m_fanOut->isRunning())
        m_fanOut->stop(); // every alias, also before the first one answered
    if (m_runValues)
        m_runValues->drop(); // values still being learnt are not asked for any more
    if (CurrentThread) {
        historyRunAbandoned();
        CurrentThread = nullptr;
    }
    // A connect is forgotten; a worker is abandoned: its statement is cancelled on the server,
    // it calls nothing and frees itself.
    m_control->abandon();
    m_login->forgetRequest(); // a connect still reading the stored login goes no further
    m_shown.close(m_control->transaction());
    showState(m_control->state()); // the default cursor, Run and Exec enabled
}

void TForm1::cancelForExit()
{
    m_scripts->stop(RunOutcome::Cancelled);
    CurrentThread = nullptr;
    m_control->abandon();
}

void TForm1::QueryFinished(StatementOutcome &outcome)
{
    // The state is Idle already: the cursor is the default, Run and Exec are enabled.
    historyRunEnded(outcome);
    CurrentThread = nullptr;
    m_freshness->statementEnded(m_runAlias, HistoryStore::joinLines(m_runLines), !outcome.failed());
    // A count that the disk stopped (the result's temporary file could not grow) leaves the
    // result open with every record fetched so far: those are shown, as after Ctrl+End, and the
    // message says so. Any other failure of the count closed the result.
    const bool keptRows = outcome.failed() && !outcome.isExec && outcome.opened && outcome.result
        && outcome.result->IsOpen();
    if (outcome.failed() && !keptRows) {
        showQueryError(outcome); // panel 1 keeps "Running Query" or "Executing SQL"
    } else if (outcome.isExec) {
        setStatusText(1, QStringLiteral("Execute Complete!"));
    } else {
        ui->PageControl1->setCurrentWidget(ui->TabSheet2);
        ui->DBGrid1->setFocus();
        m_shown.show(std::move(outcome.result), std::move(outcome.moreResults));
        if (keptRows) {
            postError(outcome.errorText);
        } else if (outcome.counted || ui->CheckBox1->isChecked()) {
            if (!outcome.counted)
                DataSource1->syncRows();
            historyRunCounted(m_shown.get()->fetchedCount());
            m_shown.setRecordCount(m_shown.get()->fetchedCount());
        }
        setStatusText(1, QStringLiteral("Select Complete in : ") + outcome.elapsedText());
    }
    // Several results or OUT values: the log under the editor lists them.
    const QVector<int> records = outcome.isExec ? QVector<int>() : m_shown.pageRecords();
    if ((!outcome.failed() || keptRows)
        && (records.size() > 1 || !outcome.parameterOutputs.isEmpty()))
        m_scripts->showStatement(HistoryStore::joinLines(m_runLines), m_runOrigin, records,
            outcome.parameterOutputs, outcome.elapsedMs);
}

void TForm1::showQueryError(const StatementOutcome &outcome)
{
    StatementError error;
    error.message = outcome.errorText;
    for (const DiagnosticRecord &record : outcome.errorRecords)
        error.records.append({ record.sqlState, record.nativeError, record.message });
    error.statement = HistoryStore::joinLines(m_runLines);
    error.alias = m_runAlias;
    // The user ID of the login in use, never its password.
    for (const QString &line : CachedParms.split(QStringLiteral("\r\n"))) {
        if (line.startsWith(QStringLiteral("USER NAME=")))
            error.userId = line.mid(10);
    }
    error.time = QDateTime::currentDateTime();
    // A value the driver refused is named by its marker.
    QStringList states;
    for (const StatementError::Record &record : error.records)
        states << record.sqlState;
    const QString refused = RunValues::refusalNote(error.message, states, m_runParameters);
    // After the hand-back, so that the worker does not wait on the box.
    QMetaObject::invokeMethod(
        this,
        [this, error, refused, origin = m_runOrigin] {
            StatementErrorBox box(error, this);
            box.setObjectName(QStringLiteral("QueryErrorBox"));
            box.addNote(refused);
            QVector<QPair<QString, QString>> records;
            for (const StatementError::Record &record : error.records)
                records.append({ record.sqlState, record.message });
            box.addNote(
                m_completion->didYouMean(error.message, records, error.statement, error.alias));
            box.exec();
            m_marks->markErrorPlace(error.message, error.statement, origin);
        },
        Qt::QueuedConnection);
}

void TForm1::postError(const QString &text)
{
    QMetaObject::invokeMethod(
        this, [this, text] { showError(this, text); }, Qt::QueuedConnection);
}
