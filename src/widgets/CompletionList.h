#pragma once

#include <QTreeWidget>
#include <QVector>

// A list of choices shown beside a text field that never takes the keyboard: it has no focus,
// the field keeps typing and hands it the keys that move and choose. Each row is a label and a
// detail in grey. A child of the field's window, laid over it; UI thread.
class CompletionList : public QTreeWidget
{
    Q_OBJECT

public:
    struct Row
    {
        QString label;
        QString detail;
    };

    explicit CompletionList(QWidget *parent);

    // Shows the rows, making current the row with the label of the current one before, else the
    // first.
    void setRows(const QVector<Row> &rows);
    // Shows the list below the rectangle (in `anchor`'s coordinates), or above it when there is
    // no room below in the parent.
    void showAt(const QWidget *anchor, const QRect &rect);
    // Up, Down, Page Up and Page Down move the current row; false for any other key.
    bool moveKey(int key);
    int currentRowIndex() const;

signals:
    void chosen(int row); // a row was clicked

private:
    int m_visibleRows = 10;
};
