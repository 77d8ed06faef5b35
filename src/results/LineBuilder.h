#pragma once

#include "results/ValueText.h"

#include <QString>

#include <memory>
#include <vector>

class QueryDataset;

// The line formats of a result's text outputs: the comma-quote lines, the report lines and the
// report-layout row copy (which differs from a report line only in the widths of date and time
// columns), and the lines of the export profiles (RFC 4180 CSV, CSV for Excel, JSON Lines, SQL
// INSERT), and the cells of a workbook, which have no line: each value is read with appendCell.
// The one place that builds them, for the exports and the copies alike.
enum class LineFormat { CommaQuote, Report, RowCopy, Csv, Excel, JsonLines, SqlInsert, Cells };

// How a value read by appendCell is meant: Text also where a value does not fit its type's form.
enum class CellKind { Null, Integer, Decimal, Float, Boolean, Date, Time, DateTime, Binary, Text };

// The database SQL INSERT statements are written for: each reads binary literals its own way.
enum class SqlDialect { Standard, PostgreSQL, DB2, SQLite };

// Builds header and record lines of one format over a dataset; the field descriptions are read
// once, so a walk allocates nothing per record. Reads the current record, never moves it. UI
// thread, like the dataset it reads.
class LineBuilder
{
public:
    // tableName: the table that SQL INSERT statements name, as the user typed it; dialect: the
    // database they are written for.
    LineBuilder(const QueryDataset &query, LineFormat format, const QString &tableName = {},
        SqlDialect dialect = SqlDialect::Standard);
    ~LineBuilder();

    // The line of field titles (comma-quote and report), appended without a line end.
    void appendHeader(QString &line) const;
    // The line of the current record, appended without a line end. Throws what the value rules
    // throw (a money or float text that is not a number).
    void appendRecord(QString &line);
    QString header() const;
    QString record();
    // The profiles' forms of the current record's value of a field, appended to `out`: numbers
    // with a decimal point and every digit the database gave, dates and times as ISO 8601,
    // booleans as True or False. Null appends nothing. Not for the comma-quote and report formats.
    CellKind appendCell(int field, QString &out);
    int fieldCount() const { return int(m_fields.size()); }
    const FieldInfo &field(int i) const { return m_fields[std::size_t(i)]; }

private:
    struct Profile; // what the profile lines need, read once (LineBuilderProfiles.cpp)
    struct ProfileFree
    {
        void operator()(Profile *profile) const noexcept;
    };
    std::unique_ptr<Profile, ProfileFree> makeProfile(const QString &tableName) const;
    void appendProfileHeader(QString &line) const;
    void appendProfileRecord(QString &line);

    const QueryDataset &m_query;
    LineFormat m_format;
    SqlDialect m_dialect;
    std::vector<FieldInfo> m_fields;
    std::unique_ptr<Profile, ProfileFree> m_profile; // null for the comma-quote and report formats
};
