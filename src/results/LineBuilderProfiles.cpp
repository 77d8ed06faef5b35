#include "connection/QueryDataset.h"
#include "results/LineBuilder.h"
#include "results/LocaleDates.h"
#include "sql/SqlWords.h"
#include "valuetext/ValueLocale.h"

#include <QDate>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

// The lines of the export profiles. Numbers and timestamps are read as the store keeps them, so
// that they keep every digit and fraction the database gave; other values through the dataset's
// text forms (the user's locale). Everything is written in forms no locale touches: numbers
// with a decimal point, dates and times as ISO 8601, binary values as upper-case hex. Only the
// Excel profile writes the locale's decimal separator, as Excel reads numbers in it.

namespace {

using LocaleDates::appendIso;
using LocaleDates::DateTimeParts;
using LocaleDates::isDigit;
using LocaleDates::LocaleFormReader;
using LocaleDates::normalise;

// How a profile writes a value, from the field's type code.
enum class Kind { Integer, Decimal, Float, Boolean, Date, Time, DateTime, Binary, Text };

Kind kindOf(int type)
{
    switch (type) {
    case FieldTypes::SmallInt:
    case FieldTypes::Integer:
    case FieldTypes::Word:
    case FieldTypes::AutoInc:
    case FieldTypes::LargeInt:
        return Kind::Integer;
    case FieldTypes::BCD:
        return Kind::Decimal;
    case FieldTypes::Float:
    case FieldTypes::Currency:
        return Kind::Float;
    case FieldTypes::Boolean:
        return Kind::Boolean;
    case FieldTypes::Date:
        return Kind::Date;
    case FieldTypes::Time:
        return Kind::Time;
    case FieldTypes::DateTime:
        return Kind::DateTime;
    case FieldTypes::Bytes:
    case FieldTypes::VarBytes:
    case FieldTypes::Blob:
        return Kind::Binary;
    default:
        return Kind::Text;
    }
}

// A number's text as plain digits with an optional sign and decimal point.
bool isPlainNumber(QStringView text)
{
    qsizetype i = text.startsWith(QLatin1Char('-')) ? 1 : 0;
    bool digits = false, point = false;
    for (; i < text.size(); ++i) {
        if (isDigit(text.at(i)))
            digits = true;
        else if (text.at(i) == QLatin1Char('.') && !point)
            point = true;
        else
            return false;
    }
    return digits;
}

qsizetype digitCount(QStringView text)
{
    qsizetype count = 0;
    for (const QChar c : text)
        count += isDigit(c) ? 1 : 0;
    return count;
}

// Text that Excel would turn into a number and so change: digits with a leading zero (a code,
// "00123") or more digits than the 15 Excel keeps (an account number).
bool excelWouldChange(QStringView text)
{
    const QStringView digits =
        text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+')) ? text.mid(1) : text;
    if (digits.isEmpty())
        return false;
    for (const QChar c : digits)
        if (!isDigit(c))
            return false;
    return digits.size() > 15 || (digits.size() > 1 && digits.at(0) == QLatin1Char('0'));
}

// The value between two quote characters, each quote inside it doubled.
void appendQuoted(QString &line, QStringView value, QChar quote)
{
    line += quote;
    qsizetype start = 0;
    for (qsizetype at = value.indexOf(quote); at >= 0; at = value.indexOf(quote, start)) {
        line += value.mid(start, at + 1 - start);
        line += quote;
        start = at + 1;
    }
    line += value.mid(start);
    line += quote;
}

// RFC 4180: a field is quoted when it holds the separator, a quote or a line break, when a
// blank at either end would be lost by readers that trim, and when it is empty (so that the
// empty text differs from NULL, which is written as nothing).
bool csvNeedsQuotes(QStringView value, QChar separator)
{
    if (value.isEmpty() || value.front() == QLatin1Char(' ') || value.front() == QLatin1Char('\t')
        || value.back() == QLatin1Char(' ') || value.back() == QLatin1Char('\t'))
        return true;
    for (const QChar c : value)
        if (c == separator || c == QLatin1Char('"') || c == QLatin1Char('\r')
            || c == QLatin1Char('\n'))
            return true;
    return false;
}

void appendCsvField(QString &line, QStringView value, QChar separator)
{
    if (csvNeedsQuotes(value, separator))
        appendQuoted(line, value, QLatin1Char('"'));
    else
        line += value;
}

bool jsonNeedsEscapes(QStringView value)
{
    for (const QChar c : value)
        if (c.unicode() < 0x20 || c == QLatin1Char('"') || c == QLatin1Char('\\'))
            return true;
    return false;
}

// Text that Excel would run as a formula on opening the file, quoted or not (=, +, - and @ start
// one; a tab or carriage return in front hides it from some readers' own checks).
bool excelFormulaStart(QStringView text)
{
    if (text.isEmpty())
        return false;
    const QChar c = text.front();
    return c == QLatin1Char('=') || c == QLatin1Char('+') || c == QLatin1Char('-')
        || c == QLatin1Char('@') || c == QLatin1Char('\t') || c == QLatin1Char('\r');
}

// Excel keeps the result of the formula ="..." as text on opening a CSV file; a value that is
// only quoted is still converted to a number, or run when it looks like a formula. A string
// constant in a formula holds at most 255 characters, so longer texts are joined from pieces
// ("..."&"..."); beyond the 8,192 characters of a formula the text gets an apostrophe in front,
// which Excel shows but never runs.
void appendExcelText(QString &line, QStringView value, QChar separator)
{
    constexpr qsizetype piece = 255, formulaMost = 8192;
    QString formula;
    if (value.size() + (value.size() / piece + 1) * 3 + value.count(QLatin1Char('"'))
        > formulaMost) {
        formula = QLatin1Char('\'') + value.toString();
    } else {
        formula = QStringLiteral("=");
        for (qsizetype at = 0; at == 0 || at < value.size(); at += piece) {
            if (at > 0)
                formula += QLatin1Char('&');
            appendQuoted(formula, value.mid(at, piece), QLatin1Char('"'));
        }
    }
    appendCsvField(line, formula, separator);
}

void appendJsonString(QString &line, QStringView value)
{
    static const char hex[] = "0123456789abcdef";
    line += QLatin1Char('"');
    qsizetype start = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value.at(i).unicode();
        if (c >= 0x20 && c != u'"' && c != u'\\')
            continue;
        line += value.mid(start, i - start);
        start = i + 1;
        switch (c) {
        case u'"':
            line += QLatin1String("\\\"");
            break;
        case u'\\':
            line += QLatin1String("\\\\");
            break;
        case u'\n':
            line += QLatin1String("\\n");
            break;
        case u'\r':
            line += QLatin1String("\\r");
            break;
        case u'\t':
            line += QLatin1String("\\t");
            break;
        default:
            line += QLatin1String("\\u00");
            line += QLatin1Char(hex[c >> 4]);
            line += QLatin1Char(hex[c & 15]);
        }
    }
    line += value.mid(start);
    line += QLatin1Char('"');
}

