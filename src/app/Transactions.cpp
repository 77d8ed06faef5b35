#include "app/Transactions.h"

#include "app/Guard.h"
#include "connection/ConnectionHandle.h"
#include "query/QueryControl.h"
#include "settings/UserSettings.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>

#include <stdexcept>

Transactions::Transactions(QWidget *window, QueryControl *control, QToolButton *button,
    QStatusBar *bar, QComboBox *aliasBox, std::function<void()> letGo)
    : QObject(window)
    , m_window(window)
    , m_control(control)
    , m_aliasBox(aliasBox)
    , m_letGo(std::move(letGo))
    , m_autoCommit(new QAction(QStringLiteral("Auto-commit"), window)) // owned by the window
    , m_commit(new QAction(QStringLiteral("Commit"), window)) // owned by the window
    , m_rollback(new QAction(QStringLiteral("Roll back"), window)) // owned by the window
    , m_panel(new QLabel(bar)) // owned by the status bar
{
    m_autoCommit->setObjectName(QStringLiteral("AutoCommit1"));
    m_autoCommit->setCheckable(true);
    m_autoCommit->setIconText(QStringLiteral("AC"));
    m_autoCommit->setToolTip(QStringLiteral(
        "Auto-commit: each statement is committed at once. Off: statements run in a transaction "
        "until Commit (Ctrl+Alt+C) or Roll back (Ctrl+Alt+R)"));
    m_commit->setObjectName(QStringLiteral("Commit1"));
    m_commit->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_C));
    m_rollback->setObjectName(QStringLiteral("Rollback1"));
    m_rollback->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_R));
    for (QAction *action : { m_commit, m_rollback }) {
        action->setShortcutContext(Qt::WindowShortcut);
        window->addAction(action); // the keys work from the editor and the grid alike
    }
    auto *menu = new QMenu(button); // owned by the button
    menu->addActions({ m_autoCommit, m_commit, m_rollback });
    button->setDefaultAction(m_autoCommit);
    button->setMenu(menu);
    button->setPopupMode(QToolButton::MenuButtonPopup);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);

    // Shown only while work is open, so that panel 1 otherwise reaches the right edge.
    m_panel->setObjectName(QStringLiteral("TransactionPanel"));
    bar->addPermanentWidget(m_panel);
    m_panel->hide();

    const bool on = autoCommitSetting();
    m_autoCommit->setChecked(on);
    m_control->setAutoCommit(on);

    connect(m_autoCommit, &QAction::triggered, this,
        [this](bool checked) { runGuarded(m_window, [&] { setAutoCommit(checked); }); });
    connect(m_commit, &QAction::triggered, this, [this] { end(true, nullptr); });
    connect(m_rollback, &QAction::triggered, this, [this] { end(false, nullptr); });
    connect(m_control, &QueryControl::transactionChanged, this, &Transactions::refresh);
    connect(m_control, &QueryControl::stateChanged, this, &Transactions::refresh);
    // The notice may come while a worker waits for its hand-back: the box follows after it.
    connect(
        m_control, &QueryControl::workLost, this,
        [this](const QString &text) {
            QMessageBox box(QMessageBox::Warning, QStringLiteral("Uncommitted work lost"), text,
                QMessageBox::Ok, m_window);
            box.setObjectName(QStringLiteral("WorkLostBox"));
            box.exec();
        },
        Qt::QueuedConnection);
    connect(m_control, &QueryControl::workEnded, this, &Transactions::workEnded);
    connect(aliasBox, &QComboBox::textActivated, this, &Transactions::aliasChosen);
    refresh();
}

bool Transactions::autoCommitSetting()
{
    return UserSettings::autoCommit();
}

void Transactions::refresh()
{
    const Transaction &work = m_control->transaction();
    m_panel->setText(work.statusText());
    m_panel->setVisible(work.isOpen());
    const bool idle = m_control->state() == QueryControl::State::Idle;
    // Turning auto-commit on ends the open work: not while a statement or an end is under way.
    m_autoCommit->setEnabled(idle);
    m_commit->setEnabled(idle && work.isOpen());
    m_rollback->setEnabled(idle && work.isOpen());
}

