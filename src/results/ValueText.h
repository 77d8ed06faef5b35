#pragma once

#include "valuetext/FieldText.h"

#include <QString>

class QueryDataset;

// The value-text rules (valuetext/FieldText.h) over the current record of a dataset, which they
// read and never move. UI thread, like the dataset they read.

// What the rules read of one field of the current record.
FieldInfo fieldInfo(const QueryDataset &query, int field);

QString FieldText(const QueryDataset &query, int field); // "<Null>" for a null value
QString ReportHeaderCell(const QueryDataset &query, int field);
QString ReportDataCell(const QueryDataset &query, int field);
QString RowCopyCell(const QueryDataset &query, int field);

QString CommaQuoteHeader(const QueryDataset &query); // the titles
QString CommaQuoteLine(const QueryDataset &query); // FieldText of the current record
