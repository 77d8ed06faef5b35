#pragma once

#include "results/LineBuilder.h"

#include <QLatin1String>
#include <QString>
#include <QStringConverter>

// The formats an export can write: the comma-quote and report layouts of the two export buttons
// (their defaults) and the profiles that other programs read: RFC 4180 CSV, CSV for Excel, JSON
// Lines, SQL INSERT statements and an Excel workbook (a file only: it is not text).
enum class ExportFormat { CommaQuote, Report, Csv, Excel, JsonLines, SqlInsert, Xlsx };

// What one export writes: the format and, for SQL INSERT, the table its statements name and the
// database they are written for.
struct ExportProfile
{
    ExportProfile(ExportFormat format = ExportFormat::CommaQuote, const QString &tableName = {},
        SqlDialect dialect = SqlDialect::Standard)
        : format(format)
        , tableName(tableName)
        , dialect(dialect)
    { }

    ExportFormat format;
    QString tableName;
    SqlDialect dialect;
    // The workbook's data rows per sheet: Excel's limit below the header row; tests lower it.
    int sheetRows = 1048575;
};

namespace ExportProfiles {

// The name the extract dialog lists the format under.
QString name(ExportFormat format);
LineFormat lineFormat(ExportFormat format);
// The two layouts of the buttons keep the system's 8-bit text; the profiles are UTF-8.
QStringConverter::Encoding encoding(ExportFormat format);
// Excel needs a byte-order mark to read the file as UTF-8; the other formats have none.
bool byteOrderMark(ExportFormat format);
QLatin1String lineEnd(ExportFormat format); // LF for JSON Lines, CR LF for the rest
bool hasHeader(ExportFormat format); // no header line for JSON Lines and SQL INSERT
// False for the workbook, which is no text and cannot go to the clipboard.
bool isText(ExportFormat format);

// The database an alias leads to, from the driver its data source names (no server is asked);
// Standard when the driver is none of those known.
SqlDialect dialectOfDataSource(const QString &dataSource);
QString dialectName(SqlDialect dialect);

} // namespace ExportProfiles
