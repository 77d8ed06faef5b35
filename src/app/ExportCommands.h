#pragma once

#include <QString>

#include <functional>
#include <memory>

class DataSource;
class ExportRun;
class QFileDialog;
class QTableView;
class QueryDataset;
class QWidget;
class ResultView;
class ShownResult;
enum class ExportFormat; // results/Exporter.h
enum class LineFormat; // results/LineBuilder.h

// The result's output commands: the two exports (the extract dialog, the file dialog SaveDialog1,
// the walk over the rows the grid shows) and the copies of field titles, a field and a record to
// the clipboard. Owned by the window; UI thread only.
class ExportCommands
{
public:
    // shown: the window's result; the grid lets go of it while an export walks it.
    ExportCommands(QWidget *window, ShownResult &shown, QTableView *grid, ResultView *view);
    ~ExportCommands(); // an export still walking ends before the result it walks

    void exportResult(ExportFormat format);
    void copyTitles(); // the field titles, joined by " ,"
    void copyField(); // the current record's field in the grid's current column
    void copyRecord(LineFormat format); // the current record as one line

private:
    bool recordShown() const; // an open result whose current record the filter does not hide

    QWidget *m_window; // not owned: the window owns this room
    ShownResult &m_shown; // the window's
    DataSource *m_source; // not owned: the window's
    QTableView *m_grid; // not owned: the window's
    ResultView *m_view; // not owned: the window's
    QFileDialog *m_saveDialog = nullptr; // SaveDialog1; owned by the window (Qt parent)
    std::unique_ptr<ExportRun> m_exportRun; // the export walking the result
    QString m_lastExportFile; // the name chosen in SaveDialog1 at its last use
};
