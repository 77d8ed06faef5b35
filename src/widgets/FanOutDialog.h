#pragma once

#include <QDialog>
#include <QStringList>

class QListWidget;

// The aliases one statement is to run on: every alias with a check box, keyboard first. The list
// has the focus, Space ticks the current alias, Return runs, Esc cancels. Run needs at least one
// ticked alias. Lives on its caller's stack; UI thread.
class FanOutDialog : public QDialog
{
    Q_OBJECT

public:
    // ticked: the aliases ticked last time, compared without case.
    FanOutDialog(const QStringList &aliases, const QStringList &ticked, QWidget *parent = nullptr);

    QStringList tickedAliases() const; // in the list's order

    void accept() override;

private:
    QListWidget *m_list;
};
