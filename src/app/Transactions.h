#pragma once

#include <QObject>
#include <QString>

#include <functional>

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
    // runs once the commit or rollback succeeded. Cancel leaves everything as it was.
    bool settle(std::function<void()> then);
    // Before a statement runs on `alias`: asks as settle() when the open work is on another
    // alias. When its connection is still held by a cancelled statement, Wait is offered too
    // (true: the statement then waits for that connection, never a fresh one).
    bool settleFor(const QString &alias, std::function<void()> then);

    // The setting "AutoCommit": true (the default) unless it reads false.
    static bool autoCommitSetting();

private:
    enum class Answer { Commit, RollBack, Cancel, Wait };
    Answer ask(const QString &text, bool offerWait);
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
};
