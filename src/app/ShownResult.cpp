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
#include <QTabBar>
#include <QTableView>
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
    QObject::connect(m_tabs, &QTabBar::currentChanged, m_tabs, [this](int page) {
        if (page >= 0 && page != m_current && !showPage(page))
            showTabs(); // the current result is out on a walk: the tab stays
    });
}

QString ShownResult::pageCaption(int page, int records)
{
    return QStringLiteral("Result %1 (%2)")
        .arg(page + 1)
        .arg(records == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(records));
}

QVector<int> ShownResult::pageRecords() const
{
    QVector<int> records;
    for (int page = 0; page < pageCount(); ++page) {
        const QueryDataset *result =
            page == m_current ? m_result.get() : m_pages[std::size_t(page)].result.get();
        records.append(result ? result->fetchedCount() : m_pages[std::size_t(page)].records);
    }
    return records;
}

bool ShownResult::showPage(int page)
{
    if (page < 0 || page >= pageCount() || !m_result)
        return false;
    if (page == m_current)
        return true;
    unbind();
    m_pages[std::size_t(m_current)].records = m_result->fetchedCount();
    m_pages[std::size_t(m_current)].result = std::move(m_result);
    m_current = page;
    m_result = std::move(m_pages[std::size_t(page)].result);
    endTransientCount();
    bind();
    setRecordCount(m_result->fetchedCount()); // fetched whole, as every page of several
    showTabs();
    return true;
}

void ShownResult::showTabs()
{
    if (!m_tabs)
        return;
    const QSignalBlocker quiet(m_tabs); // the tabs follow the pages, they do not switch them
    const QVector<int> records = pageRecords();
    while (m_tabs->count() > records.size())
        m_tabs->removeTab(m_tabs->count() - 1);
    for (int page = 0; page < records.size(); ++page) {
        const QString caption = pageCaption(page, records[page]);
        if (page < m_tabs->count())
            m_tabs->setTabText(page, caption);
        else
            m_tabs->addTab(caption);
    }
    m_tabs->setCurrentIndex(m_current);
    m_tabs->setEnabled(bool(m_result));
    m_tabs->setVisible(records.size() > 1);
}

void ShownResult::disposePages(const Transaction *open)
{
    std::vector<std::unique_ptr<QueryDataset>> results;
    results.push_back(std::move(m_result));
    for (Page &page : m_pages)
        results.push_back(std::move(page.result));
    m_pages.clear();
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
    disposePages(nullptr);
    ++m_pagesSerial;
    if (result) {
        m_pages.resize(1);
        m_current = 0;
        m_result = std::move(result);
        for (std::unique_ptr<QueryDataset> &next : more) {
            const int records = next ? next->fetchedCount() : 0;
            m_pages.push_back({ std::move(next), records });
        }
    }
    for (std::unique_ptr<QueryDataset> &next : more)
        Reaper::dispose(std::move(next)); // none is left unless result was null
    bind();
    showTabs();
    if (m_pages.size() > 1)
        setRecordCount(m_result->fetchedCount()); // each page's result is whole
}

std::unique_ptr<QueryDataset> ShownResult::take()
{
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
        m_pages.resize(1);
        m_current = 0;
    }
    bind();
    showTabs();
}

void ShownResult::close(const Transaction &open)
{
    if (m_result)
        unbind();
    disposePages(&open);
    ++m_pagesSerial;
    showTabs();
    endTransientCount(); // the result it described is gone
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
