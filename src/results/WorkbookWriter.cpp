#include "results/WorkbookWriter.h"

#include "connection/ResultStore.h"
#include "results/LineBuilder.h"
#include "results/WorkbookZip.h"

#include <QDate>
#include <QDir>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <xlsxwriter.h>

namespace {

constexpr int CellChars = 32767; // Excel's limit for the text of one cell
constexpr int WidestColumn = 60; // a column wider than this is left for the user to widen
constexpr int MostColumns = 16384; // Excel's columns, A to XFD

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
    // The profiles write plain numbers with a decimal point (the C locale): read as such without
    // QString's locale-aware reading; anything else (a sign, spaces) is left to that.
    char ascii[64];
    std::size_t size = 0;
    const qsizetype start = text.startsWith(QLatin1Char('+')) ? 1 : 0;
    bool ok = text.size() - start < qsizetype(sizeof ascii);
    for (qsizetype i = start; ok && i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        ok = isDigit(text[i]) || c == '.' || c == '-' || c == 'e' || c == 'E';
        ascii[size++] = char(c);
    }
    if (ok) {
        const auto read = std::from_chars(ascii, ascii + size, number);
        ok = read.ec == std::errc() && read.ptr == ascii + size;
    }
    if (!ok)
        number = text.toDouble(&ok);
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

// A column's name in a cell's reference: A to Z, then AA, AB, ...
std::string columnName(int column)
{
    std::string name;
    for (int n = column + 1; n > 0; n = (n - 1) / 26)
        name.insert(name.begin(), char('A' + (n - 1) % 26));
    return name;
}

void appendUtf8(std::string &out, char32_t c)
{
    if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
    } else {
        if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
        }
        out += char(0x80 | ((c >> 6) & 0x3F));
    }
    out += char(0x80 | (c & 0x3F));
}

// Text as the content of an XML element, in UTF-8: the markup characters as entities, control
// characters (which XML cannot hold) as Excel's _xHHHH_ escapes, which Excel reads back as the
// character; a lone surrogate or a non-character as the replacement character.
void appendEscaped(std::string &out, QStringView text)
{
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            if (c >= 0x20 && c != '&' && c != '<' && c != '>')
                out += char(c);
            else if (c == '&')
                out += "&amp;";
            else if (c == '<')
                out += "&lt;";
            else if (c == '>')
                out += "&gt;";
            else if (c == '\t' || c == '\n')
                out += char(c);
            else {
                char escape[8] = "_x00";
                escape[4] = "0123456789ABCDEF"[c >> 4];
                escape[5] = "0123456789ABCDEF"[c & 0xF];
                escape[6] = '_';
                out.append(escape, 7);
            }
        } else if (QChar::isHighSurrogate(c) && i + 1 < size && text[i + 1].isLowSurrogate()) {
            appendUtf8(out, QChar::surrogateToUcs4(c, text[++i].unicode()));
        } else if (QChar::isSurrogate(c) || c == 0xFFFE || c == 0xFFFF) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, c);
        }
    }
}

bool isXmlSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')
        || c == QLatin1Char('\r');
}

std::string styleAttribute(lxw_format *format)
{
    return " s=\"" + std::to_string(lxw_format_get_xf_index(format)) + '"';
}

} // namespace

