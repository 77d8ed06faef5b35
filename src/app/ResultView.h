#pragma once

#include "threads/OffThread.h"

#include <QObject>
#include <QString>
#include <Qt>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class DataSource;
class QLabel;
class QLineEdit;
class QTableView;
class QTimer;
class QVBoxLayout;
class QueryDataset;
class ShownResult;

// The rows the grid shows: a click on a column's header sorts by it (ascending, descending, then
// the fetched order again), the filter field above the grid (shown by Ctrl+F and while a filter
// is set) keeps the rows where any column's value contains its text. Both run over every row of the
// result: the rest is fetched first (through the window's walk to the end, which Esc stops: then
// nothing is sorted and the field beside says so), then the order or selection is made on a thread
// of its own from a reader of the finished store, and handed to the grid's DataSource as record
// numbers. A child of the window; UI thread.
class ResultView : public QObject
{
    Q_OBJECT

public:
    struct Hooks
    {
        std::function<bool()> fetchToEnd; // starts the walk to the end; false when it cannot
        std::function<void()> stopFetch; // stops that walk, keeping what it fetched
    };

    // shown: the result in the grid, whose model holds the rows shown.
    ResultView(
        QTableView *grid, QVBoxLayout *above, ShownResult &shown, Hooks hooks, QObject *parent);
    ~ResultView() override;

    // The window's walk to the end handed back: complete, stopped by Esc, or failed.
    void fetchEnded(bool failed);
    // Esc: stops the fetch or the work for a sort or filter. False when none was under way.
    bool stop();
    // "Sorted by NAME (descending); filtered: 12 of 40 rows", or empty when every row shows in
    // fetched order.
    QString note() const;

signals:
    // A sort or filter was applied to the grid, or refused.
    void settled();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Wanted
    {
        int column = -1; // -1: the fetched order
        Qt::SortOrder order = Qt::AscendingOrder;
        QString filter;
    };
    struct Task;

    void headerClicked(int column);
    void filterEdited(const QString &text);
    void refresh(); // brings the grid to m_wanted, fetching first when needed
    void startWork(QueryDataset &query);
    // serial: the result the rows were made for (nothing is applied to another).
    void apply(std::uint64_t serial, const Wanted &wanted,
        std::shared_ptr<const std::vector<int>> sortedAll,
        std::shared_ptr<const std::vector<int>> shown, int total);
    void refuse(const QString &why);
    void resultChanged();
    void showIndicator();
    void cancelWork();
    void checkClosed(); // after the grid let go of its result: stops the work when it closed
    QString countText() const; // "n of m rows"
    void showBar(); // the filter field shows after Ctrl+F and while a filter is set
    void setStatus(const QString &text); // beside the field, or over the grid while it is hidden

    QTableView *m_grid; // not owned: the window's
    ShownResult &m_shown; // the window's
    DataSource *m_rows; // not owned: the window's
    Hooks m_hooks;
    QWidget *m_bar = nullptr; // the filter field and its count; owned by the page (Qt parent)
    QLabel *m_status = nullptr; // the count's text over the grid; owned by the grid (Qt parent)
    bool m_opened = false; // Ctrl+F showed the field, Esc in the empty field hides it
    QTimer *m_statusHide = nullptr; // hides a settled word over the grid; owned (Qt parent)
    QLineEdit *m_edit = nullptr; // owned by the bar (Qt parent)
    QLabel *m_count = nullptr; // owned by the bar (Qt parent)
    Wanted m_wanted;
    Wanted m_applied;
    int m_shownCount = 0;
    int m_total = 0;
    bool m_fetching = false; // the window walks to the end for this view
    OffThread::Latest m_work; // the sort or filter under way
    // The last sort of every row, kept so that a new filter does not sort again.
    std::shared_ptr<const std::vector<int>> m_sortedAll;
    int m_sortedColumn = -1;
    Qt::SortOrder m_sortedOrder = Qt::AscendingOrder;
};
