#pragma once

#include "app/EditorAccess.h"
#include "app/Guard.h"
#include "app/ShownResult.h"
#include "history/History.h"
#include "history/HistoryRecorder.h"
#include "query/QueryControl.h"

#include <QMainWindow>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace Ui {
class TForm1;
}
class LoginFlow;
class ResultView;
class RoutingView;
class Transactions;
class ScriptLog;
class EditorMarks;
class EditorRecovery;
class QueryDataset;
class QueryFiles;
class WindowLifecycle;
class EditorCommands;
class EditorCompletion;
class HistoryPage;
class DataSource;
class ExportCommands;
class FanOutView;
class CompareHighlight;
class ResultCompare;
class QAction;
class QLabel;
class QToolButton;
class TReplaceDialog;
class QPrinter;
class QTimer;
class CatalogFreshness;
class RunValues;
namespace StatementValues {
struct Bound;
}
namespace Catalog {
class Catalogs;
class CatalogService;
}

// The program's main window: every command of the tool is one of its handlers, which hand the
// work to the window's rooms (start-up, query files, editor commands, history page, the
// statement's QueryControl). Owns the connections it creates, the history and the current
// result. UI thread only.
class TForm1 : public QMainWindow
{
    Q_OBJECT

public:
    // What tests and benchmarks change about the window; the program runs with the defaults.
    struct Options
    {
        bool exitOnDestroy = true; // closing the window ends the process with exit code 0
        // Where both print commands print (not owned). Null: the printer chosen in the print
        // dialog (Print Query) or the default printer (the history page's print).
        QPrinter *printer = nullptr;
    };

    explicit TForm1(QWidget *parent = nullptr);
    explicit TForm1(const Options &options, QWidget *parent = nullptr);
    ~TForm1() override;
    const Options &options() const { return m_options; }
    void setOptions(const Options &options) { m_options = options; }

    // The title text, and the window caption after start-up.
    static QString titleText();

    // --- Shared state (UI thread only) ---
private:
    ShownResult m_shown; // the result in the grid and its binding; declared first, freed last

public:
    // The result shown in the grid (owned by m_shown), as tests and benchmarks read it.
    std::unique_ptr<QueryDataset> &CurrentQuery = m_shown.held();
    // The worker of the window's own statement or walk under way (opaque: it deletes itself
    // once ended), null when none. Not owned.
    QObject *CurrentThread = nullptr;
    bool QueryChanged = false; // the editor holds changes in no file and no history entry
    HistoryItems HistoryList; // newest first, entries by value (history/History.h)
    QString CachedParms; // in-memory copy of the connection parameters text

    // --- Editor text (Unit1Editor.cpp) ---
    // The editor's lines, each followed by CR LF; a wrapped line counts as one line.
    QString EditorText() const;
    QStringList EditorLines() const;
    // Replaces the editor's whole text (split at CR LF, lone CR or lone LF); one change
    // notification follows, so QueryChanged is set.
    void setEditorText(const QString &text);

    // --- Login and database choice (Unit1Login.cpp) ---
    // These two wait for the credentials thread without handling events; the window's own
    // commands use the forms that do not wait (LoginFlow).
    QString getDBParms();
    void setDBParms(const QString &text);
    // The login is still being read or stored (before or after a connect, or by a logout).
    bool loginPending() const;
    // Makes sure the alias's connection is open, asking for the login when none is stored, and
    // calls done(true) once it is. The open runs off the UI thread: done comes later, from the
    // event loop, or at once when the connection is open already. A failure is reported here,
    // then done(false); a connect abandoned by Close Query or Logout never calls done.
    void ConnectDatabase(const QString &name, std::function<void(bool)> done);
    void SelectDatabaseFromSQL();
    // Offers back the text of a window that ended without closing (a crash, a kill, a power
    // cut); the program entry calls it once the window shows.
    void offerRecovery();

    // --- History (Unit1History.cpp) ---
    void LoadHistory();
    void AddToHistory(const QStringList &lines);
    void SaveHistory();

    // --- Running statements (Unit1Run.cpp) ---
    void CloseCurrentQuery();
    void QueryFinished(StatementOutcome &outcome);
    // Binds the grid DBGrid1 to DataSource1 (showing CurrentQuery from its current record), or
    // unbinds it so that it shows no data (ShownResult).
    void BindGrid() { m_shown.bind(); }
    void UnbindGrid() { m_shown.unbind(); }

    // The grid's data source (a table model over CurrentQuery); null until the window is built.
    DataSource *DataSource1 = nullptr; // owned by the window (Qt parent)
    TReplaceDialog *ReplaceDialog1 = nullptr; // owned by the window (Qt parent)

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Start-up and shutdown (Unit1.cpp).
    void FormCreate(QObject *Sender);
    void FormDestroy(QObject *Sender);

