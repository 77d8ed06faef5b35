#include "results/ValueText.h"

#include "connection/QueryDataset.h"

#include <QLocale>

#include <cmath>
#include <stdexcept>

namespace {

const QString nullText = QStringLiteral("<Null>");

NumberSeparators &separators()
{
    // Taken from the user's regional settings once, as the program starts using them.
    static NumberSeparators current { QLocale::system().decimalPoint(),
        QLocale::system().groupSeparator() };
    return current;
}

void appendBlanks(QString &line, qsizetype count)
{
    if (count > 0)
        line.append(QString(count, QLatin1Char(' ')));
}

void appendPadLeft(QString &line, const QString &text, int width)
{
    appendBlanks(line, width - text.size());
    line.append(text);
}

void appendPadRight(QString &line, const QString &text, int width)
{
    line.append(text);
    appendBlanks(line, width - text.size());
}

// The fixed width of a date or time column in the report, 0 for the other groups.
int fixedReportWidth(TypeGroup group)
{
    switch (group) {
    case TypeGroup::Date:
        return 10;
    case TypeGroup::Time:
        return 13;
    case TypeGroup::DateTime:
        return 23;
    default:
        return 0;
    }
}

[[noreturn]] void notAFloat(const QString &text)
{
    throw std::runtime_error(
        QStringLiteral("'%1' is not a valid floating point value").arg(text).toStdString());
}

// Reads the text back as a number: the locale's decimal separator, a sign and an exponent; blanks
// around the number are allowed, nothing else.
double readFloat(const QString &text)
{
    const QString decimal = separators().decimal;
    const QString trimmed = text.trimmed();
    QByteArray ascii;
    ascii.reserve(trimmed.size());
    for (qsizetype i = 0; i < trimmed.size();) {
        if (!decimal.isEmpty() && QStringView(trimmed).mid(i).startsWith(decimal)) {
            ascii.append('.');
            i += decimal.size();
            continue;
        }
        const QChar c = trimmed.at(i);
        if (!(c.isDigit() && c.unicode() < 128) && c != u'+' && c != u'-' && c != u'e' && c != u'E')
            notAFloat(text);
        ascii.append(char(c.unicode()));
        ++i;
    }
    bool ok = false;
    const double value = ascii.toDouble(&ok);
    if (ascii.isEmpty() || !ok || !std::isfinite(value))
        notAFloat(text);
    return value;
}

void appendMoneyCell(QString &line, const FieldInfo &field)
{
    // A null is written like the nulls of the other columns rather than read as a number, which
    // would end the whole export or copy on valid data.
    appendPadLeft(line, field.isNull ? nullText : FormatMoney(field.text), field.displayWidth);
}

} // namespace

FieldInfo FieldInfo::of(const QueryDataset &query, int field)
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

TypeGroup typeGroup(int typeCode)
{
    switch (typeCode) {
    case FieldTypes::SmallInt:
    case FieldTypes::Integer:
    case FieldTypes::Word:
    case FieldTypes::BCD:
    case FieldTypes::AutoInc:
    case FieldTypes::LargeInt:
        return TypeGroup::WholeNumber;
    case FieldTypes::Float:
    case FieldTypes::Currency:
        return TypeGroup::MoneyFloat;
    case FieldTypes::Date:
        return TypeGroup::Date;
    case FieldTypes::Time:
        return TypeGroup::Time;
    case FieldTypes::DateTime:
        return TypeGroup::DateTime;
    default:
        return TypeGroup::Other;
    }
}

NumberSeparators numberSeparators()
{
    return separators();
}

void setNumberSeparators(const NumberSeparators &value)
{
    separators() = value;
}

QString FieldText(const FieldInfo &field)
{
    return field.isNull ? nullText : field.text;
}

QString FieldText(const QueryDataset &query, int field)
{
    return query.FieldIsNull(field) ? nullText : query.FieldString(field);
}

QString PadLeft(const QString &text, int width)
{
    QString result;
    appendPadLeft(result, text, width);
    return result;
}

QString PadRight(const QString &text, int width)
{
    QString result;
    appendPadRight(result, text, width);
    return result;
}

int MaxWidth(int a, int b)
{
    return b < a ? a : b;
}

int ReportColumnWidth(const FieldInfo &field)
{
    const int fixed = fixedReportWidth(typeGroup(field.type));
    return MaxWidth(fixed ? fixed : field.displayWidth, int(field.title.size()));
}

void appendReportHeaderCell(QString &line, const FieldInfo &field)
{
    const TypeGroup group = typeGroup(field.type);
    if (group == TypeGroup::WholeNumber || group == TypeGroup::MoneyFloat)
        appendPadLeft(line, field.title, ReportColumnWidth(field));
    else
        appendPadRight(line, field.title, ReportColumnWidth(field));
}