WorkbookWriter::WorkbookWriter(const LineBuilder &builder, int sheetRows)
    : m_sheetRows(qMax(1, sheetRows))
{
    if (builder.fieldCount() > MostColumns)
        fail(QStringLiteral("The result has %1 columns; an Excel sheet holds at most %2. Nothing "
                            "was written: export it as CSV or JSON Lines instead.")
                 .arg(builder.fieldCount())
                 .arg(MostColumns));
    for (int i = 0; i < builder.fieldCount(); ++i) {
        m_titles.push_back(builder.field(i).title);
        m_titleWidths.push_back(int(qMin(m_titles.back().size(), qsizetype(WidestColumn))));
        m_columnNames.push_back(columnName(i));
    }
    m_widths = m_titleWidths;
    const QString folder = ResultStore::defaultSpillFolder();
    QDir().mkpath(folder);
    m_folder = QFile::encodeName(folder);
    m_file.setFileTemplate(folder + QStringLiteral("/stelvik-xlsx-XXXXXX"));
    m_parts.setFileTemplate(folder + QStringLiteral("/stelvik-xlsx-parts-XXXXXX"));
    if (!m_file.open() || !m_parts.open())
        fail(QStringLiteral("Cannot create the workbook's temporary file in %1: %2")
                 .arg(folder, m_file.isOpen() ? m_parts.errorString() : m_file.errorString()));
    m_parts.close(); // libxlsxwriter writes it by name when the workbook is closed
    m_stream = std::make_unique<SheetStream>(folder);
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = m_folder.data();
    m_book = workbook_new_opt(QFile::encodeName(m_parts.fileName()).constData(), &options);
    if (!m_book)
        fail(QStringLiteral("Cannot create the workbook in %1.").arg(folder));
    m_bold = workbook_add_format(m_book);
    format_set_bold(m_bold);
    // The index of a format is fixed once asked for, and the format is then in the workbook's
    // styles whether libxlsxwriter writes a cell with it or not.
    const auto numberFormat = [this](const char *form) {
        lxw_format *format = workbook_add_format(m_book);
        format_set_num_format(format, form);
        return styleAttribute(format);
    };
    m_date = numberFormat("yyyy-mm-dd");
    m_time = numberFormat("hh:mm:ss");
    m_dateTime = numberFormat("yyyy-mm-dd hh:mm:ss");
    m_dateTimeFraction = numberFormat("yyyy-mm-dd hh:mm:ss.000");
    m_xml.reserve(SheetStream::ChunkBytes + 64 * 1024);
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

void WorkbookWriter::endSheet()
{
    if (!m_xml.empty())
        m_stream->write(m_xml);
    m_stream->endSheet();
    m_sheets.push_back({ m_row - 1, m_widths });
    m_widths = m_titleWidths;
    m_row = 1;
}

void WorkbookWriter::beginCell(int column, const std::string &attributes)
{
    // Handed over between cells rather than rows, so that a row of many long texts is no burden.
    if (m_xml.size() >= SheetStream::ChunkBytes)
        m_stream->write(m_xml);
    m_xml += "<c r=\"";
    m_xml += m_columnNames[std::size_t(column)];
    m_xml += m_rowName;
    m_xml += '"';
    m_xml += attributes;
    m_xml += '>';
}

void WorkbookWriter::writeNumber(int column, double number, const std::string &style)
{
    beginCell(column, style);
    char digits[32];
    // A whole number as its digits, as Excel writes it; else the shortest text that reads back
    // as the same double, its exponent with a capital E as libxlsxwriter writes it.
    char *end = nullptr;
    if (number == std::trunc(number) && std::fabs(number) < 1e15) {
        end = std::to_chars(digits, digits + sizeof digits, qint64(number)).ptr;
    } else {
        end = std::to_chars(digits, digits + sizeof digits, number).ptr;
        std::replace(digits, end, 'e', 'E');
    }
    m_xml += "<v>";
    m_xml.append(digits, std::size_t(end - digits));
    m_xml += "</v></c>";
}

void WorkbookWriter::writeText(int column, QStringView text)
{
    if (text.size() > CellChars && text.toUcs4().size() > CellChars)
        fail(QStringLiteral("Row %1, column %2 holds %3 characters; an Excel cell holds at most "
                            "%4. Nothing was written: export it as CSV or JSON Lines instead.")
                 .arg(m_written + 1)
                 .arg(m_titles[std::size_t(column)])
                 .arg(text.size())
                 .arg(CellChars));
    static const std::string inlineText = " t=\"inlineStr\"";
    beginCell(column, inlineText);
    // Excel drops the spaces that begin or end a text unless told to keep them.
    if (!text.isEmpty() && (isXmlSpace(text.front()) || isXmlSpace(text.back())))
        m_xml += "<is><t xml:space=\"preserve\">";
    else
        m_xml += "<is><t>";
    appendEscaped(m_xml, text);
    m_xml += "</t></is></c>";
    int &width = m_widths[std::size_t(column)];
    width = qMax(width, int(qMin(text.size(), qsizetype(WidestColumn))));
}

void WorkbookWriter::writeRecord(LineBuilder &builder)
{
    if (m_row > m_sheetRows)
        endSheet();
    char number[16];
    m_rowName.assign(number, std::to_chars(number, number + sizeof number, m_row + 1).ptr);
    m_xml += "<row r=\"";
    m_xml += m_rowName;
    m_xml += "\">";
    static const std::string plain, boolean = " t=\"b\"";
    for (int i = 0; i < int(m_titles.size()); ++i) {
        m_value.resize(0);
        const CellKind kind = builder.appendCell(i, m_value);
        const QStringView text(m_value);
        int shown = int(text.size()); // the characters the cell shows
        double number = 0, dayPart = 0;
        qsizetype at = 0;
        bool fraction = false;
        int &width = m_widths[std::size_t(i)];
        switch (kind) {
        case CellKind::Null:
            continue; // an empty cell
        case CellKind::Integer:
        case CellKind::Decimal:
        case CellKind::Float:
            if (!exactNumber(text, number))
                break;
            writeNumber(i, number, plain);
            width = qMax(width, qMin(shown, WidestColumn));
            continue;
        case CellKind::Boolean:
            beginCell(i, boolean);
            m_xml += text == QLatin1String("True") ? "<v>1</v></c>" : "<v>0</v></c>";
            width = qMax(width, 5);
            continue;
        case CellKind::Date:
            if (!readDate(text, at, number) || at != text.size())
                break;
            writeNumber(i, number, m_date);
            width = qMax(width, 10);
            continue;
        case CellKind::Time:
            if (!readTime(text, at, dayPart, fraction) || at != text.size())
                break;
            writeNumber(i, dayPart, m_time);
            width = qMax(width, 8);
            continue;
        case CellKind::DateTime:
            // A timestamp at midnight may come as its date alone.
            if (!readDate(text, at, number)
                || (at != text.size()
                    && (!readSeparator(text, at, ' ') || !readTime(text, at, dayPart, fraction)))
                || at != text.size())
                break;
            writeNumber(i, number + dayPart, fraction ? m_dateTimeFraction : m_dateTime);
            width = qMax(width, fraction ? 23 : 19);
            continue;
        case CellKind::Binary:
        case CellKind::Text:
            break;
        }
        // Text, and every value Excel would change: more digits than it keeps, a date before
        // March 1900 or after 9999.
        writeText(i, text);
    }
    m_xml += "</row>";
    ++m_row;
    ++m_written;
}

// A sheet of libxlsxwriter's workbook: the header row, frozen, and the columns' widths; its rows
// are joined in by finish().
void WorkbookWriter::addSheetParts(const Sheet &sheet)
{
    lxw_worksheet *worksheet = workbook_add_worksheet(m_book, nullptr); // Sheet1, Sheet2, ...
    if (!worksheet)
        fail(QStringLiteral("Cannot add a sheet to the workbook."));
    for (std::size_t i = 0; i < m_titles.size(); ++i) {
        check(worksheet_write_string(
                  worksheet, 0, lxw_col_t(i), m_titles[i].toUtf8().constData(), m_bold),
            "header");
        check(worksheet_set_column(worksheet, lxw_col_t(i), lxw_col_t(i),
                  qMin(sheet.widths[i] + 2, WidestColumn), nullptr),
            "column width");
    }
    worksheet_freeze_panes(worksheet, 1, 0);
}

QIODevice &WorkbookWriter::finish()
{
    endSheet();
    const std::vector<DeflateRun> runs = m_stream->finish();
    for (const Sheet &sheet : m_sheets)
        addSheetParts(sheet);
    lxw_workbook *book = m_book;
    m_book = nullptr;
    const lxw_error error = workbook_close(book);
    if (error != LXW_NO_ERROR)
        fail(QStringLiteral("Cannot write the workbook: %1")
                 .arg(QString::fromUtf8(lxw_strerror(error))));
    if (!m_parts.open()) // reopens the same file
        fail(QStringLiteral("Cannot read the workbook's temporary file: %1")
                 .arg(m_parts.errorString()));
    // Each sheet's part gets its rows between libxlsxwriter's head of the sheet (up to its header
    // row) and its tail: the three compressed on their own, one entry of the zip.
    ZipWriter zip(m_file);
    const QByteArray sheetPrefix = "xl/worksheets/sheet";
    for (const ZipEntry &entry : readZipEntries(m_parts)) {
        bool isSheet = entry.name.startsWith(sheetPrefix) && entry.name.endsWith(".xml");
        const std::size_t sheet = isSheet
            ? entry.name.mid(sheetPrefix.size(), entry.name.size() - sheetPrefix.size() - 4)
                    .toUInt(&isSheet)
                - 1
            : 0;
        if (!isSheet || sheet >= m_sheets.size()) {
            zip.beginEntry(entry);
            zip.copy(m_parts, entry.dataOffset, entry.stored);
            continue;
        }
        if (!m_parts.seek(entry.dataOffset))
            fail(QStringLiteral("Cannot read the workbook's temporary file: %1")
                     .arg(m_parts.errorString()));
        const QByteArray stored = m_parts.read(entry.stored);
        const QByteArray xml = entry.method == 0 ? stored : inflateRun(stored, entry.size);
        const qsizetype split = xml.indexOf("</sheetData>");
        const qsizetype dimension = xml.indexOf("<dimension ref=\"");
        const qsizetype dimensionEnd = xml.indexOf('"', dimension + 16);
        if (split < 0 || dimension < 0 || dimensionEnd < 0 || dimensionEnd > split)
            fail(QStringLiteral("libxlsxwriter wrote a sheet this export cannot complete."));
        const qint64 rows = m_sheets[sheet].rows + 1;
        const QByteArray range = m_titles.empty() || (rows == 1 && m_titles.size() == 1)
            ? QByteArray("A1")
            : "A1:" + QByteArray::fromStdString(m_columnNames.back()) + QByteArray::number(rows);
        const QByteArray head =
            xml.left(dimension + 16) + range + xml.mid(dimensionEnd, split - dimensionEnd);
        const QByteArray tail = xml.mid(split);
        const QByteArray headRun = deflateRun(head, false);
        const QByteArray tailRun = deflateRun(tail, true);
        const DeflateRun &rowsRun = runs[sheet];
        ZipEntry joined = entry;
        joined.method = 8; // deflate
        joined.size = head.size() + rowsRun.size + tail.size();
        joined.stored = headRun.size() + rowsRun.stored + tailRun.size();
        joined.crc =
            joinCrc(joinCrc(crcOf(head), rowsRun.crc, rowsRun.size), crcOf(tail), tail.size());
        zip.beginEntry(joined);
        zip.write(headRun);
        zip.copy(m_stream->file(), rowsRun.offset, rowsRun.stored);
        zip.write(tailRun);
    }
    zip.finish();
    if (!m_file.flush() || !m_file.seek(0))
        fail(QStringLiteral("Cannot write the workbook: %1").arg(m_file.errorString()));
    return m_file;
}
