#include "results/ExportProfile.h"

#include <odbcinst.h>

namespace ExportProfiles {

QString name(ExportFormat format)
{
    switch (format) {
    case ExportFormat::CommaQuote:
        return QStringLiteral("Comma-Quote Delimited");
    case ExportFormat::Report:
        return QStringLiteral("Report Format");
    case ExportFormat::Csv:
        return QStringLiteral("CSV (RFC 4180)");
    case ExportFormat::Excel:
        return QStringLiteral("CSV for Excel");
    case ExportFormat::JsonLines:
        return QStringLiteral("JSON Lines");
    case ExportFormat::SqlInsert:
        return QStringLiteral("SQL INSERT statements");
    case ExportFormat::Xlsx:
        return QStringLiteral("Excel workbook (.xlsx)");
    }
    return QString();
}

LineFormat lineFormat(ExportFormat format)
{
    switch (format) {
    case ExportFormat::CommaQuote:
        return LineFormat::CommaQuote;
    case ExportFormat::Report:
        return LineFormat::Report;
    case ExportFormat::Csv:
        return LineFormat::Csv;
    case ExportFormat::Excel:
        return LineFormat::Excel;
    case ExportFormat::JsonLines:
        return LineFormat::JsonLines;
    case ExportFormat::SqlInsert:
        return LineFormat::SqlInsert;
    case ExportFormat::Xlsx:
        return LineFormat::Cells;
    }
    return LineFormat::CommaQuote;
}

QStringConverter::Encoding encoding(ExportFormat format)
{
    return format == ExportFormat::CommaQuote || format == ExportFormat::Report
        ? QStringConverter::System
        : QStringConverter::Utf8;
}

bool byteOrderMark(ExportFormat format)
{
    return format == ExportFormat::Excel;
}

QLatin1String lineEnd(ExportFormat format)
{
    return format == ExportFormat::JsonLines ? QLatin1String("\n") : QLatin1String("\r\n");
}

bool hasHeader(ExportFormat format)
{
    // The workbook writes its header row itself, on every sheet.
    return format != ExportFormat::JsonLines && format != ExportFormat::SqlInsert
        && format != ExportFormat::Xlsx;
}

bool isText(ExportFormat format)
{
    return format != ExportFormat::Xlsx;
}

SqlDialect dialectOfDataSource(const QString &dataSource)
{
    char driver[512] = {};
    if (!dataSource.isEmpty())
        SQLGetPrivateProfileString(
            dataSource.toLocal8Bit().constData(), "Driver", "", driver, sizeof driver, "odbc.ini");
    const QString name = QString::fromLocal8Bit(driver).toLower();
    if (name.contains(QLatin1String("postgres")) || name.contains(QLatin1String("psql")))
        return SqlDialect::PostgreSQL;
    if (name.contains(QLatin1String("db2")))
        return SqlDialect::DB2;
    if (name.contains(QLatin1String("sqlite")))
        return SqlDialect::SQLite;
    return SqlDialect::Standard;
}

QString dialectName(SqlDialect dialect)
{
    switch (dialect) {
    case SqlDialect::PostgreSQL:
        return QStringLiteral("PostgreSQL");
    case SqlDialect::DB2:
        return QStringLiteral("DB2");
    case SqlDialect::SQLite:
        return QStringLiteral("SQLite");
    case SqlDialect::Standard:
        break;
    }
    return QStringLiteral("standard SQL");
}

} // namespace ExportProfiles
