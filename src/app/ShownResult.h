#pragma once

#include <QString>

#include <memory>
#include <optional>

class DataSource;
class QLabel;
class QTableView;
class QueryDataset;
class Transaction;

// The result on screen: owns the window's current result and its binding to the grid (the grid's
// model, the column widths, the record pointer), panel 0's transient count, and the result's
// disposal. A member of the window, attached to the grid once the window is built; UI thread only.
class ShownResult
{
public:
    ShownResult() = default;
    ShownResult(const ShownResult &) = delete;
    ShownResult &operator=(const ShownResult &) = delete;
    ~ShownResult(); // the grid lets go first; the result's free goes to the reaper

    // The grid shows the result through source; panel 0 holds the record count.
    void attach(QTableView *grid, DataSource *source, QLabel *countPanel);

    QueryDataset *get() const { return m_result.get(); }
    DataSource *source() const { return m_source; } // the grid's model
    QueryDataset *open() const; // the result when it is open, else null
    explicit operator bool() const { return bool(m_result); }
    // The owning pointer itself, for the window's accessor that tests and benchmarks read.
    std::unique_ptr<QueryDataset> &held() { return m_result; }

    // Shows result in the grid from its current record; one shown before goes to the reaper.
    void show(std::unique_ptr<QueryDataset> result);
    // Hands the result over (to a walk, or to be kept elsewhere); the grid lets go of it first.
    std::unique_ptr<QueryDataset> take();
    // Closes the result. One not fetched to its end holds its connection until its free has
    // talked to the server: a statement that comes next takes a fresh connection rather than
    // wait, unless work is open there (open).
    void close(const Transaction &open);

    // Binds the grid to the result (showing its current record), or unbinds it so that it shows
    // no data; the exports unbind it while they walk the result.
    void bind();
    void unbind();

    // Panel 0: a record count stays; the records fetched by Ctrl+End show while their result is
    // open, and panel 0 gets its earlier text back when it closes.
    void setRecordCount(int count);
    void setTransientCount(int count);
    void endTransientCount();

private:
    void currentRowChanged(int row);
    void columnResized(int column);
    void setCount(int count);

    std::unique_ptr<QueryDataset> m_result;
    QTableView *m_grid = nullptr; // not owned: the window's
    DataSource *m_source = nullptr; // not owned: the window's
    QLabel *m_countPanel = nullptr; // not owned: the status bar's
    bool m_binding = false; // the grid's columns and current row are being set from code
    std::optional<QString> m_countBefore; // set while panel 0 shows a transient count
};
