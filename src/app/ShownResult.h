#pragma once

#include <QString>
#include <QVector>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class DataSource;
class QLabel;
class QTabBar;
class QTableView;
class QVBoxLayout;
class QueryDataset;
class Transaction;

// The result on screen: owns the window's current result and its binding to the grid (the grid's
// model, the column widths, the record pointer), panel 0's transient count, and the result's
// disposal. A statement with several results (a batch, a procedure's result sets) gives a page
// each, switched by a tab bar above the grid that shows only while there is more than one (or one
// is pinned); the current page's result is the one everything reads. A pinned page stays when
// the next statement's pages replace the others, until it is closed on its own. A member of the
// window, attached to the grid once the window is built; UI thread only.
class ShownResult
{
public:
    ShownResult() = default;
    ShownResult(const ShownResult &) = delete;
    ShownResult &operator=(const ShownResult &) = delete;
    ~ShownResult(); // the grid lets go first; the result's free goes to the reaper

    // The grid shows the result through source; panel 0 holds the record count.
    void attach(QTableView *grid, DataSource *source, QLabel *countPanel);
    // The pages' tab bar goes at the top of the grid's page layout, hidden until a statement
    // gives several results.
    void attachPages(QVBoxLayout *above);

    QueryDataset *get() const { return m_result.get(); }
    DataSource *source() const { return m_source; } // the grid's model
    QueryDataset *open() const; // the result when it is open, else null
    explicit operator bool() const { return bool(m_result); }
    // The owning pointer itself, for the window's accessor that tests and benchmarks read.
    std::unique_ptr<QueryDataset> &held() { return m_result; }

    // Shows result in the grid from its current record; every page shown before that is not
    // pinned goes to the reaper, the pinned ones stay before the new pages. A statement's
    // further results (more) get a page each after the first.
    void show(
        std::unique_ptr<QueryDataset> result, std::vector<std::unique_ptr<QueryDataset>> more = {});
    // Hands the current page's result over (to a walk, or to be kept elsewhere); the grid lets
    // go of it first. The other pages stay, not switchable until giveBack. A pinned page keeps
    // its result: the last statement's page that is not pinned is handed over then (null when
    // there is none).
    std::unique_ptr<QueryDataset> take();
    // The result taken from the current page comes back to it (a walk to its end handed back);
    // a pin asked for meanwhile takes hold when it came back whole.
    void giveBack(std::unique_ptr<QueryDataset> result);

    // The pages of the statement shown last, numbered from 0 (the pinned pages of earlier
    // statements are not among them): records fetched of each page's result, in page order.
    QVector<int> pageRecords() const;
    // Shows another page of the statement shown last; false when there is no such page or the
    // current result is out on a walk.
    bool showPage(int page);
    // "Result 2 (1 row)": a page's caption, also what the log calls it.
    static QString pageCaption(int page, int records);

    // Every page, in the tab bar's order: the pinned ones kept from earlier statements, then
    // the last statement's.
    int tabCount() const { return int(m_pages.size()); }
    int currentTab() const { return m_current; }
    bool showTab(int tab); // as showPage
    QString tabCaption(int tab) const;

    // Pinning the current page: only a whole result can be pinned, since a cursor still open
    // would hold its connection from the statements after it. pinWhenWhole asks for the pin
    // when the result the walk to its end has taken comes back.
    bool isPinned() const;
    bool isPinned(int tab) const;
    bool setPinned(bool pinned); // false when the page cannot be pinned now
    void pinWhenWhole() { m_pinPending = true; }
    // Closes a pinned page and frees its result; the page beside it is shown when it was the
    // current one. False for a page that is not pinned (Close Query closes those).
    bool closePage(int tab);
    // Tells one statement's pages from the next one's.
    std::uint64_t pagesSerial() const { return m_pagesSerial; }
    // Closes the result and every other page not pinned; the last pinned page, if any, is
    // shown then. One not fetched to its end holds its connection until its free has talked to
    // the server: a statement that comes next takes a fresh connection rather than wait, unless
    // work is open there (open).
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
    // One result on screen. The current page's result lives in m_result (the window's
    // CurrentQuery refers to that member), the others here. A page stands for itself, so that a
    // pinned one is kept beside the results of the statements after it.
    struct Page
    {
        std::unique_ptr<QueryDataset> result; // null for the current page
        int records = 0; // fetched when it was put on the page
        std::uint64_t statement = 0; // the pages' serial of the statement it came from
        int number = 0; // which of that statement's results, from 0
        bool pinned = false;
    };

    QueryDataset *resultOf(int tab) const;
    std::vector<int> statementTabs() const; // the last statement's pages
    // Puts the current result back on its page, so that every page holds its own.
    void park();
    // The current page becomes tab, its result taken from its page (tab -1: none).
    void enter(int tab);
    // Frees the pages (the pinned ones too unless keepPinned); open as for close().
    void disposePages(const Transaction *open, bool keepPinned = false);
    void showCount();
    void showTabs();
    void currentRowChanged(int row);
    void columnResized(int column);
    void setCount(int count);

    std::unique_ptr<QueryDataset> m_result;
    std::vector<Page> m_pages;
    int m_current = -1;
    std::uint64_t m_pagesSerial = 0;
    QTabBar *m_tabs = nullptr; // not owned: the grid's page's
    QTableView *m_grid = nullptr; // not owned: the window's
    DataSource *m_source = nullptr; // not owned: the window's
    QLabel *m_countPanel = nullptr; // not owned: the status bar's
    bool m_binding = false; // the grid's columns and current row are being set from code
    bool m_pinPending = false; // pin the current page when the walk brings it back whole
    std::optional<QString> m_countBefore; // set while panel 0 shows a transient count
};
