#include "results/ValueText.h"

#include "connection/QueryDataset.h"
#include "results/LineBuilder.h"

FieldInfo fieldInfo(const QueryDataset &query, int field)
{
    FieldInfo info;
    info.title = query.FieldTitle(field);
    info.type = query.FieldType(field);
    info.displayWidth = query.DisplayWidth(field);
    info.isNull = query.FieldIsNull(field);
    if (!info.isNull)
        info.text = query.FieldString(field);
    return info;
}

QString FieldText(const QueryDataset &query, int field)
{
    return query.FieldIsNull(field) ? nullFieldText() : query.FieldString(field);
}

QString ReportHeaderCell(const QueryDataset &query, int field)
{
    return ReportHeaderCell(fieldInfo(query, field));
}

QString ReportDataCell(const QueryDataset &query, int field)
{
    return ReportDataCell(fieldInfo(query, field));
}

QString RowCopyCell(const QueryDataset &query, int field)
{
    return RowCopyCell(fieldInfo(query, field));
}

QString CommaQuoteHeader(const QueryDataset &query)
{
    return LineBuilder(query, LineFormat::CommaQuote).header();
}

QString CommaQuoteLine(const QueryDataset &query)
{
    return LineBuilder(query, LineFormat::CommaQuote).record();
}