void appendSqlString(QString &line, QStringView value)
{
    appendQuoted(line, value, QLatin1Char('\''));
}

} // namespace

struct LineBuilder::Profile
{
    Profile()
        : date(ValueText::localeForms().locale.dateFormat(QLocale::ShortFormat),
            ValueText::localeForms().locale)
        , time(timeForm(), ValueText::localeForms().locale)
    { }

    // The long time form the dataset writes: the locale's, without a time zone.
    static QString timeForm()
    {
        QString form;
        bool quoted = false;
        for (const QChar c : ValueText::localeForms().locale.timeFormat(QLocale::LongFormat)) {
            if (c == QLatin1Char('\''))
                quoted = !quoted;
            if (quoted || c != QLatin1Char('t'))
                form += c;
        }
        return form.trimmed();
    }

    // Appends the current record's value of a field to `out` in a form no locale touches, and
    // gives its kind in `kind`: Text where the value does not fit its type's form (a decimal
    // that is not a number, a float that is not finite). False, appending nothing, for NULL.
    bool read(const QueryDataset &query, int field, QString &out, Kind &kind)
    {
        kind = kinds[std::size_t(field)];
        const qsizetype at = out.size();
        if (kind == Kind::Float) {
            double number = 0;
            if (!query.fieldNumber(field, number))
                return false; // a float or currency field gives its number unless it is NULL
            if (!std::isfinite(number)) {
                kind = Kind::Text;
                out += std::isnan(number) ? QLatin1String("NaN")
                                          : QLatin1String(number < 0 ? "-Infinity" : "Infinity");
                return true;
            }
            char text[32];
            const auto end = std::to_chars(text, text + sizeof text, number).ptr;
            out += QLatin1String(text, end - text);
            return true;
        }
        if (kind == Kind::Decimal || kind == Kind::Date || kind == Kind::Time
            || kind == Kind::DateTime) {
            ValueText::StoredKind stored;
            const char *data = nullptr;
            std::size_t length = 0;
            if (!query.fieldStored(field, stored, data, length))
                return false;
            if (appendStored(out, stored, data, length))
                return true;
        }
        if (!query.appendFieldString(field, out))
            return false;
        if (kind == Kind::Decimal) {
            if (!decimalIsDot)
                for (qsizetype i = out.indexOf(decimal, at); i >= 0; i = out.indexOf(decimal, i))
                    out.replace(i, decimal.size(), QLatin1Char('.'));
            if (!isPlainNumber(QStringView(out).mid(at)))
                kind = Kind::Text;
        } else if (kind == Kind::Date || kind == Kind::Time || kind == Kind::DateTime) {
            toIso(out, at, kind);
        }
        return true;
    }

