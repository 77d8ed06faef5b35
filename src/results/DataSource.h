#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class QueryDataset;

// The result grid's table model over a dataset (not owned): one column per field, one row per
// record fetched so far. The view pulls more records one block at a time as it scrolls, so a
// large result is never fetched whole for display. A sort or a filter gives it the rows shown:
// record numbers in the order shown, which the grid's rows map through. UI thread only.
class DataSource : public QAbstractTableModel
{
    Q_OBJECT

public:
    // True when the value of the cell is null (the grid paints those itself).
    static constexpr int IsNullRole = Qt::UserRole + 1;
    // A cell's text is cut to this many characters; the dataset keeps the whole value.
    static constexpr int MaxDisplayChars = 1000;

    explicit DataSource(QObject *parent = nullptr);

    // Shows another dataset, or nothing (nullptr); the model is reset.
    void setDataSet(QueryDataset *dataSet);
    QueryDataset *dataSet() const { return m_dataSet; }
    // Announces records that the dataset fetched by itself (a count, a walk, a move).
    void syncRows();

    // The rows shown: these records of `result` in this order, or (null) every fetched record in
    // fetch order. They belong to that result whether it is bound now or not (a sort that ends
    // while an export has the grid unbound shows when it is bound again); binding another result
    // drops them (and says so with resultChanged), unbinding and binding the same one again
    // keeps them.
    void setShownRecords(
        const QueryDataset &result, std::shared_ptr<const std::vector<int>> records);
    std::shared_ptr<const std::vector<int>> shownRecords() const { return m_shown; }
    int recordAt(int row) const; // the record a grid row shows, -1 when none
    int rowOf(int record) const; // the grid row showing a record, -1 when none
    // True when rows are chosen and the record is not among them.
    bool hides(int record) const { return m_shown && record >= 0 && rowOf(record) < 0; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(
        int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

signals:
    // A block fetch failed (for example the connection was lost); no more are attempted.
    void fetchFailed(const QString &message);
    // Another result was bound: the rows shown are every record again.
    void resultChanged();

private:
    QueryDataset *m_dataSet = nullptr; // not owned: the window owns the current result
    int m_rows = 0; // records announced to the views
    int m_columns = 0;
    bool m_fetchFailed = false;
    std::shared_ptr<const std::vector<int>> m_shown; // null: every record in fetch order
    std::uint64_t m_serial = 0; // the result bound last (or bound still)
};
