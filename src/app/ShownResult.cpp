#include "app/ShownResult.h"

#include "app/Guard.h"
#include "connection/ConnectionHandle.h"
#include "connection/QueryDataset.h"
#include "query/Reaper.h"
#include "query/Transaction.h"
#include "results/DataSource.h"
#include "results/GridDelegate.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QStyle>
#include <QTabBar>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// A column is never sized wider than this many characters from code; the user may widen it.
constexpr int maxInitialColumnChars = 60;
}

ShownResult::~ShownResult()
{
    if (m_source)
        m_source->setDataSet(nullptr);
    disposePages(nullptr); // their frees may wait on the server
}

void ShownResult::attach(QTableView *grid, DataSource *source, QLabel *countPanel)
{
    m_grid = grid;
    m_source = source;
    m_countPanel = countPanel;
    grid->setModel(source);
    grid->setItemDelegate(new GridDelegate(grid)); // owned by the grid (Qt parent)
    grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    // Compact rows, one line of text each, so that a screen shows as many records as it can.
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 4);
    grid->verticalHeader()->setMinimumSectionSize(grid->fontMetrics().height() + 4);
    QObject::connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, grid,
        [this](const QModelIndex &current) { currentRowChanged(current.row()); });
    QObject::connect(grid->horizontalHeader(), &QHeaderView::sectionResized, grid,
        [this](int column) { columnResized(column); });
}

void ShownResult::attachPages(QVBoxLayout *above)
{
    m_tabs = new QTabBar; // owned by the grid's page once in its layout
    m_tabs->setObjectName(QStringLiteral("ResultTabs"));
    // Clicked, or switched by Ctrl+PgDown and Ctrl+PgUp in the grid: the window's tab order
    // stays as it is.
    m_tabs->setFocusPolicy(Qt::NoFocus);
    m_tabs->setDocumentMode(true);
    m_tabs->setExpanding(false);
    m_tabs->hide();
    above->insertWidget(0, m_tabs);
    QObject::connect(m_tabs, &QTabBar::currentChanged, m_tabs, [this](int tab) {
        if (tab >= 0 && tab != m_current && !showTab(tab))
            showTabs(); // the current result is out on a walk: the tab stays
    });
}

QString ShownResult::pageCaption(int page, int records)
{
    return QStringLiteral("Result %1 (%2)")
        .arg(page + 1)
        .arg(records == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(records));
}

QString ShownResult::tabCaption(int tab) const
{
    if (tab < 0 || tab >= tabCount())
        return QString();
    const Page &page = m_pages[std::size_t(tab)];
    const QueryDataset *result = resultOf(tab);
    const QString caption =
        pageCaption(page.number, result ? result->fetchedCount() : page.records);
    return page.pinned ? QStringLiteral("Pinned: ") + caption : caption;
}

QueryDataset *ShownResult::resultOf(int tab) const
{
    return tab == m_current ? m_result.get() : m_pages[std::size_t(tab)].result.get();
}

std::vector<int> ShownResult::statementTabs() const
{
    std::vector<int> tabs;
    for (int tab = 0; tab < tabCount(); ++tab) {
        if (m_pages[std::size_t(tab)].statement == m_pagesSerial)
            tabs.push_back(tab);
    }
    return tabs;
}

QVector<int> ShownResult::pageRecords() const
{
    QVector<int> records;
    for (const int tab : statementTabs()) {
        const QueryDataset *result = resultOf(tab);
        records.append(result ? result->fetchedCount() : m_pages[std::size_t(tab)].records);
    }
    return records;
}

bool ShownResult::showPage(int page)
{
    const std::vector<int> tabs = statementTabs();
    return page >= 0 && page < int(tabs.size()) && showTab(tabs[std::size_t(page)]);
}

bool ShownResult::showTab(int tab)
{
    if (tab < 0 || tab >= tabCount() || !m_result)
        return false;
    if (tab == m_current)
        return true;
    unbind();
    park();
    enter(tab);
    endTransientCount();
    bind();
    showCount();
    showTabs();
    return true;
}

void ShownResult::park()
{
    if (m_current < 0 || !m_result)
        return;
    Page &page = m_pages[std::size_t(m_current)];
    page.records = m_result->fetchedCount();
    page.result = std::move(m_result);
}

void ShownResult::enter(int tab)
{
    m_current = tab;
    if (tab >= 0)
        m_result = std::move(m_pages[std::size_t(tab)].result);
}

void ShownResult::showCount()
{
    // A whole result's count is known; a page still fetching leaves panel 0 blank, as after a
    // Run without the Record Count box.
    if (m_result && m_result->allFetched())
        setRecordCount(m_result->fetchedCount());
    else if (m_countPanel)
        m_countPanel->clear();
}

bool ShownResult::isPinned() const
{
    return isPinned(m_current);
}

bool ShownResult::isPinned(int tab) const
{
    return tab >= 0 && tab < tabCount() && m_pages[std::size_t(tab)].pinned;
}