    // A stored exact number, date or time in full: the decimal's digits as the driver gave them,
    // dates with their four-digit year, the timestamp with its fraction of a second (no trailing
    // zeros, none when it is zero). False, appending nothing, for the kinds the text forms serve.
    static bool appendStored(
        QString &out, ValueText::StoredKind stored, const char *data, std::size_t length)
    {
        using ValueText::StoredKind;
        if (stored == StoredKind::Decimal) {
            QLatin1String text(data, qsizetype(length));
            const bool negative = text.startsWith(QLatin1Char('-'));
            QLatin1String digits =
                negative || text.startsWith(QLatin1Char('+')) ? text.mid(1) : text;
            if (digits.endsWith(QLatin1Char('.')))
                digits.chop(1);
            if (!isPlainNumber(QString(digits)))
                return false;
            if (negative)
                out += QLatin1Char('-');
            if (digits.startsWith(QLatin1Char('.'))) // ".5": a reader of JSON wants "0.5"
                out += QLatin1Char('0');
            out += digits;
            return true;
        }
        if (stored == StoredKind::Int64) {
            std::int64_t number = 0;
            std::memcpy(&number, data, sizeof number);
            char text[24];
            const auto end = std::to_chars(text, text + sizeof text, number).ptr;
            out += QLatin1String(text, end - text);
            return true;
        }
        if (stored == StoredKind::Date && length >= sizeof(ValueText::StoredDate)) {
            ValueText::StoredDate date;
            std::memcpy(&date, data, sizeof date);
            DateTimeParts parts;
            parts.year = date.year;
            parts.month = date.month;
            parts.day = date.day;
            appendIso(out, parts, true, false);
            return true;
        }
        if (stored == StoredKind::Time && length >= sizeof(ValueText::StoredTime)) {
            ValueText::StoredTime time;
            std::memcpy(&time, data, sizeof time);
            DateTimeParts parts;
            parts.hour = time.hour;
            parts.minute = time.minute;
            parts.second = time.second;
            appendIso(out, parts, false, true);
            return true;
        }
        if (stored != StoredKind::Timestamp || length < sizeof(ValueText::StoredTimestamp))
            return false;
        ValueText::StoredTimestamp stamp;
        std::memcpy(&stamp, data, sizeof stamp);
        DateTimeParts parts;
        parts.year = stamp.year;
        parts.month = stamp.month;
        parts.day = stamp.day;
        parts.hour = stamp.hour;
        parts.minute = stamp.minute;
        parts.second = stamp.second;
        appendIso(out, parts, true, true);
        if (stamp.fraction > 0 && stamp.fraction < 1000000000) {
            char digits[10];
            std::snprintf(digits, sizeof digits, "%09u", unsigned(stamp.fraction));
            int used = 9;
            while (digits[used - 1] == '0')
                --used;
            out += QLatin1Char('.');
            out += QLatin1String(digits, used);
        }
        return true;
    }

