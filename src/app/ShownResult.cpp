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
#include <QTableView>

#include <algorithm>

namespace {
// A column is never sized wider than this many characters from code; the user may widen it.
constexpr int maxInitialColumnChars = 60;
}

ShownResult::~ShownResult()
{
    if (m_source)
        m_source->setDataSet(nullptr);
    Reaper::dispose(std::move(m_result)); // its free may wait on the server
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

QueryDataset *ShownResult::open() const
{
    return m_result && m_result->IsOpen() ? m_result.get() : nullptr;
}

void ShownResult::show(std::unique_ptr<QueryDataset> result)
{
    unbind(); // before the dataset goes, so that the grid never reads a freed one
    Reaper::dispose(std::move(m_result));
    m_result = std::move(result);
    bind();
}

std::unique_ptr<QueryDataset> ShownResult::take()
{
    unbind();
    return std::move(m_result);
}

void ShownResult::close(const Transaction &open)
{
    if (m_result) {
        unbind();
        const std::shared_ptr<ConnectionHandle> connection = m_result->connection();
        if (connection && !m_result->allFetched() && !open.holds(connection))
            connection->noteCancel(false);
        // Closing a cursor the server has not finished talks to it: never on this thread.
        Reaper::dispose(std::move(m_result));
    }
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
