#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QStatusBar;
class QToolButton;
class QWidget;
class QueryControl;

// The window's transactions: the Auto-commit toggle with its setting "AutoCommit", Commit and
// Roll back (run by the statement's QueryControl, off the UI thread), the open work in the status
// bar, and the question asked before open work would be left behind. Owned by the window (Qt
// parent); UI thread only.
class Transactions : public QObject
{
public:
    // letGo lets go of what may hold the work's connection meanwhile (a result still being
    // fetched), so that the commit or rollback gets its turn.
    Transactions(QWidget *window, QueryControl *control, QToolButton *button, QStatusBar *bar,
        QComboBox *aliasBox, std::function<void()> letGo);

    // Before the window closes or logs out: true when no work is open, and the caller goes on.
    // Otherwise asks Commit / Roll back / Cancel and returns false; `then` (the command again)
    // runs once the commit or rollback succeeded. Cancel leaves everything as it was. A statement
    // of the work still running is not counted: it is cancelled before the end.
    // While a commit or rollback is at the server nothing is asked again: the user hears that it
    // is under way and may wait for it (`then` follows its success), go on regardless (when
    // `regardless` names that button: true, the end runs on and its outcome is told if the
    // window stays) or cancel (the outcome is told when it comes).
    bool settle(std::function<void()> then, const QString &regardless = QString());
    // Before a statement runs on `alias`: asks as settle() when the open work is on another
    // alias. When its connection is still held by a cancelled statement, Wait is offered too
    // (true: the statement then waits for that connection, never a fresh one).
    bool settleFor(const QString &alias, std::function<void()> then);

    // The setting "AutoCommit": true (the default) unless it reads false.
    static bool autoCommitSetting();

private:
    enum class Answer { Commit, RollBack, Cancel, Wait };
    Answer ask(const QString &text, bool offerWait);
    bool underWay(std::function<void()> then, const QString &regardless);
    void workEnded(bool commit, bool calledOff, const QString &errorText, bool reached);
    void end(bool commit, std::function<void()> then);
    void setAutoCommit(bool on); // the user's toggle
    void apply(bool on); // the setting and the statements that follow
    void aliasChosen(const QString &alias);
    void refresh(); // the status panel and the enabled commands

    QWidget *m_window; // not owned: the window owns this room
    QueryControl *m_control; // not owned: the window's
    QComboBox *m_aliasBox; // not owned: the window's
    std::function<void()> m_letGo;
    QAction *m_autoCommit = nullptr; // owned by the window (Qt parent), as are the two below
    QAction *m_commit = nullptr;
    QAction *m_rollback = nullptr;
    QLabel *m_panel = nullptr; // owned by the status bar; shown while work is open
    // What follows the end under way once it succeeded: commands that waited for it.
    std::vector<std::function<void()>> m_afterEnd;
    bool m_tellOutcome = false; // the user went on while an end was under way: tell its outcome
    bool m_lastEndFailed = false;
};