    // A date or time in the locale's forms, from `at` to the end of out, as ISO 8601:
    // 2001-12-31, 23:59:59, and the two joined by a blank. Left as text when it cannot be read.
    void toIso(QString &out, qsizetype at, Kind &kind)
    {
        const QStringView text = QStringView(out).mid(at);
        DateTimeParts parts;
        qsizetype pos = 0;
        bool ok = kind == Kind::Time ? time.read(text, pos, parts) : date.read(text, pos, parts);
        const bool withTime = kind == Kind::DateTime && pos < text.size();
        if (ok && withTime) // the time follows a blank; a date-time at midnight has none
            ok = text.at(pos++) == QLatin1Char(' ') && time.read(text, pos, parts);
        // A two-digit year has lost its century: the text is written as it is, never guessed.
        if (!ok || pos != text.size() || parts.twoDigitYear) {
            kind = Kind::Text;
            return;
        }
        normalise(parts);
        out.truncate(at);
        appendIso(out, parts, kind != Kind::Time, kind != Kind::Date);
    }

    // Replaces the value from `at` to the end of line by what `write` appends for it.
    template <typename Write>
    void rewrite(QString &line, qsizetype at, Write write)
    {
        value.resize(0); // keeps its room
        value += QStringView(line).mid(at);
        line.truncate(at);
        write(line, QStringView(value));
    }

    std::vector<Kind> kinds;
    std::vector<QString> keys; // JSON Lines: each field's key with its colon
    QString insertPrefix; // SQL INSERT: the statement up to its values
    QChar separator = QLatin1Char(',');
    QString decimal = ValueText::localeForms().decimal;
    bool decimalIsDot = ValueText::localeForms().decimalIsDot;
    LocaleFormReader date;
    LocaleFormReader time;
    QString value; // the value being written, its room kept from record to record
};

void LineBuilder::ProfileFree::operator()(Profile *profile) const noexcept
{
    delete profile;
}

std::unique_ptr<LineBuilder::Profile, LineBuilder::ProfileFree> LineBuilder::makeProfile(
    const QString &tableName) const
{
    std::unique_ptr<Profile, ProfileFree> profile(new Profile); // handed to the builder
    for (const FieldInfo &field : m_fields)
        profile->kinds.push_back(kindOf(field.type));
    // Excel splits at the locale's list separator, which is a semicolon where the decimal
    // separator is a comma.
    if (m_format == LineFormat::Excel && profile->decimal == QLatin1String(","))
        profile->separator = QLatin1Char(';');
    if (m_format == LineFormat::JsonLines) {
        // Repeated column names get a number, so that no value is lost to a reader keeping one
        // value per key.
        QStringList used;
        for (const FieldInfo &field : m_fields) {
            QString name = field.title;
            for (int n = 2; used.contains(name); ++n)
                name = field.title + QLatin1Char('_') + QString::number(n);
            used.append(name);
            QString key;
            appendJsonString(key, name);
            profile->keys.push_back(key + QLatin1Char(':'));
        }
    }
    if (m_format == LineFormat::SqlInsert) {
        if (tableName.trimmed().isEmpty())
            throw std::runtime_error("The INSERT statements need a table name.");
        QStringList columns;
        for (const FieldInfo &field : m_fields)
            columns.append(Sql::identifier(field.title));
        profile->insertPrefix =
            QStringLiteral("INSERT INTO %1 (%2) VALUES (")
                .arg(Sql::tableName(tableName), columns.join(QLatin1String(", ")));
    }
    return profile;
}

CellKind LineBuilder::appendCell(int field, QString &out)
{
    Kind kind;
    if (!m_profile->read(m_query, field, out, kind))
        return CellKind::Null;
    switch (kind) {
    case Kind::Integer:
        return CellKind::Integer;
    case Kind::Decimal:
        return CellKind::Decimal;
    case Kind::Float:
        return CellKind::Float;
    case Kind::Boolean:
        return CellKind::Boolean;
    case Kind::Date:
        return CellKind::Date;
    case Kind::Time:
        return CellKind::Time;
    case Kind::DateTime:
        return CellKind::DateTime;
    case Kind::Binary:
        return CellKind::Binary;
    case Kind::Text:
        break;
    }
    return CellKind::Text;
}

void LineBuilder::appendProfileHeader(QString &line) const
{
    if (m_format != LineFormat::Csv && m_format != LineFormat::Excel)
        return; // JSON Lines and SQL INSERT have no header line
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        if (i > 0)
            line += m_profile->separator;
        if (m_format == LineFormat::Excel && excelFormulaStart(m_fields[i].title))
            appendExcelText(line, m_fields[i].title, m_profile->separator);
        else
            appendCsvField(line, m_fields[i].title, m_profile->separator);
    }
}

