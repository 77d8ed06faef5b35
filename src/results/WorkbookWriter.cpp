#include "results/WorkbookWriter.h"

#include "connection/ResultStore.h"
#include "results/LineBuilder.h"

#include <QDate>
#include <QDir>
#include <QStringEncoder>

#include <cmath>
#include <stdexcept>
#include <xlsxwriter.h>

namespace {

constexpr int CellChars = 32767; // Excel's limit for the text of one cell
constexpr int WidestColumn = 60; // a column wider than this is left for the user to widen

[[noreturn]] void fail(const QString &message)
{
    throw std::runtime_error(message.toStdString());
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The digits a double must hold for the number to stay as written: from the first non-zero one
// to the end, without the zeros that end a fraction ("0.0012300" has 3, "1000" has 4).
int significantDigits(QStringView number)
{
    if (number.startsWith(QLatin1Char('-')) || number.startsWith(QLatin1Char('+')))
        number = number.mid(1);
    qsizetype end = number.size();
    if (number.contains(QLatin1Char('.')))
        while (end > 0
            && (number.at(end - 1) == QLatin1Char('0') || number.at(end - 1) == QLatin1Char('.')))
            if (number.at(--end) == QLatin1Char('.'))
                break;
    qsizetype start = 0;
    while (start < end
        && (number.at(start) == QLatin1Char('0') || number.at(start) == QLatin1Char('.')))
        ++start;
    int count = 0;
    for (qsizetype i = start; i < end; ++i)
        count += isDigit(number.at(i)) ? 1 : 0;
    return count;
}

// A number Excel holds exactly: at most the 15 significant digits it keeps, in a double's range.
bool exactNumber(QStringView text, double &number)
{
    if (significantDigits(text) > 15)
        return false;
    bool ok = false;
    number = text.toDouble(&ok); // C locale: the profiles write a decimal point
    return ok && std::isfinite(number) && (number == 0 || std::fabs(number) >= 1e-300);
}

// Reads `digits` decimal digits at `at`, moving past them.
bool readNumber(QStringView text, qsizetype &at, int digits, int &value)
{
    if (at + digits > text.size())
        return false;
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const QChar c = text.at(at + i);
        if (!isDigit(c))
            return false;
        value = value * 10 + (c.unicode() - '0');
    }
    at += digits;
    return true;
}

bool readSeparator(QStringView text, qsizetype &at, char separator)
{
    if (at >= text.size() || text.at(at) != QLatin1Char(separator))
        return false;
    ++at;
    return true;
}

// Excel's day number of an ISO date (1900-03-01 to 9999-12-31: before March 1900 Excel counts a
// day that never was, 29 February 1900).
bool readDate(QStringView text, qsizetype &at, double &serial)
{
    int year = 0, month = 0, day = 0;
    if (!readNumber(text, at, 4, year) || !readSeparator(text, at, '-')
        || !readNumber(text, at, 2, month) || !readSeparator(text, at, '-')
        || !readNumber(text, at, 2, day))
        return false;
    const QDate date(year, month, day);
    if (!date.isValid() || date < QDate(1900, 3, 1))
        return false;
    serial = double(date.toJulianDay() - QDate(1899, 12, 30).toJulianDay());
    return true;
}

// The fraction of a day of an ISO time, with its fraction of a second when it has one.
bool readTime(QStringView text, qsizetype &at, double &dayPart, bool &fraction)
{
    int hour = 0, minute = 0, second = 0;
    if (!readNumber(text, at, 2, hour) || !readSeparator(text, at, ':')
        || !readNumber(text, at, 2, minute) || !readSeparator(text, at, ':')
        || !readNumber(text, at, 2, second) || hour > 24 || minute > 59 || second > 60)
        return false;
    double seconds = hour * 3600.0 + minute * 60.0 + second;
    fraction = at < text.size() && text.at(at) == QLatin1Char('.');
    if (fraction) {
        double scale = 0.1;
        for (++at; at < text.size() && isDigit(text.at(at)); ++at, scale /= 10)
            seconds += (text.at(at).unicode() - '0') * scale;
    }
    dayPart = seconds / 86400.0;
    return true;
}

} // namespace

WorkbookWriter::WorkbookWriter(const LineBuilder &builder, int sheetRows)
    : m_sheetRows(qMax(1, sheetRows))
{
    for (int i = 0; i < builder.fieldCount(); ++i)
        m_titles.push_back(builder.field(i).title);
    const QString folder = ResultStore::defaultSpillFolder();
    QDir().mkpath(folder);
    m_folder = QFile::encodeName(folder);
    m_file.setFileTemplate(folder + QStringLiteral("/stelvik-xlsx-XXXXXX"));
    if (!m_file.open())
        fail(QStringLiteral("Cannot create the workbook's temporary file in %1: %2")
                 .arg(folder, m_file.errorString()));
    m_file.close(); // libxlsxwriter writes it by name when the workbook is closed
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = m_folder.data();
    options.use_zip64 = LXW_TRUE; // a sheet of a million rows may exceed 4 GB unzipped
    m_book = workbook_new_opt(QFile::encodeName(m_file.fileName()).constData(), &options);
    if (!m_book)
        fail(QStringLiteral("Cannot create the workbook in %1.").arg(folder));
    m_bold = workbook_add_format(m_book);
    format_set_bold(m_bold);
    const auto numberFormat = [this](const char *form) {
        lxw_format *format = workbook_add_format(m_book);
        format_set_num_format(format, form);
        return format;
    };
    m_date = numberFormat("yyyy-mm-dd");
    m_time = numberFormat("hh:mm:ss");
    m_dateTime = numberFormat("yyyy-mm-dd hh:mm:ss");
    m_dateTimeFraction = numberFormat("yyyy-mm-dd hh:mm:ss.000");
    addSheet();
}

