#pragma once

#include "results/ValueText.h"

#include <QString>

#include <vector>

class QueryDataset;

// The line formats of a result's text outputs: the comma-quote lines, the report lines and the
// report-layout row copy (which differs from a report line only in the widths of date and time
// columns). The one place that builds them, for the exports and the copies alike.
enum class LineFormat { CommaQuote, Report, RowCopy };

// Builds header and record lines of one format over a dataset; the field descriptions are read
// once, so a walk allocates nothing per record. Reads the current record, never moves it. UI
// thread, like the dataset it reads.
class LineBuilder
{
public:
    LineBuilder(const QueryDataset &query, LineFormat format);

    // The line of field titles (comma-quote and report), appended without a line end.
    void appendHeader(QString &line) const;
    // The line of the current record, appended without a line end. Throws what the value rules
    // throw (a money or float text that is not a number).
    void appendRecord(QString &line);
    QString header() const;
    QString record();

private:
    const QueryDataset &m_query;
    LineFormat m_format;
    std::vector<FieldInfo> m_fields;
};
