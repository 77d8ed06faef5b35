#pragma once

#include "app/EditorAccess.h"
#include "history/History.h"
#include "history/HistoryRecorder.h"

#include <QElapsedTimer>
#include <QObject>

#include <memory>

class QWidget;
struct StatementOutcome;
class QueryFiles;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPrinter;

// The History page: the settings history (the window's HistoryList, 200 entries kept in the
// user's settings) and the history database that records every run, listed in ComboBox2 and
// searched through one path, the memo HistFullSQL, Make current and Print. Owned by the window
// (Qt parent); UI thread only.
class HistoryPage : public QObject
{
public:
    // entries: the window's HistoryList; editor: its text and QueryChanged (Make current, add).
    HistoryPage(QWidget *window, HistoryItems &entries, EditorAccess editor, QLineEdit *search,
        QComboBox *list, QPlainTextEdit *memo, QueryFiles *files);
    ~HistoryPage() override;

    // Opens the history database; a failure is shown and the page goes on without it.
    void open();
    // The settings history: read at start-up, a run's statement put at its head and stored.
    void load();
    void add(const QStringList &lines); // clears QueryChanged when there was a statement
    void save();

    // The memo shows the entry chosen in the list.
    void showSelected();
    // Make current: the memo's statement into the editor, after the unsaved-changes prompt.
    // False when there was nothing to take or the user cancelled.
    bool makeCurrent();
    // The values the run shown in the memo was bound to (a run found by the search); empty for
    // any other entry.
    QVector<HistoryParameter> shownValues() const;
    // Prints the memo's statement at once on `printer` (null: the default printer).
    void print(QPrinter *printer);

    // Every Run and Exec is recorded in the history database.
    // After the worker has started, with the text it runs (empty: the editor's whole text) and
    // the values bound to its markers.
    void runStarted(const QString &alias, const QString &text = QString(),
        const QVector<HistoryParameter> &parameters = {});
    void runEnded(const StatementOutcome &outcome); // the window's own statement ended
    void runCounted(int count); // QueryFinished has counted the records
    void runAbandoned(); // Close Query while a worker runs
    // The window goes: a running statement of its own (ownRunning) is cut off.
    void closing(bool ownRunning);
    // The history database, or null once it could not be used.
    HistoryRecorder *database() const { return m_history.get(); }

private:
    void fillList(); // ComboBox2 from HistoryList, entry 0 selected and shown
    void searchChanged();
    // ComboBox2 from the search's matches, newest first; keeps the entry `keepId` selected when
    // it still matches (else the first) and shows it.
    void showSearchResults(qint64 keepId);
    void databaseFailed(const QString &message);

    QWidget *m_window; // not owned: the window owns this page
    HistoryItems &m_entries; // the window's HistoryList
    EditorAccess m_editor;
    QLineEdit *m_search; // not owned: HistorySearch
    QComboBox *m_list; // not owned: ComboBox2
    QPlainTextEdit *m_memo; // not owned: HistFullSQL
    QueryFiles *m_files; // not owned: the window's query files (the prompt's save, printing)
    bool m_loaded = false; // the stored history was read: saving it may replace it
    std::unique_ptr<HistoryRecorder> m_history; // null when the database cannot be used
    QList<HistoryRecord> m_searchResults; // what ComboBox2 lists while a search is typed
    qint64 m_memoRun = 0; // the run HistFullSQL shows from a search, 0 for any other text
    qint64 m_run = 0; // key of the running statement's record, 0 when none
    qint64 m_lastRun = 0; // key of the run that ended last, for its record count
    QElapsedTimer m_clock; // since the running statement started
};
