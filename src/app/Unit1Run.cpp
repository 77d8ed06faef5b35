#include "app/CatalogFreshness.h"
#include "app/EditorCompletion.h"
#include "app/EditorMarks.h"
#include "app/EditorRecovery.h"
#include "app/GuardRails.h"
#include "app/LoginFlow.h"
#include "app/ResultView.h"
#include "app/Routing.h"
#include "app/RoutingView.h"
#include "app/ScriptLog.h"
#include "app/Transactions.h"
#include "app/Unit1.h"
#include "app/WindowLifecycle.h"
#include "connection/Connection.h"
#include "connection/ConnectionHandle.h"
#include "connection/DatabaseError.h"
#include "connection/QueryDataset.h"
#include "connection/Session.h"
#include "history/HistoryStore.h"
#include "query/QueryControl.h"
#include "query/Reaper.h"
#include "results/DataSource.h"
#include "results/GridDelegate.h"
#include "results/TargetFile.h"
#include "settings/UserSettings.h"
#include "sql/SqlLexer.h"
#include "ui_Unit1.h"
#include "valuetext/FieldText.h"
#include "widgets/StatementErrorBox.h"
#include "widgets/ValueViewer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QShortcut>

#include <algorithm>
#include <exception>
#include <functional>

namespace {
// The value viewer's "Save as…", by the exports' rules: a FIFO or a device is written directly,
// any other file is replaced only once the whole value is written.
QString writeValueFile(const QString &path, const QByteArray &bytes)
{
    try {
        TargetFile file(path);
        if (!file.open())
            return QStringLiteral("Cannot create file %1: %2")
                .arg(QDir::toNativeSeparators(path), file.errorString());
        // A short write leaves a file as it was: nothing is committed.
        const auto failed = [&path](const QString &reason) {
            return QStringLiteral("Unable to write to %1: %2")
                .arg(QDir::toNativeSeparators(path), reason);
        };
        if (file.device().write(bytes) != bytes.size())
            return failed(file.device().errorString());
        if (!file.commit())
            return failed(file.errorString());
        return {};
    } catch (const std::exception &error) {
        return QString::fromStdString(error.what()); // a folder
    }
}

// A column is never sized wider than this many characters from code; the user may widen it.
constexpr int maxInitialColumnChars = 60;

// Ctrl+End in the grid: handed to the window when more of the result waits at the server.
class GridEndKey : public QObject
{
public:
    GridEndKey(QObject *parent, std::function<bool()> handler)
        : QObject(parent)
        , m_handler(std::move(handler))
    { }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        return key->key() == Qt::Key_End && key->modifiers() == Qt::ControlModifier && m_handler();
    }

private:
    std::function<bool()> m_handler;
};
}

TForm1::RunCleanup::~RunCleanup()
{
    if (!form)
        return;
    form->CurrentThread = nullptr;
    form->m_control->blockSignals(true); // the window is going: nothing of it is shown again
    form->m_control->abandon();
    form->DataSource1->setDataSet(nullptr);
    Reaper::dispose(std::move(form->CurrentQuery)); // its free may wait on the server
    form->setWaitCursor(false);
}