    // Query files and printing (Unit1Editor.cpp).
    void SpeedButton7Click(QObject *Sender);
    void SpeedButton8Click(QObject *Sender);
    void SpeedButton9Click(QObject *Sender);
    // Editor commands (Unit1Editor.cpp).
    void RE1Change(QObject *Sender);
    void RE1KeyDown(QObject *Sender, int &Key, Qt::KeyboardModifiers Shift);
    void Undo1Click(QObject *Sender);
    void Copy1Click(QObject *Sender);
    void Cut1Click(QObject *Sender);
    void Paste1Click(QObject *Sender);
    void SelectAll1Click(QObject *Sender);
    void Font2Click(QObject *Sender);
    void FindReplace1Click(QObject *Sender);
    void ReplaceDialog1Replace(QObject *Sender);

    // Run, Exec and Close (Unit1Run.cpp).
    void Button1Click(QObject *Sender);
    void Button3Click(QObject *Sender);
    void Button2Click(QObject *Sender);
    // Runs the editor's whole text, or (atCursor) the selection or the statement at the cursor.
    void startStatement(bool isExec, bool atCursor = false);

    // Close and Logout (Unit1Login.cpp).
    void SpeedButton12Click(QObject *Sender);

    // Result output (Unit1Export.cpp).
    void Button4Click(QObject *Sender);
    void Button5Click(QObject *Sender);
    void Button6Click(QObject *Sender);
    void PopupMenu2Popup(QObject *Sender);
    void CopyFieldtoClipboard1Click(QObject *Sender);
    void CopyEntireRowtoclipboard1Click(QObject *Sender);
    void CopyEntireRowCommaQuote1Click(QObject *Sender);

    // History page (Unit1History.cpp).
    void ComboBox2Change(QObject *Sender);
    void SpeedButton10Click(QObject *Sender);
    void SpeedButton11Click(QObject *Sender);

    // About page (Unit1About.cpp).
    void PageControl1Change(QObject *Sender);
    void Timer1Timer(QObject *Sender);

    void wireHandlers(); // one line per control and handler

    // Topic set-up called by the constructor after the controls are wired: each topic file
    // installs what its controls need beyond a click (models, delegates, key filters, signals).
    void setupEditor(); // Unit1Editor.cpp
    void setupGrid(); // Unit1Grid.cpp: the grid, the run path's rooms, the window's keys
    void setupExport(); // Unit1Export.cpp
    void setupHistory(); // Unit1History.cpp
    void setupAbout(); // Unit1About.cpp

    // Connects a control's signal to a handler, guarded so that no exception leaves it.
    template <typename Sender, typename Signal>
    void wire(Sender *sender, Signal signal, void (TForm1::*handler)(QObject *))
    {
        connect(sender, signal, this,
            [this, sender, handler] { runGuarded(this, [&] { (this->*handler)(sender); }); });
    }

    std::unique_ptr<Ui::TForm1> ui;
    QTimer *Timer1 = nullptr; // owned by the window (Qt parent)

