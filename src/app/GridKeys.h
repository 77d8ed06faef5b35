#pragma once

#include <QObject>

#include <functional>

class QTableView;
class QueryControl;
class ShownResult;

// The grid's own keys over the result shown: Ctrl+End fetches the rest of a result that waits at
// the server; a double-click or Shift+Return shows a cell's whole value, however long, in the
// value viewer (binary values as a hex dump). Owned by the grid (Qt parent); UI thread only.
class GridKeys : public QObject
{
public:
    // fetchToEnd: starts the walk to the result's end, once the statement is idle.
    GridKeys(QTableView *grid, ShownResult &shown, QueryControl &control,
        std::function<void()> fetchToEnd);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void viewValue();

    QTableView *m_grid; // not owned: the parent
    ShownResult &m_shown; // the window's
    QueryControl &m_control; // the window's
    std::function<void()> m_fetchToEnd;
};