// Each value is read straight into the line and changed there only where the format needs it.
void LineBuilder::appendProfileRecord(QString &line)
{
    Profile &p = *m_profile;
    const QChar separator = p.separator;
    if (m_format == LineFormat::JsonLines)
        line += QLatin1Char('{');
    else if (m_format == LineFormat::SqlInsert)
        line += p.insertPrefix;
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        if (i > 0 && m_format == LineFormat::JsonLines)
            line += QLatin1Char(',');
        else if (i > 0 && m_format == LineFormat::SqlInsert)
            line += QLatin1String(", ");
        else if (i > 0)
            line += separator;
        if (m_format == LineFormat::JsonLines)
            line += p.keys[i];
        Kind kind;
        const qsizetype at = line.size();
        if (!p.read(m_query, int(i), line, kind)) {
            if (m_format == LineFormat::JsonLines)
                line += QLatin1String("null");
            else if (m_format == LineFormat::SqlInsert)
                line += QLatin1String("NULL");
            continue; // CSV: NULL is the empty field
        }
        const QStringView value = QStringView(line).mid(at);
        const bool number = kind == Kind::Integer || kind == Kind::Decimal || kind == Kind::Float;
        switch (m_format) {
        case LineFormat::Csv:
            if (csvNeedsQuotes(value, separator))
                p.rewrite(line, at,
                    [](QString &out, QStringView v) { appendQuoted(out, v, QLatin1Char('"')); });
            break;
        case LineFormat::Excel:
            if ((number && kind != Kind::Float && digitCount(value) > 15)
                || ((kind == Kind::Text || kind == Kind::Binary)
                    && (excelWouldChange(value) || excelFormulaStart(value)))) {
                p.rewrite(line, at, [separator](QString &out, QStringView v) {
                    appendExcelText(out, v, separator);
                });
            } else if (number) {
                // A number holds no separator, quote or blank: it is never quoted.
                if (!p.decimalIsDot)
                    for (qsizetype dot = line.indexOf(QLatin1Char('.'), at); dot >= 0;
                         dot = line.indexOf(QLatin1Char('.'), dot))
                        line.replace(dot, 1, p.decimal);
            } else if (csvNeedsQuotes(value, separator)) {
                p.rewrite(line, at,
                    [](QString &out, QStringView v) { appendQuoted(out, v, QLatin1Char('"')); });
            }
            break;
        case LineFormat::JsonLines:
            if (number)
                break;
            if (kind == Kind::Boolean) {
                const bool yes = value == QLatin1String("True");
                line.truncate(at);
                line += yes ? QLatin1String("true") : QLatin1String("false");
            } else if (jsonNeedsEscapes(value)) {
                p.rewrite(line, at, [](QString &out, QStringView v) { appendJsonString(out, v); });
            } else {
                line.insert(at, QLatin1Char('"'));
                line += QLatin1Char('"');
            }
            break;
        default: // SqlInsert
            if (number)
                break;
            if (kind == Kind::Boolean) {
                const bool yes = value == QLatin1String("True");
                line.truncate(at);
                line += yes ? QLatin1String("TRUE") : QLatin1String("FALSE");
            } else if (value.contains(QLatin1Char('\''))) {
                p.rewrite(line, at, [](QString &out, QStringView v) { appendSqlString(out, v); });
            } else if (kind == Kind::Binary) {
                // Upper-case hex digits, as each database reads a binary value: PostgreSQL's bytea
                // would take X'…' as a bit string, DB2 wants it as a BLOB.
                const bool pg = m_dialect == SqlDialect::PostgreSQL;
                const bool db2 = m_dialect == SqlDialect::DB2;
                line.insert(at,
                    pg        ? QLatin1String("decode('")
                        : db2 ? QLatin1String("BLOB(X'")
                              : QLatin1String("X'"));
                line += pg ? QLatin1String("', 'hex')")
                    : db2  ? QLatin1String("')")
                           : QLatin1String("'");
            } else {
                line.insert(at,
                    kind == Kind::Date           ? QLatin1String("DATE '")
                        : kind == Kind::Time     ? QLatin1String("TIME '")
                        : kind == Kind::DateTime ? QLatin1String("TIMESTAMP '")
                                                 : QLatin1String("'"));
                line += QLatin1Char('\'');
            }
        }
    }
    if (m_format == LineFormat::JsonLines)
        line += QLatin1Char('}');
    else if (m_format == LineFormat::SqlInsert)
        line += QLatin1String(");");
}