void TForm1::setupGrid()
{
    DataSource1 = new DataSource(this); // owned by the window (Qt parent)
    m_control = new QueryControl(this); // owned by the window (Qt parent)
    m_marks = new EditorMarks(ui->RE1, this, ui->ComboBox1); // owned by the window (Qt parent)
    m_login = std::make_unique<LoginFlow>(
        this, m_control, CachedParms, [this] { showBusy(m_control->state()); });
    m_runCleanup.form = this;
    // A statement under way (a script's too) is cancelled before a commit or rollback, and the
    // window, the script and the status bar say so; a result still being fetched holds its
    // connection's turn: it goes too, as the end would end its cursor anyway. A whole result
    // stays on screen.
    m_transactions = new Transactions(
        this, m_control, ui->TransactionButton, ui->StatusBar1, ui->ComboBox1, [this] {
            using State = QueryControl::State;
            const State state = m_control->state();
            if (state == State::Running || state == State::Counting
                || state == State::FetchingToEnd) {
                const bool own = CurrentThread; // else a script's, which tells of it itself
                CloseCurrentQuery();
                if (own)
                    setStatusText(1, QStringLiteral("Statement cancelled"));
            } else if (CurrentQuery && !CurrentQuery->allFetched()) {
                CloseCurrentQuery();
            }
        }); // owned by the window (Qt parent)
    connect(m_control, &QueryControl::stateChanged, this, &TForm1::showState);
    m_control->setCountWanted(ui->CheckBox1->isChecked());
    connect(ui->CheckBox1, &QCheckBox::toggled, m_control, &QueryControl::setCountWanted);
    connect(m_control, &QueryControl::progress, this,
        [this](int fetched) { setTransientCount(fetched); });
    m_scripts =
        new ScriptLog(this, *ui, m_control, ui->TransactionButton->menu()); // owned (parent)
    wire(m_scripts->action(), &QAction::triggered, &TForm1::RunScript1Click);
    connect(m_scripts, &ScriptLog::statementEnded, m_freshness, &CatalogFreshness::statementEnded);
    QTableView *grid = ui->DBGrid1;
    grid->setModel(DataSource1);
    grid->setItemDelegate(new GridDelegate(grid)); // owned by the grid (Qt parent)
    grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    // Compact rows, one line of text each, so that a screen shows as many records as it can.
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 4);
    grid->verticalHeader()->setMinimumSectionSize(grid->fontMetrics().height() + 4);

    connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex &current) { gridCurrentRowChanged(current.row()); });
    connect(grid->horizontalHeader(), &QHeaderView::sectionResized, this,
        [this](int column) { gridColumnsResized(column); });
    grid->installEventFilter(new GridEndKey(grid, [this] { // owned by the grid (Qt parent)
        if (!CurrentQuery || CurrentQuery->allFetched()
            || m_control->state() != QueryControl::State::Idle)
            return false;
        runGuarded(this, [this] { fetchToEnd(); });
        return true;
    }));
    // A cell's whole value, however long, in a viewer of its own: double-click or Shift+Return.
    const auto viewValue = [this, grid] {
        const QModelIndex index = grid->currentIndex();
        if (!CurrentQuery || !index.isValid() || m_control->state() != QueryControl::State::Idle)
            return;
        const QString title = grid->model()->headerData(index.column(), Qt::Horizontal).toString();
        const int record = DataSource1->recordAt(index.row());
        // A binary value as its bytes, in a hex dump; the stored value is read at the current
        // record, which the grid's current row shows.
        ValueText::StoredKind kind {};
        const char *data = nullptr;
        std::size_t length = 0;
        if (CurrentQuery->RecNo() == record
            && CurrentQuery->fieldStored(index.column(), kind, data, length)
            && kind == ValueText::StoredKind::Binary) {
            ValueViewer viewer(title, QByteArray(data, qsizetype(length)), writeValueFile, this);
            viewer.exec();
            return;
        }
        const QString value = CurrentQuery->isNull(record, index.column())
            ? nullFieldText()
            : CurrentQuery->text(record, index.column());
        ValueViewer viewer(title, value, writeValueFile, this);
        viewer.exec();
    };
    connect(grid, &QAbstractItemView::doubleClicked, this, [viewValue] { viewValue(); });
    for (const Qt::Key enter : { Qt::Key_Return, Qt::Key_Enter }) {
        auto *shortcut = new QShortcut(QKeySequence(Qt::SHIFT | enter), grid); // owned by grid
        shortcut->setContext(Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this,
            [this, viewValue] { runGuarded(this, viewValue); });
    }
    m_resultView = new ResultView(grid, ui->TabSheet2Layout, DataSource1, // owned (Qt parent)
        { [this] { return CurrentQuery && CurrentQuery->IsOpen() ? CurrentQuery.get() : nullptr; },
            [this] {
                if (!CurrentQuery || m_control->state() != QueryControl::State::Idle)
                    return false;
                fetchToEnd();
                return true;
            },
            [this] { m_control->stopFetch(); } },
        this);
    setupKeys();
    // A failed block fetch happens inside the view's event handling: report it afterwards.
    connect(
        DataSource1, &DataSource::fetchFailed, this,
        [this](const QString &message) { showError(this, message); }, Qt::QueuedConnection);
}

void TForm1::gridCurrentRowChanged(int row)
{
    // The grid's current row shows the dataset's current record (through the rows shown).
    if (m_bindingGrid || row < 0 || !CurrentQuery || DataSource1->dataSet() != CurrentQuery.get())
        return;
    runGuarded(this, [&] { CurrentQuery->setRecNo(DataSource1->recordAt(row)); });
}

void TForm1::gridColumnsResized(int column)
{
    // A user's resize: the field of that column takes its width in average characters, which
    // the report layout then follows. The other columns keep their fields' widths: a column
    // that was only capped for display must not shorten its field.
    QueryDataset *dataSet = DataSource1->dataSet();
    if (m_bindingGrid || !dataSet || column < 0 || column >= dataSet->FieldCount())
        return;
    const QHeaderView *header = ui->DBGrid1->horizontalHeader();
    dataSet->setDisplayWidth(
        column, displayWidthFromPixels(header->sectionSize(column), ui->DBGrid1->fontMetrics()));
}

