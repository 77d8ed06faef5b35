#include "app/ResultView.h"

#include "app/ShownResult.h"
#include "connection/DatabaseError.h"
#include "connection/QueryDataset.h"
#include "connection/ResultReader.h"
#include "results/DataSource.h"
#include "results/RowOrder.h"
#include "threads/OffThread.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QShortcut>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

namespace {

bool plainOrder(int column, const QString &filter)
{
    return column < 0 && filter.isEmpty();
}

} // namespace

ResultView::ResultView(
    QTableView *grid, QVBoxLayout *above, ShownResult &shown, Hooks hooks, QObject *parent)
    : QObject(parent)
    , m_grid(grid)
    , m_shown(shown)
    , m_rows(shown.source())
    , m_hooks(std::move(hooks))
{
    auto *bar = new QWidget(grid->parentWidget()); // owned by the grid's page (Qt parent)
    bar->setObjectName(QStringLiteral("FilterBar"));
    m_bar = bar;
    auto *layout = new QHBoxLayout(bar); // owned by the bar (Qt parent)
    layout->setContentsMargins(2, 2, 2, 2);
    m_edit = new QLineEdit(bar); // owned by the bar (Qt parent)
    m_edit->setObjectName(QStringLiteral("FilterEdit"));
    m_edit->setPlaceholderText(QStringLiteral("Filter rows (Ctrl+F)"));
    m_edit->setClearButtonEnabled(true);
    m_count = new QLabel(bar); // owned by the bar (Qt parent)
    m_count->setObjectName(QStringLiteral("FilterCount"));
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_count, 1);
    above->insertWidget(0, bar);
    // Hidden until Ctrl+F or while a filter is set: the grid fills the page otherwise.
    bar->hide();
    m_edit->installEventFilter(this);
    // What a sort says while the bar is hidden, over the grid's top left corner: the rows do
    // not move for it.
    m_status = new QLabel(grid); // owned by the grid (Qt parent)
    m_status->setObjectName(QStringLiteral("SortStatus"));
    m_status->setAutoFillBackground(true);
    m_status->setFrameShape(QFrame::Box);
    m_status->setMargin(2);
    m_status->hide();
    // A sort's last word over the grid goes after a while; beside the field it stays.
    m_statusHide = new QTimer(this); // owned (Qt parent)
    m_statusHide->setSingleShot(true);
    m_statusHide->setInterval(5000);
    connect(m_statusHide, &QTimer::timeout, m_status, &QWidget::hide);

    auto *find = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), grid); // owned by the grid
    find->setContext(Qt::WidgetShortcut);
    connect(find, &QShortcut::activated, this, [this] {
        m_opened = true;
        showBar();
        m_edit->setFocus(Qt::ShortcutFocusReason);
        m_edit->selectAll();
    });
    connect(m_edit, &QLineEdit::textEdited, this, &ResultView::filterEdited);
    grid->horizontalHeader()->setSectionsClickable(true);
    connect(
        grid->horizontalHeader(), &QHeaderView::sectionClicked, this, &ResultView::headerClicked);
    connect(m_rows, &DataSource::resultChanged, this, &ResultView::resultChanged);
    // The grid bound again or let go: its header marks what it shows now. Whether the result
    // was closed is known once the handler that let it go has ended.
    connect(m_rows, &QAbstractItemModel::modelReset, this, [this] {
        showIndicator();
        QMetaObject::invokeMethod(this, &ResultView::checkClosed, Qt::QueuedConnection);
    });
}

ResultView::~ResultView()
{
    cancelWork();
}

bool ResultView::eventFilter(QObject *watched, QEvent *event)
{
    // Esc in the field clears it (or stops the sort or filter under way) before the window's
    // Esc (Close Query) sees it; with nothing to clear or stop it is the window's.
    const bool esc = watched == m_edit
        && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape;
    if (!esc)
        return QObject::eventFilter(watched, event);
    event->accept();
    if (event->type() == QEvent::KeyPress) {
        if (!m_edit->text().isEmpty()) {
            m_edit->clear();
            filterEdited(QString());
        } else if (!stop()) {
            // Nothing to clear or stop: the field goes, the grid has the keys again.
            m_opened = false;
            m_grid->setFocus(Qt::ShortcutFocusReason);
            setStatus(QString()); // nothing under way: nothing to say over the grid either
            showBar();
        }
    }
    return true;
}

void ResultView::headerClicked(int column)
{
    showIndicator(); // the header flips its own mark on a click: it shows what the grid shows
    if (!m_shown.open() && !m_fetching)
        return;
    if (m_wanted.column != column) {
        m_wanted.column = column;
        m_wanted.order = Qt::AscendingOrder;
    } else if (m_wanted.order == Qt::AscendingOrder) {
        m_wanted.order = Qt::DescendingOrder;
    } else {
        m_wanted.column = -1;
    }
    refresh();
}

