#include "results/LineBuilder.h"

#include "connection/QueryDataset.h"

LineBuilder::LineBuilder(
    const QueryDataset &query, LineFormat format, const QString &tableName, SqlDialect dialect)
    : m_query(query)
    , m_format(format)
    , m_dialect(dialect)
    , m_fields(std::size_t(query.FieldCount()))
{
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        m_fields[i].title = query.FieldTitle(int(i));
        m_fields[i].type = query.FieldType(int(i));
        m_fields[i].displayWidth = query.DisplayWidth(int(i));
    }
    if (format != LineFormat::CommaQuote && format != LineFormat::Report
        && format != LineFormat::RowCopy)
        m_profile = makeProfile(tableName);
}

LineBuilder::~LineBuilder() = default;

void LineBuilder::appendHeader(QString &line) const
{
    if (m_profile)
        return appendProfileHeader(line);
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        if (m_format == LineFormat::CommaQuote) {
            if (i > 0)
                line.append(QLatin1Char(','));
            line.append(QLatin1Char('"')).append(m_fields[i].title).append(QLatin1Char('"'));
        } else {
            if (i > 0)
                line.append(QLatin1String("  "));
            appendReportHeaderCell(line, m_fields[i]);
        }
    }
}

void LineBuilder::appendRecord(QString &line)
{
    if (m_profile)
        return appendProfileRecord(line);
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        const int field = int(i);
        if (m_format == LineFormat::CommaQuote) {
            // The value's text goes straight into the line: nothing of its own per value.
            line.append(i > 0 ? QLatin1String(",\"") : QLatin1String("\""));
            if (!m_query.appendFieldString(field, line))
                line.append(nullFieldText());
            line.append(QLatin1Char('"'));
            continue;
        }
        FieldInfo &info = m_fields[i];
        info.text.resize(0); // keeps its capacity for the next record
        // Money and float cells are formatted from the fetched number, not from its text.
        info.hasNumber = typeGroup(info.type) == TypeGroup::MoneyFloat
            && m_query.fieldNumber(field, info.number);
        info.isNull = !info.hasNumber && !m_query.appendFieldString(field, info.text);
        if (i > 0)
            line.append(QLatin1String("  "));
        if (m_format == LineFormat::Report)
            appendReportDataCell(line, info);
        else
            appendRowCopyCell(line, info);
    }
}

QString LineBuilder::header() const
{
    QString line;
    appendHeader(line);
    return line;
}

QString LineBuilder::record()
{
    QString line;
    appendRecord(line);
    return line;
}
