#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryFile>

#include <memory>
#include <vector>

class LineBuilder;
struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

// Writes a result as an Excel workbook through libxlsxwriter in its constant-memory mode: each
// row goes to a temporary file as it is written, so memory stays bounded for results of any size.
// Typed cells: numbers as numbers where Excel holds them exactly (at most 15 significant digits),
// else text; dates, times and timestamps as Excel's day numbers with a date format; NULL as an
// empty cell. Each sheet starts with the titles in a frozen header row; after `sheetRows` data
// rows the next ones go on to a new sheet. Column widths come from every value a sheet holds:
// Excel reads them from the head of the sheet's file, which is assembled only when the workbook
// is closed. One export, one thread.
class WorkbookWriter
{
public:
    // Throws when the temporary files cannot be created.
    WorkbookWriter(const LineBuilder &builder, int sheetRows);
    ~WorkbookWriter();

    // Writes the current record of the builder's dataset as the next row. Throws for a value
    // Excel cannot hold (text longer than a cell's 32,767 characters).
    void writeRecord(LineBuilder &builder);
    // Closes the workbook and returns its file, open for reading from the start. Throws when
    // libxlsxwriter fails.
    QIODevice &finish();

private:
    void addSheet();
    void endSheet();
    void check(int error, const char *what) const;
    void writeText(int column, QStringView text, lxw_format *format = nullptr);

    std::vector<QString> m_titles;
    QTemporaryFile m_file; // the finished workbook
    QByteArray m_folder; // where libxlsxwriter keeps its temporary files
    lxw_workbook *m_book = nullptr; // owned: closed (and freed) by finish() or the destructor
    lxw_worksheet *m_sheet = nullptr; // owned by the workbook
    lxw_format *m_bold = nullptr; // the formats are owned by the workbook
    lxw_format *m_date = nullptr;
    lxw_format *m_time = nullptr;
    lxw_format *m_dateTime = nullptr;
    lxw_format *m_dateTimeFraction = nullptr;
    int m_sheetRows;
    int m_row = 0; // the next data row of the sheet, from 1 (0 is the header)
    qint64 m_written = 0; // data rows in the whole workbook
    std::vector<int> m_widths; // the widest value of each column on this sheet, in characters
    QString m_value; // the value being written, its room kept from cell to cell
    QByteArray m_utf8;
};