void ResultView::filterEdited(const QString &text)
{
    m_wanted.filter = text;
    refresh();
}

void ResultView::refresh()
{
    cancelWork();
    if (m_fetching) {
        // The walk to the end hands back; then the newest wish is made. Nothing to make: the
        // walk need not go on.
        if (plainOrder(m_wanted.column, m_wanted.filter))
            m_hooks.stopFetch();
        return;
    }
    QueryDataset *query = m_shown.open();
    if (!query)
        return; // the next result starts in its fetched order anyway
    if (plainOrder(m_wanted.column, m_wanted.filter)) {
        apply(query->serial(), m_wanted, nullptr, nullptr, query->fetchedCount());
        return;
    }
    if (!query->allFetched()) {
        if (!m_hooks.fetchToEnd()) {
            refuse(QStringLiteral("Busy: try again once the statement has ended"));
            return;
        }
        m_fetching = true;
        setStatus(QStringLiteral("Fetching every row first (Esc stops)…"));
        return;
    }
    startWork(*query);
}

void ResultView::fetchEnded(bool failed)
{
    if (!m_fetching)
        return;
    m_fetching = false;
    QueryDataset *query = m_shown.open();
    if (failed || !query) {
        refuse(QStringLiteral("Not sorted or filtered: the rest of the result could not be "
                              "fetched"));
        return;
    }
    if (!plainOrder(m_wanted.column, m_wanted.filter) && !query->allFetched()) {
        refuse(QStringLiteral("Not sorted or filtered: the fetch of the rest of the result was "
                              "stopped"));
        return;
    }
    if (!m_wanted.filter.isEmpty())
        m_edit->setFocus(); // typing goes on where it was
    refresh();
}

void ResultView::startWork(QueryDataset &query)
{
    std::shared_ptr<const ResultReader> reader = query.reader();
    const Wanted wanted = m_wanted;
    std::shared_ptr<const std::vector<int>> sorted;
    if (wanted.column >= 0 && m_sortedColumn == wanted.column && m_sortedOrder == wanted.order)
        sorted = m_sortedAll;
    const OffThread::WishPtr wish = m_work.renew();
    const std::uint64_t serial = query.serial();
    setStatus(wanted.column >= 0 && !sorted ? QStringLiteral("Sorting… (Esc stops)")
                                            : QStringLiteral("Filtering… (Esc stops)"));
    const QLocale locale;
    struct Rows
    {
        std::shared_ptr<const std::vector<int>> sorted; // every record, when sorted here
        std::shared_ptr<const std::vector<int>> shown;
        int total = 0;
        QString error;
    };
    // Stopped, another wish or another result: the rows are dropped, never applied.
    OffThread::run(
        this, wish,
        [reader, wanted, sorted, wish, locale]() mutable {
            Rows rows;
            rows.sorted = sorted;
            const std::atomic<bool> &stop = wish->dropped();
            try {
                if (wanted.column >= 0 && !sorted) {
                    std::vector<int> order;
                    if (!RowOrder::sorted(
                            *reader, wanted.column, wanted.order, locale, stop, order))
                        return rows; // stopped: nobody wants it
                    rows.sorted = std::make_shared<const std::vector<int>>(std::move(order));
                }
                rows.shown = rows.sorted;
                if (!wanted.filter.isEmpty()) {
                    std::vector<int> kept;
                    if (!RowOrder::filtered(*reader, rows.sorted.get(), wanted.filter, stop, kept))
                        return rows;
                    rows.shown = std::make_shared<const std::vector<int>>(std::move(kept));
                }
            } catch (const std::exception &failure) {
                rows.error = errorText(failure); // the store's temporary file could not be read
            }
            rows.total = reader->rowCount();
            reader.reset(); // the rows may go with their result from here on
            return rows;
        },
        [this, wanted, serial](Rows rows) {
            m_work.settle();
            if (!rows.error.isEmpty())
                refuse(rows.error);
            else
                apply(serial, wanted, std::move(rows.sorted), std::move(rows.shown), rows.total);
        });
}

