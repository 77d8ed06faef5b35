#include "results/DataSource.h"

#include "connection/DatabaseError.h"
#include "connection/QueryDataset.h"

#include <algorithm>
#include <exception>

DataSource::DataSource(QObject *parent)
    : QAbstractTableModel(parent)
{ }

void DataSource::setDataSet(QueryDataset *dataSet)
{
    const bool changed = dataSet && dataSet->serial() != m_serial;
    beginResetModel();
    m_dataSet = dataSet;
    m_fetchFailed = false;
    if (changed) {
        m_shown.reset();
        m_serial = dataSet->serial();
    }
    m_rows = !dataSet || !dataSet->IsOpen() ? 0
        : m_shown                           ? int(m_shown->size())
                                            : dataSet->fetchedCount();
    m_columns = dataSet && dataSet->IsOpen() ? dataSet->FieldCount() : 0;
    endResetModel();
    if (changed)
        emit resultChanged();
}

void DataSource::setShownRecords(
    const QueryDataset &result, std::shared_ptr<const std::vector<int>> records)
{
    if (m_dataSet != &result) {
        // Unbound (or bound to another result): kept for that result's next binding.
        if (m_dataSet || !result.IsOpen())
            return;
        m_shown = std::move(records);
        m_serial = result.serial();
        return;
    }
    if (!m_dataSet->IsOpen())
        return;
    m_shown = std::move(records);
    const int rows = m_shown ? int(m_shown->size()) : m_dataSet->fetchedCount();
    // Rows removed or added at the end and every cell told of its change, rather than a reset:
    // a reset would give the columns back their default widths.
    if (rows < m_rows) {
        beginRemoveRows(QModelIndex(), rows, m_rows - 1);
        m_rows = rows;
        endRemoveRows();
    } else if (rows > m_rows) {
        beginInsertRows(QModelIndex(), m_rows, rows - 1);
        m_rows = rows;
        endInsertRows();
    }
    if (m_rows > 0 && m_columns > 0)
        emit dataChanged(index(0, 0), index(m_rows - 1, m_columns - 1));
}

int DataSource::recordAt(int row) const
{
    if (row < 0 || row >= m_rows)
        return -1;
    return m_shown ? (*m_shown)[std::size_t(row)] : row;
}

int DataSource::rowOf(int record) const
{
    if (!m_shown)
        return record >= 0 && record < m_rows ? record : -1;
    const auto at = std::find(m_shown->begin(), m_shown->end(), record);
    return at == m_shown->end() ? -1 : int(at - m_shown->begin());
}

void DataSource::syncRows()
{
    if (!m_dataSet || !m_dataSet->IsOpen() || m_shown)
        return;
    const int fetched = m_dataSet->fetchedCount();
    if (fetched <= m_rows)
        return;
    beginInsertRows(QModelIndex(), m_rows, fetched - 1);
    m_rows = fetched;
    endInsertRows();
}

int DataSource::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int DataSource::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant DataSource::data(const QModelIndex &index, int role) const
{
    if (!m_dataSet || !index.isValid() || index.row() >= m_rows || index.column() >= m_columns)
        return {};
    const int record = recordAt(index.row());
    // Called from the view's painting: nothing may be thrown from here. A value the store
    // cannot read back from its temporary file shows as an empty cell.
    try {
        switch (role) {
        case Qt::DisplayRole:
            // Null cells carry no text: the grid's delegate paints them.
            if (m_dataSet->isNull(record, index.column()))
                return {};
            // What a cell can show: a value of megabytes would cost every repaint its whole
            // length. Copies and exports read the dataset, whole values.
            return m_dataSet->displayText(record, index.column(), MaxDisplayChars);
        case IsNullRole:
            return m_dataSet->isNull(record, index.column());
        default:
            return {};
        }
    } catch (const std::exception &) {
        return {};
    }
}

QVariant DataSource::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal) {
        if (m_dataSet && section >= 0 && section < m_columns)
            return m_dataSet->FieldTitle(section);
        return {};
    }
    return section + 1;
}

bool DataSource::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && m_dataSet && m_dataSet->IsOpen() && !m_fetchFailed && !m_shown
        && (!m_dataSet->allFetched() || m_dataSet->fetchedCount() > m_rows);
}

void DataSource::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    // Called from the view's event handling: nothing may be thrown from here.
    try {
        if (m_dataSet->fetchedCount() <= m_rows)
            m_dataSet->fetchMore();
    } catch (const std::exception &error) {
        m_fetchFailed = true;
        emit fetchFailed(errorText(error));
    }
    syncRows();
}
