#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryFile>

#include <memory>
#include <string>
#include <vector>

class LineBuilder;
class SheetStream;
struct lxw_workbook;
struct lxw_format;

// Writes a result as an Excel workbook: libxlsxwriter, in its constant-memory mode, writes the
// workbook's parts (styles, the sheets' frozen header rows and column widths); the data rows'
// XML is written here and compressed on a second thread while the export goes on, then joined
// into each sheet's part (WorkbookZip.h says why). Memory stays bounded for results of any size.
// Typed cells: numbers as numbers where Excel holds them exactly (at most 15 significant digits),
// else text; dates, times and timestamps as Excel's day numbers with a date format; NULL as an
// empty cell. After `sheetRows` data rows the next ones go on to a new sheet. Column widths
// come from every value a sheet holds. Used by one thread.
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
    // libxlsxwriter or a file fails.
    QIODevice &finish();

private:
    struct Sheet
    {
        qint64 rows;
        std::vector<int> widths;
    };
    void endSheet();
    void addSheetParts(const Sheet &sheet);
    void check(int error, const char *what) const;
    void beginCell(int column, const std::string &attributes);
    void writeNumber(int column, double number, const std::string &style);
    void writeText(int column, QStringView text);

    std::vector<QString> m_titles;
    std::vector<std::string> m_columnNames; // A, B, ... as a cell's reference names them
    QTemporaryFile m_file; // the finished workbook
    QTemporaryFile m_parts; // the workbook libxlsxwriter writes
    QByteArray m_folder; // where libxlsxwriter keeps its temporary files
    lxw_workbook *m_book = nullptr; // owned: closed (and freed) by finish() or the destructor
    lxw_format *m_bold = nullptr; // owned by the workbook
    // The cells' style attributes, with the indexes libxlsxwriter gave the date formats.
    std::string m_date, m_time, m_dateTime, m_dateTimeFraction;
    int m_sheetRows;
    int m_row = 1; // the next data row of the sheet, from 1 (0 is the header)
    qint64 m_written = 0; // data rows in the whole workbook
    std::vector<int> m_titleWidths;
    std::vector<int> m_widths; // the widest value of each column on this sheet, in characters
    std::vector<Sheet> m_sheets; // the sheets ended
    QString m_value; // the value being written, its room kept from cell to cell
    std::string m_rowName; // the present row's number as cells' references write it
    std::string m_xml; // the rows' XML not yet handed to the stream
    std::unique_ptr<SheetStream> m_stream;
};