WorkbookWriter::~WorkbookWriter()
{
    // A workbook not finished (an error or a cancel) is closed into its temporary file, which
    // goes with this object; its result does not matter.
    if (m_book)
        workbook_close(m_book);
}

void WorkbookWriter::check(int error, const char *what) const
{
    if (error != LXW_NO_ERROR)
        fail(QStringLiteral("Cannot write the workbook (%1, row %2): %3")
                 .arg(QLatin1String(what))
                 .arg(m_written + 1)
                 .arg(QString::fromUtf8(lxw_strerror(lxw_error(error)))));
}

void WorkbookWriter::addSheet()
{
    m_sheet = workbook_add_worksheet(m_book, nullptr); // Sheet1, Sheet2, ...
    if (!m_sheet)
        fail(QStringLiteral("Cannot add a sheet to the workbook."));
    m_widths.assign(m_titles.size(), 0);
    m_row = 0;
    for (std::size_t i = 0; i < m_titles.size(); ++i)
        writeText(int(i), m_titles[i], m_bold);
    worksheet_freeze_panes(m_sheet, 1, 0);
    m_row = 1;
}

void WorkbookWriter::endSheet()
{
    for (std::size_t i = 0; i < m_widths.size(); ++i)
        check(worksheet_set_column(m_sheet, lxw_col_t(i), lxw_col_t(i),
                  qMin(m_widths[i] + 2, WidestColumn), nullptr),
            "column width");
}

void WorkbookWriter::writeText(int column, QStringView text, lxw_format *format)
{
    if (text.size() > CellChars && text.toUcs4().size() > CellChars)
        fail(QStringLiteral("Row %1, column %2 holds %3 characters; an Excel cell holds at most "
                            "%4. Nothing was written: export it as CSV or JSON Lines instead.")
                 .arg(m_written + 1)
                 .arg(m_titles[std::size_t(column)])
                 .arg(text.size())
                 .arg(CellChars));
    m_utf8.resize(text.size() * 3 + 1);
    QStringEncoder encoder(QStringConverter::Utf8);
    char *end = encoder.appendToBuffer(m_utf8.data(), text);
    *end = '\0';
    check(worksheet_write_string(
              m_sheet, lxw_row_t(m_row), lxw_col_t(column), m_utf8.constData(), format),
        "text");
    int &width = m_widths[std::size_t(column)];
    width = qMax(width, int(qMin(text.size(), qsizetype(WidestColumn))));
}

void WorkbookWriter::writeRecord(LineBuilder &builder)
{
    if (m_row > m_sheetRows) {
        endSheet();
        addSheet();
    }
    const auto row = lxw_row_t(m_row);
    for (int i = 0; i < int(m_titles.size()); ++i) {
        const auto column = lxw_col_t(i);
        m_value.resize(0);
        const CellKind kind = builder.appendCell(i, m_value);
        const QStringView text(m_value);
        int shown = int(text.size()); // the characters the cell shows
        double number = 0, dayPart = 0;
        qsizetype at = 0;
        bool fraction = false;
        switch (kind) {
        case CellKind::Null:
            continue; // an empty cell
        case CellKind::Integer:
        case CellKind::Decimal:
        case CellKind::Float:
            if (!exactNumber(text, number))
                break;
            check(worksheet_write_number(m_sheet, row, column, number, nullptr), "number");
            m_widths[std::size_t(i)] = qMax(m_widths[std::size_t(i)], qMin(shown, WidestColumn));
            continue;
        case CellKind::Boolean:
            check(worksheet_write_boolean(
                      m_sheet, row, column, text == QLatin1String("True"), nullptr),
                "boolean");
            m_widths[std::size_t(i)] = qMax(m_widths[std::size_t(i)], 5);
            continue;
        case CellKind::Date:
            if (!readDate(text, at, number) || at != text.size())
                break;
            check(worksheet_write_number(m_sheet, row, column, number, m_date), "date");
            m_widths[std::size_t(i)] = qMax(m_widths[std::size_t(i)], 10);
            continue;
        case CellKind::Time:
            if (!readTime(text, at, dayPart, fraction) || at != text.size())
                break;
            check(worksheet_write_number(m_sheet, row, column, dayPart, m_time), "time");
            m_widths[std::size_t(i)] = qMax(m_widths[std::size_t(i)], 8);
            continue;
        case CellKind::DateTime:
            // A timestamp at midnight may come as its date alone.
            if (!readDate(text, at, number)
                || (at != text.size()
                    && (!readSeparator(text, at, ' ') || !readTime(text, at, dayPart, fraction)))
                || at != text.size())
                break;
            check(worksheet_write_number(m_sheet, row, column, number + dayPart,
                      fraction ? m_dateTimeFraction : m_dateTime),
                "timestamp");
            m_widths[std::size_t(i)] = qMax(m_widths[std::size_t(i)], fraction ? 23 : 19);
            continue;
        case CellKind::Binary:
        case CellKind::Text:
            break;
        }
        // Text, and every value Excel would change: more digits than it keeps, a date before
        // March 1900 or after 9999.
        writeText(i, text);
    }
    ++m_row;
    ++m_written;
}

QIODevice &WorkbookWriter::finish()
{
    endSheet();
    lxw_workbook *book = m_book;
    m_book = nullptr;
    const lxw_error error = workbook_close(book);
    if (error != LXW_NO_ERROR)
        fail(QStringLiteral("Cannot write the workbook: %1")
                 .arg(QString::fromUtf8(lxw_strerror(error))));
    if (!m_file.open()) // reopens the same file
        fail(QStringLiteral("Cannot read the workbook's temporary file: %1")
                 .arg(m_file.errorString()));
    m_file.seek(0);
    return m_file;
}
