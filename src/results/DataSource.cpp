#include "results/DataSource.h"

#include "connection/DatabaseError.h"
#include "connection/QueryDataset.h"

#include <exception>

DataSource::DataSource(QObject *parent)
    : QAbstractTableModel(parent)
{ }

void DataSource::setDataSet(QueryDataset *dataSet)
{
    beginResetModel();
    m_dataSet = dataSet;
    m_fetchFailed = false;
    m_rows = dataSet && dataSet->IsOpen() ? dataSet->fetchedCount() : 0;
    m_columns = dataSet && dataSet->IsOpen() ? dataSet->FieldCount() : 0;
    endResetModel();
}

void DataSource::syncRows()
{
    if (!m_dataSet || !m_dataSet->IsOpen())
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
    // Called from the view's painting: nothing may be thrown from here. A value the store
    // cannot read back from its temporary file shows as an empty cell.
    try {
        switch (role) {
        case Qt::DisplayRole:
            // Null cells carry no text: the grid's delegate paints them.
            if (m_dataSet->isNull(index.row(), index.column()))
                return {};
            // What a cell can show: a value of megabytes would cost every repaint its whole
            // length. Copies and exports read the dataset, whole values.
            return m_dataSet->displayText(index.row(), index.column(), MaxDisplayChars);
        case IsNullRole:
            return m_dataSet->isNull(index.row(), index.column());
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
    return !parent.isValid() && m_dataSet && m_dataSet->IsOpen() && !m_fetchFailed
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
