#include "app/CatalogFreshness.h"
#include "app/EditorMarks.h"
#include "app/GridKeys.h"
#include "app/LoginFlow.h"
#include "app/ResultView.h"
#include "app/ScriptLog.h"
#include "app/Transactions.h"
#include "app/Unit1.h"
#include "app/WindowLifecycle.h"
#include "connection/QueryDataset.h"
#include "query/QueryControl.h"
#include "query/Reaper.h"
#include "results/DataSource.h"
#include "ui_Unit1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QShortcut>

#include <algorithm>
#include <functional>

// The result grid and the rooms around a statement, built by the constructor; the walk to the
// result's end (Ctrl+End); the window-wide keys.

TForm1::RunCleanup::~RunCleanup()
{
    if (!form)
        return;
    form->CurrentThread = nullptr;
    form->m_control->blockSignals(true); // the window is going: nothing of it is shown again
    form->m_control->abandon();
    Reaper::dispose(form->m_shown.take()); // its free may wait on the server
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
            } else if (m_shown && !m_shown.get()->allFetched()) {
                CloseCurrentQuery();
            }
        }); // owned by the window (Qt parent)
    connect(m_control, &QueryControl::stateChanged, this, &TForm1::showState);
    m_control->setCountWanted(ui->CheckBox1->isChecked());
    connect(ui->CheckBox1, &QCheckBox::toggled, m_control, &QueryControl::setCountWanted);
    connect(m_control, &QueryControl::progress, this,
        [this](int fetched) { m_shown.setTransientCount(fetched); });
    m_scripts = new ScriptLog(this,
        { ui->RE1, ui->ComboBox1, ui->PageControl1, ui->TabSheet2, ui->DBGrid1,
            m_lifecycle->statusPanel(1), ui->TransactionButton->menu() },
        m_control, m_shown, [this] { return historyDatabase(); }); // owned (Qt parent)
    wire(m_scripts->action(), &QAction::triggered, &TForm1::RunScript1Click);
    connect(m_scripts, &ScriptLog::statementEnded, m_freshness, &CatalogFreshness::statementEnded);
    QTableView *grid = ui->DBGrid1;
    m_shown.attach(grid, DataSource1, m_lifecycle->statusPanel(0));
    new GridKeys(grid, m_shown, *m_control, [this] { fetchToEnd(); }); // owned by the grid
    m_resultView = new ResultView(grid, ui->TabSheet2Layout, m_shown, // owned (Qt parent)
        { [this] {
             if (!m_shown || m_control->state() != QueryControl::State::Idle)
                 return false;
             fetchToEnd();
             return true;
         },
            [this] { m_control->stopFetch(); } },
        this);
    // The pages of a statement's several results: their tabs above the filter field, and
    // Ctrl+PgDown and Ctrl+PgUp in the grid.
    m_shown.attachPages(ui->TabSheet2Layout);
    for (const int step : { 1, -1 }) {
        auto *page =
            new QShortcut(QKeySequence(Qt::CTRL | (step > 0 ? Qt::Key_PageDown : Qt::Key_PageUp)),
                grid); // owned by the grid
        page->setContext(Qt::WidgetShortcut);
        connect(page, &QShortcut::activated, this,
            [this, step] { m_shown.showTab(m_shown.currentTab() + step); });
    }
    setupPins();
    setupKeys();
    // A failed block fetch happens inside the view's event handling: report it afterwards.
    connect(
        DataSource1, &DataSource::fetchFailed, this,
        [this](const QString &message) { showError(this, message); }, Qt::QueuedConnection);
}

void TForm1::setupPins()
{
    // A pinned result stays when the next statement's result comes, on a page of its own; it
    // goes when its page is closed. The keys work anywhere in the window; the grid's menu has
    // both after its copies.
    const auto action = [this](const QString &name, const QString &text, QKeySequence key) {
        auto *made = new QAction(text, this); // owned by the window (Qt parent)
        made->setObjectName(name);
        made->setShortcut(key);
        made->setShortcutContext(Qt::WindowShortcut);
        addAction(made);
        return made;
    };
    QAction *pin = action(QStringLiteral("PinResult1"), QStringLiteral("Pin Result"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    pin->setCheckable(true);
    QAction *close = action(QStringLiteral("ClosePinnedResult1"),
        QStringLiteral("Close Pinned Result"), QKeySequence(Qt::CTRL | Qt::Key_W));
    connect(pin, &QAction::triggered, this, [this, pin] {
        // A result still fetching is fetched whole first (as by Ctrl+End): its open cursor
        // would otherwise hold the connection from the statements after it.
        if (m_shown.open() && (m_shown.isPinned() || m_shown.get()->allFetched())) {
            m_shown.setPinned(!m_shown.isPinned());
        } else if (m_shown.open() && m_control->state() == QueryControl::State::Idle) {
            m_shown.pinWhenWhole();
            fetchToEnd();
        } else {
            ui->StatusBar1->showMessage(QStringLiteral("Pin Result: no result to pin"), 5000);
        }
        pin->setChecked(m_shown.isPinned());
    });
    connect(close, &QAction::triggered, this, [this] {
        if (!m_shown.isPinned() || !m_shown.open()) {
            ui->StatusBar1->showMessage(
                QStringLiteral("Close Pinned Result: the result shown is not pinned"), 5000);
            return;
        }
        m_resultView->stop(); // a sort or filter of that result goes with it
        m_shown.closePage(m_shown.currentTab());
    });
    QMenu *menu = m_lifecycle->gridMenu();
    menu->addSeparator()->setObjectName(QStringLiteral("N2"));
    menu->addActions({ pin, close });
    connect(menu, &QMenu::aboutToShow, this, [this, pin, close] {
        pin->setEnabled(m_shown.open());
        pin->setChecked(m_shown.isPinned());
        close->setEnabled(m_shown.isPinned());
    });
    connect(menu, &QMenu::aboutToHide, this, [pin, close] {
        // Their keys check for themselves whether they apply.
        pin->setEnabled(true);
        close->setEnabled(true);
    });
}

void TForm1::fetchToEnd()
{
    // The grid lets go of the result while another thread fills its store; it shows the result
    // again, at its last record, when the walk hands back.
    m_shown.setTransientCount(m_shown.get()->fetchedCount());
    CurrentThread = m_control->startFetchToEnd(m_shown.take(), [this](StatementOutcome &outcome) {
        runGuarded(this, [&] { FetchFinished(outcome); });
    }); // frees itself
}

void TForm1::FetchFinished(StatementOutcome &outcome)
{
    CurrentThread = nullptr;
    if (outcome.failed()) {
        m_shown.giveBack(std::move(outcome.result));
        postError(outcome.errorText);
        m_resultView->fetchEnded(true);
        return;
    }
    const int last = outcome.result->fetchedCount() - 1;
    const int column = std::max(0, ui->DBGrid1->currentIndex().column());
    if (last >= 0)
        outcome.result->setRecNo(last);
    m_shown.giveBack(std::move(outcome.result));
    m_shown.setTransientCount(last + 1);
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
    key(QKeySequence(Qt::CTRL | Qt::Key_F5), [this] {
        if (ui->SpeedButton1->isEnabled())
            runGuarded(this, [this] { runRemembered(); });
    });
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
