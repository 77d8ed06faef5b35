#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QListWidget;

// What two results are compared on: the left and the right result (by name), the key columns
// ticked in a list of the left result's columns, and whether equal rows are kept. Keyboard
// first: the left result has the focus, Space ticks a key, Return compares, Esc cancels. Compare
// needs two different results and at least one key. Lives on its caller's stack; UI thread.
class CompareDialog : public QDialog
{
    Q_OBJECT

public:
    // names: the results that can be compared, columns: each one's column titles; left and
    // right: the results chosen first; keys: the columns ticked first (compared without case).
    CompareDialog(const QStringList &names, const QList<QStringList> &columns, int left, int right,
        const QStringList &keys, QWidget *parent = nullptr);

    int left() const;
    int right() const;
    QStringList keys() const;
    bool keepSame() const;

    void accept() override;

private:
    void listColumns(); // the left result's columns, ticks kept by name

    QList<QStringList> m_columns;
    QComboBox *m_left;
    QComboBox *m_right;
    QListWidget *m_keys;
    QCheckBox *m_keepSame;
};