void TForm1::BindGrid()
{
    if (!CurrentQuery || !CurrentQuery->IsOpen()) {
        UnbindGrid();
        return;
    }
    QTableView *grid = ui->DBGrid1;
    const bool wasBinding = m_bindingGrid;
    m_bindingGrid = true;
    DataSource1->setDataSet(CurrentQuery.get());
    const QFontMetrics metrics = grid->fontMetrics();
    const int maxPixels = pixelsForDisplayWidth(maxInitialColumnChars, QString(), metrics);
    for (int field = 0; field < CurrentQuery->FieldCount(); ++field) {
        const int pixels = pixelsForDisplayWidth(
            CurrentQuery->DisplayWidth(field), CurrentQuery->FieldTitle(field), metrics);
        grid->horizontalHeader()->resizeSection(field, std::min(pixels, maxPixels));
    }
    const int record = CurrentQuery->RecNo();
    if (record >= 0) {
        DataSource1->syncRows();
        const int column = std::max(0, grid->currentIndex().column());
        grid->setCurrentIndex(DataSource1->index(DataSource1->rowOf(record), column));
    }
    m_bindingGrid = wasBinding;
}

void TForm1::UnbindGrid()
{
    DataSource1->setDataSet(nullptr);
}

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

void TForm1::startStatement(bool isExec, bool atCursor)
{
    refuseNulCharacter(); // before anything is closed, run or added to the history
    QStringList lines = EditorLines();
    int origin = 0;
    if (atCursor && !m_marks->statementAtCursor(lines, origin))
        return; // only blanks and comments there: nothing runs, nothing closes
    routeAndConnect(
        lines, origin, atCursor, [this, isExec, atCursor] { startStatement(isExec, atCursor); },
        [this, isExec](const QString &alias) { runStatement(alias, isExec); });
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
            m_scripts->start(script, connection);
            // The settings history gets the script once; a part of the editor is not the
            // editor's text, which stays unsaved.
            const bool wasChanged = QueryChanged;
            AddToHistory(m_runLines);
            if (m_runLines != EditorLines())
                QueryChanged = wasChanged;
        });
}

void TForm1::runStatement(const QString &alias, bool isExec)
{
    Connection *connection = Session::instance().FindConnection(alias);
    if (!connection || !connection->IsConnected())
        return;
    m_freshness->aliasInUse(alias);
    m_control->setStoreBudget(UserSettings::resultMemoryBytes());
    // Panel 1, the buttons and the cursor follow the state that this start enters.
    CurrentThread = m_control->startStatement(
        HistoryStore::joinLines(m_runLines), connection, isExec,
        !isExec && ui->CheckBox1->isChecked(),
        [this](StatementOutcome &outcome) { runGuarded(this, [&] { QueryFinished(outcome); }); },
        [this](StatementOutcome &outcome) {
            historyRunEnded(outcome); // the select itself ended; its count runs on
        }); // frees itself
    historyRunStarted(alias, HistoryStore::joinLines(m_runLines));
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
    if (CurrentThread) {
        historyRunAbandoned();
        CurrentThread = nullptr;
    }
    // A connect is forgotten; a worker is abandoned: its statement is cancelled on the server,
    // it calls nothing and frees itself.
    m_control->abandon();
    m_login->forgetRequest(); // a connect still reading the stored login goes no further
    if (CurrentQuery) {
        UnbindGrid(); // before the dataset goes, so that the grid never reads a freed one
        // A result not fetched to its end holds its connection until its free has talked to the
        // server: a statement that comes next takes a fresh connection rather than wait, unless
        // work is open there.
        const std::shared_ptr<ConnectionHandle> connection = CurrentQuery->connection();
        if (connection && !CurrentQuery->allFetched()
            && !m_control->transaction().holds(connection))
            connection->noteCancel(false);
        // Closing a cursor the server has not finished talks to it: never on this thread.
        Reaper::dispose(std::move(CurrentQuery));
    }
    endTransientCount(); // the result it described is gone
    showState(m_control->state()); // the default cursor, Run and Exec enabled
}

void TForm1::setRecordCount(int count)
{
    m_countPanelBefore.reset(); // a record count stays until the next one
    setStatusText(0, QString::number(count));
}