Transactions::Answer Transactions::ask(const QString &text, bool offerWait)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Uncommitted work"), text,
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, m_window);
    box.setObjectName(QStringLiteral("OpenWorkQuestion"));
    box.button(QMessageBox::Save)->setText(QStringLiteral("Commit"));
    box.button(QMessageBox::Discard)->setText(QStringLiteral("Roll back"));
    if (offerWait)
        box.addButton(QMessageBox::Retry)->setText(QStringLiteral("Wait"));
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Save:
        return Answer::Commit;
    case QMessageBox::Discard:
        return Answer::RollBack;
    case QMessageBox::Retry:
        return Answer::Wait;
    default:
        return Answer::Cancel;
    }
}

bool Transactions::settle(std::function<void()> then, const QString &regardless)
{
    if (m_control->state() == QueryControl::State::Ending)
        return underWay(std::move(then), regardless);
    // A statement still running is cancelled before the end, which does not include it.
    Transaction done = m_control->transaction();
    const bool running = m_control->statementInWork();
    if (running)
        done.dropStatement();
    if (!done.isOpen())
        return true;
    const Answer answer = ask(done.statusText()
            + (running ? QStringLiteral(";\nthe statement still running is cancelled first")
                       : QString())
            + QStringLiteral(".\n\nCommit it or roll it back?"),
        false);
    if (answer == Answer::Commit || answer == Answer::RollBack)
        end(answer == Answer::Commit, std::move(then));
    return false;
}

bool Transactions::underWay(std::function<void()> then, const QString &regardless)
{
    const QString what =
        m_control->endCommits() ? QStringLiteral("commit") : QStringLiteral("rollback");
    QMessageBox box(QMessageBox::Information, QStringLiteral("Transaction end under way"),
        QStringLiteral("The %1 of the work on %2 was sent at %3 and the server has not answered "
                       "yet.\n\nWait for it, or %4?")
            .arg(what, m_control->alias(),
                m_control->endSince().toString(QStringLiteral("hh:mm:ss")),
                regardless.isEmpty() ? QStringLiteral("cancel")
                                     : QStringLiteral("go on without its outcome")),
        QMessageBox::Cancel, m_window);
    box.setObjectName(QStringLiteral("EndUnderWay"));
    QAbstractButton *wait = box.addButton(QMessageBox::Retry);
    wait->setText(QStringLiteral("Wait"));
    if (!regardless.isEmpty())
        box.addButton(QMessageBox::Ignore)->setText(regardless);
    box.setDefaultButton(QMessageBox::Retry);
    box.setEscapeButton(QMessageBox::Cancel);
    // An end that comes while the box is open answers it: there is nothing left to wait for.
    QObject::connect(
        m_control, &QueryControl::stateChanged, &box, [wait](QueryControl::State state) {
            if (state != QueryControl::State::Ending)
                wait->click();
        });
    const int answer = box.exec();
    if (answer == QMessageBox::Ignore) {
        m_tellOutcome = true;
        return true;
    }
    if (answer != QMessageBox::Retry) {
        m_tellOutcome = true;
        return false;
    }
    if (m_control->state() == QueryControl::State::Ending) {
        m_afterEnd.push_back(std::move(then));
    } else if (!m_lastEndFailed && !m_control->transaction().isOpen() && then) {
        // Ended meanwhile: the command goes on from the event loop, not inside its own call.
        QMetaObject::invokeMethod(
            this, [this, then] { runGuarded(m_window, then); }, Qt::QueuedConnection);
    }
    return false;
}

void Transactions::workEnded(bool commit, bool calledOff, const QString &errorText, bool reached)
{
    if (calledOff)
        m_afterEnd.clear(); // nothing waits for an end that was called off
    // Told when the user went on without it; a failure that done() reports is not told twice.
    const bool tell = m_tellOutcome && m_window->isVisible() && (calledOff || errorText.isEmpty());
    m_tellOutcome = false;
    if (!tell)
        return;
    const QString what = commit ? QStringLiteral("commit") : QStringLiteral("rollback");
    QString text;
    if (!reached) // called off before the server heard of it
        text = m_control->transaction().isOpen() && !m_control->transaction().lost()
            ? QStringLiteral("The %1 was called off before it reached the server: the work is "
                             "still open.")
                  .arg(what)
            : QStringLiteral("The %1 was called off before it reached the server: nothing was "
                             "committed, the server rolled back the work when the connection "
                             "closed.")
                  .arg(what);
    else if (errorText.isEmpty())
        text = QStringLiteral("The %1 that was under way has ended: the work was %2.")
                   .arg(what, commit ? QStringLiteral("committed") : QStringLiteral("rolled back"));
    else
        text = QStringLiteral("The %1 that was under way failed: %2").arg(what, errorText);
    // Posted: the notice may come while the window is inside a command.
    QMetaObject::invokeMethod(
        this,
        [this, text, failed = !errorText.isEmpty()] {
            QMessageBox box(failed ? QMessageBox::Warning : QMessageBox::Information,
                QStringLiteral("Transaction end"), text, QMessageBox::Ok, m_window);
            box.setObjectName(QStringLiteral("EndOutcome"));
            box.exec();
        },
        Qt::QueuedConnection);
}