void appendReportDataCell(QString &line, const FieldInfo &field)
{
    switch (typeGroup(field.type)) {
    case TypeGroup::WholeNumber:
        appendPadLeft(line, FieldText(field), ReportColumnWidth(field));
        break;
    case TypeGroup::MoneyFloat:
        appendMoneyCell(line, field);
        break;
    default:
        appendPadRight(line, FieldText(field), ReportColumnWidth(field));
        break;
    }
}

void appendRowCopyCell(QString &line, const FieldInfo &field)
{
    // Unlike the report, the date and time groups take the display width here.
    const int width = MaxWidth(field.displayWidth, int(field.title.size()));
    switch (typeGroup(field.type)) {
    case TypeGroup::WholeNumber:
        appendPadLeft(line, FieldText(field), width);
        break;
    case TypeGroup::MoneyFloat:
        appendMoneyCell(line, field);
        break;
    default:
        appendPadRight(line, FieldText(field), width);
        break;
    }
}

QString ReportHeaderCell(const FieldInfo &field)
{
    QString cell;
    appendReportHeaderCell(cell, field);
    return cell;
}

QString ReportDataCell(const FieldInfo &field)
{
    QString cell;
    appendReportDataCell(cell, field);
    return cell;
}

QString RowCopyCell(const FieldInfo &field)
{
    QString cell;
    appendRowCopyCell(cell, field);
    return cell;
}

QString ReportHeaderCell(const QueryDataset &query, int field)
{
    return ReportHeaderCell(FieldInfo::of(query, field));
}

QString ReportDataCell(const QueryDataset &query, int field)
{
    return ReportDataCell(FieldInfo::of(query, field));
}

QString RowCopyCell(const QueryDataset &query, int field)
{
    return RowCopyCell(FieldInfo::of(query, field));
}

QString JoinCells(const QStringList &cells)
{
    return cells.join(QLatin1String("  "));
}

QString FormatMoney(const QString &text)
{
    const double value = readFloat(text);

    // Round in decimal on the 15 significant digits the value is shown with, half away from
    // zero, so that a shown 1.005 gives 1.01 and not the binary neighbour's 1.00.
    const QByteArray scientific = QByteArray::number(std::fabs(value), 'e', 14); // d.ddde+xx
    QByteArray digits = scientific.left(1) + scientific.mid(2, 14);
    int exponent = scientific.mid(scientific.indexOf('e') + 1).toInt();
    int kept = exponent + 1 + 2; // digits up to the second decimal
    if (kept < 0) {
        digits = "0";
        exponent = 0;
        kept = 0;
    } else if (kept < digits.size()) {
        const bool up = digits.at(kept) >= '5';
        digits.truncate(kept);
        if (up) {
            int i = kept - 1;
            while (i >= 0 && digits.at(i) == '9')
                digits[i--] = '0';
            if (i >= 0) {
                digits[i] = char(digits.at(i) + 1);
            } else {
                digits.prepend('1');
                ++exponent;
            }
        }
    }
    // digits now stand for 0.d1d2... times 10^(exponent + 1); lay them out as integer and fraction.
    const int integerCount = exponent + 1;
    QByteArray integerPart;
    QByteArray fraction;
    for (int i = 0; i < integerCount; ++i)
        integerPart.append(i >= 0 && i < digits.size() ? digits.at(i) : '0');
    for (int i = integerCount; i < integerCount + 2; ++i)
        fraction.append(i >= 0 && i < digits.size() ? digits.at(i) : '0');
    while (integerPart.size() > 1 && integerPart.startsWith('0'))
        integerPart.remove(0, 1);
    if (integerPart.isEmpty())
        integerPart = "0";

    const NumberSeparators &sep = separators();
    QString result;
    const bool zero = integerPart == "0" && fraction == "00";
    if (value < 0 && !zero)
        result.append(QLatin1Char('-'));
    for (qsizetype i = 0; i < integerPart.size(); ++i) {
        if (i > 0 && (integerPart.size() - i) % 3 == 0)
            result.append(sep.group);
        result.append(QLatin1Char(integerPart.at(i)));
    }
    result.append(sep.decimal);
    result.append(QLatin1String(fraction));
    return result;
}

QString CommaQuoteJoin(const QStringList &pieces)
{
    QString line;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            line.append(QLatin1Char(','));
        line.append(QLatin1Char('"'));
        line.append(pieces.at(i));
        line.append(QLatin1Char('"'));
    }
    return line;
}

QString CommaQuoteHeader(const QueryDataset &query)
{
    QStringList titles;
    for (int i = 0; i < query.FieldCount(); ++i)
        titles.append(query.FieldTitle(i));
    return CommaQuoteJoin(titles);
}

QString CommaQuoteLine(const QueryDataset &query)
{
    QStringList values;
    for (int i = 0; i < query.FieldCount(); ++i)
        values.append(FieldText(query, i));
    return CommaQuoteJoin(values);
}