    // Members that one topic file adds go below its own marker, so that topics never collide.
    // [Unit1.cpp]
public:
    // The text of status bar panel 0 (record count) or 1 (state of the last Run or Exec).
    QString statusText(int panel) const;
    void setStatusText(int panel, const QString &text);
    // The names of every alias's database, for the editor's completion, describe and browser.
    Catalog::Catalogs *catalogs() const;

private:
    Options m_options;
    WindowLifecycle *m_lifecycle = nullptr; // start-up's steps; owned by the window (Qt parent)
    Catalog::CatalogService *m_catalogs = nullptr; // owned by the window (Qt parent)
    CatalogFreshness *m_freshness = nullptr; // owned by the window (Qt parent)
    // [Unit1Login.cpp]
    std::unique_ptr<LoginFlow> m_login; // the stored login and the connect, owns the connections
    // [Unit1Run.cpp]
    void setWaitCursor(bool on);
    // The busy state, derived from the statement's state: Run and Exec, the wait cursor and
    // panel 1's "Connecting to ...", "Running Query" or "Executing SQL".
    void showState(QueryControl::State state);
    void showBusy(QueryControl::State state); // Run and Exec, the wait cursor
    std::optional<QString> m_panelBeforeConnect; // panel 1 before "Connecting to ..."
    // Message boxes of a statement, shown after its hand-back (the worker does not wait on them).
    void showQueryError(const StatementOutcome &outcome);
    void postError(const QString &text);
    // [Unit1Grid.cpp]
    void FetchFinished(StatementOutcome &outcome);
    void fetchToEnd(); // Ctrl+End in the grid: the rest of the result, off the UI thread
    void setupPins(); // Unit1Grid.cpp: pinning a result, and closing a pinned one
    void setupKeys();
    // [Unit1Run.cpp]
    // Closing the window: the running statement is cancelled on the server, nothing waits.
    void cancelForExit();
    bool m_waitCursor = false; // this window holds one override cursor of the application
    QueryControl *m_control = nullptr; // owned by the window (Qt parent)
    EditorMarks *m_marks = nullptr; // the statement at the cursor, the error place; owned (parent)
    ResultView *m_resultView = nullptr; // the grid's sort and filter; owned (Qt parent)
    RoutingView *m_routing = nullptr; // owned by the window (Qt parent)
    Transactions *m_transactions = nullptr; // auto-commit, commit, rollback; owned (Qt parent)
    EditorRecovery *m_recovery = nullptr; // owned by the window (Qt parent)
    // The statement being run: its lines as sent (the whole editor, or the piece at the cursor),
    // where they start in the editor, and its alias.
    QStringList m_runLines;
    int m_runOrigin = 0;
    QString m_runAlias;
    void selectDatabaseFor(const QString &text); // the routing rule over a text that runs
    // Settles open work elsewhere (then calls again() once it ended), asks the guard rails,
    // closes the current query, routes `lines` (a part of the editor, or the whole) and calls
    // run(alias) once the alias's connection is open.
    void routeAndConnect(const QStringList &lines, int origin, bool part,
        std::function<void()> again, std::function<void(const QString &)> run);
    void RunScript1Click(QObject *Sender); // Run Script, Alt+X
    ScriptLog *m_scripts = nullptr; // owned by the window (Qt parent)
    // The values of the statement's markers: asked for (or, remembered, the last ones taken)
    // once the connection is open, then the statement starts with them bound.
    void runWithValues(const QString &alias, bool isExec, bool remembered);
    void startBound(const QString &alias, bool isExec, StatementValues::Bound bound);
    void runRemembered(); // Ctrl+F5: Run with the statement's last values, unasked when they fit
    bool m_runRemembered = false; // the run being started takes the last values
    RunValues *m_runValues = nullptr; // owned by the window (Qt parent)
    std::vector<ParameterValue> m_runParameters; // the values the statement runs with
    // Declared after CurrentQuery, so destroyed before it: when the window goes, the grid lets
    // go of the result before the result is freed, a running worker is abandoned and the
    // window's wait cursor is given back.
    struct RunCleanup
    {
        TForm1 *form = nullptr; // set once the grid is set up
        ~RunCleanup();
    } m_runCleanup;
    // [Unit1Export.cpp]
    // The exports and copies; declared after CurrentQuery, so an export ends before the result.
    std::unique_ptr<ExportCommands> m_export;
    // [Unit1Editor.cpp]
public:
    // Raises an error naming the line when the editor's text holds a NUL character, which the
    // database would never see past.
    void refuseNulCharacter() const;

private:
    EditorAccess editorAccess(); // the editor's whole text and QueryChanged, for the rooms
    EditorCommands *m_editor = nullptr; // keys, clipboard, find/replace; owned (Qt parent)
    QueryFiles *m_queryFiles = nullptr; // load, save and print; owned by the window (Qt parent)
    // [Unit1History.cpp]
    HistoryPage *m_historyPage = nullptr; // both histories; owned by the window (Qt parent)

public:
    // Every Run and Exec is recorded in the history database. The run commands call these.
    // After the worker has started, with the text it runs (empty: the editor's whole text).
    void historyRunStarted(const QString &alias, const QString &text = QString());
    void historyRunEnded(const StatementOutcome &outcome); // first thing of QueryFinished
    void historyRunCounted(int count); // QueryFinished has counted the records
    void historyRunAbandoned(); // Close Query while a worker runs
    void historyClosing(); // the window goes: a running statement is cut off
    // The history database, or null once it could not be used.
    HistoryRecorder *historyDatabase() const;

private:
    // [Unit1About.cpp]
    // [EditorCompletion.cpp]
public:
    // Completion, F2 and the catalog reload over the editor; it reads the catalogs handed to
    // its setCatalogs.
    EditorCompletion *completion() const { return m_completion; }

private:
    EditorCompletion *m_completion = nullptr; // owned by the window (Qt parent)
    // [Unit1FanOut.cpp]
public:
    // The run on several aliases and its status strip (for the tests).
    FanOutView *fanOut() const { return m_fanOut; }

private:
    void setupFanOut(); // the button, Ctrl+Shift+F5, the strip above the grid
    // Runs the selection, else the editor's text, on the aliases ticked in a dialog.
    void FanOut1Click(QObject *Sender);
    FanOutView *m_fanOut = nullptr; // owned by the window (Qt parent)
    QToolButton *m_fanOutButton = nullptr; // owned by the toolbar (Qt parent)
    // [Unit1Compare.cpp]
public:
    ResultCompare *compareRun() const { return m_compare; } // the last compare (for the tests)

private:
    void setupCompare(); // the action, Ctrl+Shift+D, the grid menu's item, the strip, the tint
    // Compares two results on screen, chosen with their key columns in a dialog.
    void CompareResults1Click(QObject *Sender);
    QAction *m_compareAction = nullptr; // owned by the window (Qt parent)
    QLabel *m_compareStrip = nullptr; // owned by the grid's page (Qt parent)
    CompareHighlight *m_compareHighlight = nullptr; // owned by the grid (Qt parent)
    ResultCompare *m_compare = nullptr; // owned by the window (Qt parent)
    std::uint64_t m_compareSerial = 0; // of the compared result once shown
};