bool ShownResult::setPinned(bool pinned)
{
    m_pinPending = false;
    if (m_current < 0 || !m_result || (pinned && !m_result->allFetched()))
        return false;
    m_pages[std::size_t(m_current)].pinned = pinned;
    showTabs();
    return true;
}

bool ShownResult::closePage(int tab)
{
    if (!isPinned(tab))
        return false;
    if (tab == m_current) {
        if (!m_result)
            return false; // out on a walk
        unbind();
        Reaper::dispose(std::move(m_result)); // a whole result's free still talks to the driver
        m_pages.erase(m_pages.begin() + tab);
        enter(m_pages.empty() ? -1 : std::min(tab, tabCount() - 1));
        endTransientCount();
        bind();
        showCount();
    } else {
        Reaper::dispose(std::move(m_pages[std::size_t(tab)].result));
        m_pages.erase(m_pages.begin() + tab);
        if (tab < m_current)
            --m_current;
    }
    showTabs();
    return true;
}

void ShownResult::showTabs()
{
    if (!m_tabs)
        return;
    const QSignalBlocker quiet(m_tabs); // the tabs follow the pages, they do not switch them
    while (m_tabs->count() > tabCount())
        m_tabs->removeTab(m_tabs->count() - 1);
    const auto side = QTabBar::ButtonPosition(
        m_tabs->style()->styleHint(QStyle::SH_TabBar_CloseButtonPosition, nullptr, m_tabs));
    bool anyPinned = false;
    for (int tab = 0; tab < tabCount(); ++tab) {
        if (tab < m_tabs->count())
            m_tabs->setTabText(tab, tabCaption(tab));
        else
            m_tabs->addTab(tabCaption(tab));
        const QueryDataset *result = resultOf(tab);
        // Which alias and statement a page came from, to tell pinned pages apart.
        m_tabs->setTabToolTip(tab,
            result ? result->databaseName() + QLatin1Char('\n') + result->sql().left(500)
                   : QString());
        // A pinned page has its own close button; the others go with the next statement.
        const bool pinned = isPinned(tab);
        anyPinned = anyPinned || pinned;
        QWidget *button = m_tabs->tabButton(tab, side);
        if (pinned && !button) {
            auto *close = new QToolButton; // owned by the tab bar once set
            close->setObjectName(QStringLiteral("ResultTabClose"));
            close->setAutoRaise(true);
            close->setFocusPolicy(Qt::NoFocus);
            close->setText(QStringLiteral("\u00d7"));
            close->setToolTip(QStringLiteral("Close this pinned result"));
            m_tabs->setTabButton(tab, side, close);
            QObject::connect(close, &QToolButton::clicked, m_tabs, [this, close, side] {
                for (int at = 0; at < m_tabs->count(); ++at) {
                    if (m_tabs->tabButton(at, side) == close) {
                        closePage(at);
                        return;
                    }
                }
            });
        } else if (!pinned && button) {
            m_tabs->setTabButton(tab, side, nullptr);
            button->deleteLater();
        }
    }
    m_tabs->setCurrentIndex(m_current);
    m_tabs->setEnabled(bool(m_result));
    m_tabs->setVisible(tabCount() > 1 || anyPinned);
}

void ShownResult::disposePages(const Transaction *open, bool keepPinned)
{
    park();
    std::vector<std::unique_ptr<QueryDataset>> results;
    results.push_back(std::move(m_result)); // out of its page only while a walk took it back
    std::vector<Page> kept;
    for (Page &page : m_pages) {
        if (keepPinned && page.pinned)
            kept.push_back(std::move(page));
        else
            results.push_back(std::move(page.result));
    }
    m_pages = std::move(kept);
    m_current = -1;
    for (std::unique_ptr<QueryDataset> &result : results) {
        if (!result)
            continue;
        const std::shared_ptr<ConnectionHandle> connection = result->connection();
        if (open && connection && !result->allFetched() && !open->holds(connection))
            connection->noteCancel(false);
        // Closing a cursor the server has not finished talks to it: never on this thread.
        Reaper::dispose(std::move(result));
    }
}

QueryDataset *ShownResult::open() const
{
    return m_result && m_result->IsOpen() ? m_result.get() : nullptr;
}

void ShownResult::show(
    std::unique_ptr<QueryDataset> result, std::vector<std::unique_ptr<QueryDataset>> more)
{
    unbind(); // before the dataset goes, so that the grid never reads a freed one
    m_pinPending = false;
    disposePages(nullptr, true);
    ++m_pagesSerial;
    if (result) {
        m_pages.push_back({ nullptr, 0, m_pagesSerial, 0, false });
        m_current = tabCount() - 1;
        m_result = std::move(result);
        for (std::unique_ptr<QueryDataset> &next : more) {
            const int records = next ? next->fetchedCount() : 0;
            const int number = int(statementTabs().size());
            m_pages.push_back({ std::move(next), records, m_pagesSerial, number, false });
        }
    }
    for (std::unique_ptr<QueryDataset> &next : more)
        Reaper::dispose(std::move(next)); // none is left unless result was null
    const bool pinnedShown = m_current < 0 && tabCount() > 0;
    if (pinnedShown)
        enter(tabCount() - 1); // nothing new: the last pinned page
    bind();
    showTabs();
    if (statementTabs().size() > 1)
        setRecordCount(m_result->fetchedCount()); // each page of several is whole
    else if (tabCount() > 1 || pinnedShown)
        showCount(); // panel 0 says nothing of a pinned page's count
}