void ResultView::apply(std::uint64_t serial, const Wanted &wanted,
    std::shared_ptr<const std::vector<int>> sortedAll,
    std::shared_ptr<const std::vector<int>> shown, int total)
{
    QueryDataset *query = m_shown.open();
    if (!query || query->serial() != serial) {
        setStatus(QString()); // the result it was made for is gone
        return;
    }
    m_applied = wanted;
    if (sortedAll) {
        m_sortedAll = std::move(sortedAll);
        m_sortedColumn = wanted.column;
        m_sortedOrder = wanted.order;
    }
    m_shownCount = shown ? int(shown->size()) : total;
    m_total = total;
    // The rows belong to the result, bound or not: an unbound grid shows them when bound again.
    const bool bound = m_rows->dataSet() == query;
    const int first = shown ? (shown->empty() ? -1 : shown->front()) : (total > 0 ? 0 : -1);
    m_rows->setShownRecords(*query, std::move(shown));
    // The current record stays current where it shows; else the first row shown becomes it.
    if (m_rows->hides(query->RecNo()) && first >= 0)
        query->setRecNo(first);
    if (bound) {
        int row = m_rows->rowOf(query->RecNo());
        if (row < 0 && m_rows->rowCount() > 0)
            row = 0;
        if (row >= 0) {
            const QModelIndex at = m_rows->index(row, std::max(0, m_grid->currentIndex().column()));
            m_grid->setCurrentIndex(at);
            m_grid->scrollTo(at);
        }
    }
    showIndicator();
    showBar();
    setStatus(wanted.filter.isEmpty() ? QString() : countText());
    emit settled();
}

void ResultView::refuse(const QString &why)
{
    m_wanted = m_applied;
    if (m_edit->text() != m_applied.filter)
        m_edit->setText(m_applied.filter);
    showIndicator();
    showBar();
    setStatus(why);
    if (m_status->isVisible())
        m_statusHide->start();
    emit settled();
}

bool ResultView::stop()
{
    if (m_fetching) {
        m_hooks.stopFetch(); // fetchEnded follows, and says so
        return true;
    }
    if (!m_work.pending())
        return false;
    cancelWork();
    refuse(QStringLiteral("Stopped: the rows keep their order"));
    return true;
}

void ResultView::cancelWork()
{
    m_work.drop();
}

void ResultView::resultChanged()
{
    cancelWork();
    m_fetching = false;
    m_wanted = Wanted();
    m_applied = Wanted();
    m_sortedAll.reset();
    m_sortedColumn = -1;
    m_edit->clear();
    setStatus(QString());
    showIndicator();
    showBar();
}

void ResultView::checkClosed()
{
    if (m_shown.open() || m_fetching) {
        // Shown, let go only for a while (an export), or fetched to its end for us.
        if (m_shown.open() && !m_fetching && !m_work.pending() && !m_applied.filter.isEmpty())
            setStatus(countText());
        return;
    }
    // The result was closed (or lent to a walk of the window's own): the work for it stops and
    // nothing claims an order over an empty grid. The rows applied stay with their result.
    if (m_work.pending()) {
        cancelWork();
        m_wanted = m_applied;
        if (m_edit->text() != m_applied.filter)
            m_edit->setText(m_applied.filter);
    }
    setStatus(QString());
    showBar();
}

QString ResultView::countText() const
{
    return QStringLiteral("%1 of %2 rows").arg(m_shownCount).arg(m_total);
}

void ResultView::showBar()
{
    const bool wanted =
        m_opened || !m_wanted.filter.isEmpty() || !m_applied.filter.isEmpty() || m_edit->hasFocus();
    if (m_bar->isHidden() == wanted)
        m_bar->setVisible(wanted);
    setStatus(m_count->text());
}

void ResultView::setStatus(const QString &text)
{
    m_statusHide->stop();
    m_count->setText(text);
    m_status->setText(text);
    const bool floating = m_bar->isHidden() && !text.isEmpty();
    if (floating) {
        m_status->adjustSize();
        m_status->move(m_grid->viewport()->geometry().topLeft() + QPoint(4, 4));
        m_status->raise();
    }
    m_status->setVisible(floating);
}

void ResultView::showIndicator()
{
    QHeaderView *header = m_grid->horizontalHeader();
    header->setSortIndicatorShown(m_applied.column >= 0);
    header->setSortIndicator(m_applied.column, m_applied.order);
}

QString ResultView::note() const
{
    QStringList parts;
    QueryDataset *query = m_shown.open();
    if (m_applied.column >= 0 && query)
        parts.append(
            QStringLiteral("Sorted by %1%2")
                .arg(query->FieldTitle(m_applied.column),
                    m_applied.order == Qt::DescendingOrder ? QStringLiteral(" (descending)")
                                                           : QString()));
    if (!m_applied.filter.isEmpty())
        parts.append(QStringLiteral("filtered: %1 of %2 rows").arg(m_shownCount).arg(m_total));
    QString note = parts.join(QStringLiteral("; "));
    if (!note.isEmpty())
        note[0] = note[0].toUpper();
    return note;
}