void TForm1::setTransientCount(int count)
{
    // The records fetched by Ctrl+End describe one result only: panel 0 remembers what it
    // showed before, for when that result closes.
    if (!m_countPanelBefore)
        m_countPanelBefore = statusText(0);
    setStatusText(0, QString::number(count));
}

void TForm1::endTransientCount()
{
    if (m_countPanelBefore)
        setStatusText(0, *m_countPanelBefore);
    m_countPanelBefore.reset();
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
        CurrentQuery = std::move(outcome.result);
        BindGrid();
        if (keptRows) {
            postError(outcome.errorText);
        } else if (outcome.counted) {
            historyRunCounted(CurrentQuery->fetchedCount());
            setRecordCount(CurrentQuery->fetchedCount());
        } else if (ui->CheckBox1->isChecked()) {
            DataSource1->syncRows();
            historyRunCounted(CurrentQuery->fetchedCount());
            setRecordCount(CurrentQuery->fetchedCount());
        }
        setStatusText(1, QStringLiteral("Select Complete in : ") + outcome.elapsedText());
    }
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
    // After the hand-back, so that the worker does not wait on the box.
    QMetaObject::invokeMethod(
        this,
        [this, error, origin = m_runOrigin] {
            StatementErrorBox box(error, this);
            box.setObjectName(QStringLiteral("QueryErrorBox"));
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

void TForm1::fetchToEnd()
{
    // The grid lets go of the result while another thread fills its store; it shows the result
    // again, at its last record, when the walk hands back.
    UnbindGrid();
    setTransientCount(CurrentQuery->fetchedCount());
    CurrentThread =
        m_control->startFetchToEnd(std::move(CurrentQuery), [this](StatementOutcome &outcome) {
            runGuarded(this, [&] { FetchFinished(outcome); });
        }); // frees itself
}

void TForm1::FetchFinished(StatementOutcome &outcome)
{
    CurrentThread = nullptr;
    CurrentQuery = std::move(outcome.result);
    if (outcome.failed()) {
        BindGrid();
        postError(outcome.errorText);
        m_resultView->fetchEnded(true);
        return;
    }
    const int last = CurrentQuery->fetchedCount() - 1;
    const int column = std::max(0, ui->DBGrid1->currentIndex().column());
    if (last >= 0)
        CurrentQuery->setRecNo(last);
    BindGrid();
    setTransientCount(last + 1);
    if (last >= 0)
        ui->DBGrid1->scrollTo(DataSource1->index(last, column));
    ui->DBGrid1->setFocus();
    m_resultView->fetchEnded(false); // a sort or filter waiting for the rest goes on
}

void TForm1::setupKeys()
{
    // Window-wide keys, so that they work from the editor and from the grid alike. A key for a
    // button does what a click on it does, and nothing while the button is disabled.
    const auto key = [this](const QKeySequence &sequence, std::function<void()> action) {
        auto *shortcut = new QShortcut(sequence, this); // owned by the window (Qt parent)
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, std::move(action));
    };
    const auto click = [](QAbstractButton *button) { return [button] { button->click(); }; };
    key(QKeySequence(Qt::Key_F5), click(ui->SpeedButton1));
    key(QKeySequence(Qt::SHIFT | Qt::Key_F5), click(ui->SpeedButton2));
    // The statement at the cursor (or the selection), through the same road as the buttons.
    const auto atCursor = [this](bool isExec) {
        return [this, isExec] {
            if ((isExec ? ui->SpeedButton2 : ui->SpeedButton1)->isEnabled())
                runGuarded(this, [this, isExec] { startStatement(isExec, true); });
        };
    };
    for (const Qt::Key enter : { Qt::Key_Return, Qt::Key_Enter }) {
        key(QKeySequence(Qt::CTRL | enter), atCursor(false));
        key(QKeySequence(Qt::CTRL | Qt::SHIFT | enter), atCursor(true));
    }
    key(QKeySequence(Qt::Key_Escape), [this] {
        if (m_resultView->stop())
            return; // a sort or filter (or the fetch it waits for) stopped; the result stays
        if (m_control->state() != QueryControl::State::Idle)
            ui->SpeedButton4->click();
    });
    key(QKeySequence(Qt::CTRL | Qt::Key_Pause), click(ui->SpeedButton4));
    key(QKeySequence(Qt::CTRL | Qt::Key_O), click(ui->SpeedButton7));
    key(QKeySequence(Qt::CTRL | Qt::Key_S), click(ui->SpeedButton8));
    key(QKeySequence(Qt::CTRL | Qt::Key_P), click(ui->SpeedButton9));
    key(QKeySequence(Qt::CTRL | Qt::Key_H), [this] { ui->FindReplace1->trigger(); });
}