std::unique_ptr<QueryDataset> ShownResult::take()
{
    if (isPinned()) {
        // The pin keeps its result; a page of the last statement that is not pinned, shown
        // before the user went to the pinned one, is what the grid showed last of its own.
        for (const int tab : statementTabs()) {
            if (isPinned(tab))
                continue;
            std::unique_ptr<QueryDataset> taken = std::move(m_pages[std::size_t(tab)].result);
            m_pages.erase(m_pages.begin() + tab);
            if (tab < m_current)
                --m_current;
            showTabs();
            return taken;
        }
        return nullptr;
    }
    unbind();
    std::unique_ptr<QueryDataset> taken = std::move(m_result);
    showTabs();
    return taken;
}

void ShownResult::giveBack(std::unique_ptr<QueryDataset> result)
{
    unbind();
    Reaper::dispose(std::move(m_result)); // none is there unless the pages changed meanwhile
    m_result = std::move(result);
    if (m_result && m_pages.empty()) {
        m_pages.push_back({ nullptr, 0, m_pagesSerial, 0, false });
        m_current = 0;
    }
    if (m_pinPending && m_result && m_result->allFetched() && m_current >= 0)
        m_pages[std::size_t(m_current)].pinned = true;
    m_pinPending = false;
    bind();
    showTabs();
}

void ShownResult::close(const Transaction &open)
{
    if (m_result)
        unbind();
    m_pinPending = false;
    disposePages(&open, true);
    ++m_pagesSerial;
    endTransientCount(); // the result it described is gone
    if (tabCount() > 0) {
        enter(tabCount() - 1); // a pinned page stays, and shows
        bind();
        showCount();
    }
    showTabs();
}

void ShownResult::bind()
{
    if (!m_result || !m_result->IsOpen()) {
        unbind();
        return;
    }
    const bool wasBinding = m_binding;
    m_binding = true;
    m_source->setDataSet(m_result.get());
    const QFontMetrics metrics = m_grid->fontMetrics();
    const int maxPixels = pixelsForDisplayWidth(maxInitialColumnChars, QString(), metrics);
    for (int field = 0; field < m_result->FieldCount(); ++field) {
        const int pixels = pixelsForDisplayWidth(
            m_result->DisplayWidth(field), m_result->FieldTitle(field), metrics);
        m_grid->horizontalHeader()->resizeSection(field, std::min(pixels, maxPixels));
    }
    const int record = m_result->RecNo();
    if (record >= 0) {
        m_source->syncRows();
        const int column = std::max(0, m_grid->currentIndex().column());
        m_grid->setCurrentIndex(m_source->index(m_source->rowOf(record), column));
    }
    m_binding = wasBinding;
}

void ShownResult::unbind()
{
    if (m_source)
        m_source->setDataSet(nullptr);
}

void ShownResult::currentRowChanged(int row)
{
    // The grid's current row shows the dataset's current record (through the rows shown).
    if (m_binding || row < 0 || !m_result || m_source->dataSet() != m_result.get())
        return;
    runGuarded(m_grid->window(), [&] { m_result->setRecNo(m_source->recordAt(row)); });
}

void ShownResult::columnResized(int column)
{
    // A user's resize: the field of that column takes its width in average characters, which
    // the report layout then follows. The other columns keep their fields' widths: a column
    // that was only capped for display must not shorten its field.
    QueryDataset *dataSet = m_source->dataSet();
    if (m_binding || !dataSet || column < 0 || column >= dataSet->FieldCount())
        return;
    dataSet->setDisplayWidth(column,
        displayWidthFromPixels(
            m_grid->horizontalHeader()->sectionSize(column), m_grid->fontMetrics()));
}

void ShownResult::setRecordCount(int count)
{
    m_countBefore.reset(); // a record count stays until the next one
    setCount(count);
}

void ShownResult::setTransientCount(int count)
{
    // The records fetched by Ctrl+End describe one result only: panel 0 remembers what it
    // showed before, for when that result closes.
    if (!m_countBefore)
        m_countBefore = m_countPanel ? m_countPanel->text() : QString();
    setCount(count);
}

void ShownResult::endTransientCount()
{
    if (m_countBefore && m_countPanel)
        m_countPanel->setText(*m_countBefore);
    m_countBefore.reset();
}

void ShownResult::setCount(int count)
{
    if (m_countPanel)
        m_countPanel->setText(QString::number(count));
}