bool Transactions::settleFor(const QString &alias, std::function<void()> then)
{
    const Transaction &work = m_control->transaction();
    if (!work.isOpen())
        return true;
    if (work.alias().compare(alias, Qt::CaseInsensitive) != 0)
        return settle(std::move(then));
    // A statement the user cancelled may keep the connection for as long as its server likes;
    // a statement started now would run on a fresh connection, without the open work.
    const std::shared_ptr<ConnectionHandle> connection = work.connection();
    if (!connection || !connection->busy()
        || connection->holdDeadline() == ConnectionHandle::Clock::time_point::max())
        return true;
    const Answer answer = ask(work.statusText()
            + QStringLiteral(".\n\nThat work is still open on its connection, which a cancelled "
                             "statement still holds; a new connection would not see it. Wait runs "
                             "the statement on that connection once it is free; Commit and Roll "
                             "back end the work there first."),
        true);
    if (answer == Answer::Commit || answer == Answer::RollBack)
        end(answer == Answer::Commit, std::move(then));
    return answer == Answer::Wait;
}

void Transactions::end(bool commit, std::function<void()> then)
{
    if (m_control->transaction().isOpen() && m_letGo)
        m_letGo();
    m_afterEnd.clear();
    m_lastEndFailed = false;
    m_control->startEnd(commit, [this, then = std::move(then)](std::exception_ptr error) {
        m_lastEndFailed = bool(error);
        std::vector<std::function<void()>> waiting = std::move(m_afterEnd);
        m_afterEnd.clear();
        runGuarded(m_window, [&] {
            // A lost connection has said so through workLost: the work is gone either way.
            if (error && m_control->transaction().isOpen())
                std::rethrow_exception(error);
            if (error)
                return;
            if (then)
                then();
            for (const std::function<void()> &command : waiting)
                command();
        });
    });
}

void Transactions::setAutoCommit(bool on)
{
    // Turning auto-commit on commits what is open: asked first, the toggle stays off meanwhile.
    if (on && m_control->transaction().isOpen()) {
        m_autoCommit->setChecked(false);
        settle([this] {
            m_autoCommit->setChecked(true);
            apply(true);
        });
        return;
    }
    apply(on);
}

void Transactions::apply(bool on)
{
    m_control->setAutoCommit(on);
    UserSettings::setAutoCommit(on);
}

void Transactions::aliasChosen(const QString &alias)
{
    const Transaction &work = m_control->transaction();
    if (!work.isOpen() || work.alias().compare(alias, Qt::CaseInsensitive) == 0)
        return;
    const QueryControl::State state = m_control->state();
    const auto show = [this](const QString &name) {
        const int index = m_aliasBox->findText(name, Qt::MatchFixedString);
        if (index >= 0)
            m_aliasBox->setCurrentIndex(index);
        else
            m_aliasBox->setEditText(name);
    };
    const QString open = work.alias();
    if (state != QueryControl::State::Idle && state != QueryControl::State::Ending) {
        // Ending the work would cut off the statement under way: the box keeps the work's alias.
        show(open);
        QMessageBox box(QMessageBox::Information, QStringLiteral("Uncommitted work"),
            work.statusText()
                + QStringLiteral(".\n\nA statement is under way there; choose another alias once "
                                 "it has ended."),
            QMessageBox::Ok, m_window);
        box.setObjectName(QStringLiteral("AliasWhileRunning"));
        box.exec();
        return;
    }
    runGuarded(m_window, [&] {
        // Until the work has ended (never, after Cancel) the box names the work's alias.
        if (!settle([show, alias] { show(alias); }))
            show(open);
    });
}
