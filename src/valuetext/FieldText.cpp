#include "valuetext/FieldText.h"

#include "valuetext/FetchedText.h"
#include "valuetext/ValueLocale.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace {

void appendBlanks(QString &line, qsizetype count)
{
    if (count > 0)
        line.resize(line.size() + count, QLatin1Char(' '));
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
// around the number are allowed, nothing else. Locale-independent parsing after the separator
// is mapped, so the process's C locale does not matter.
double readFloat(const QString &text)
{
    const QString &decimal = ValueText::localeForms().decimal;
    const QStringView trimmed = QStringView(text).trimmed();
    char buffer[128];
    qsizetype length = 0;
    for (qsizetype i = 0; i < trimmed.size();) {
        if (length >= qsizetype(sizeof buffer))
            notAFloat(text);
        if (!decimal.isEmpty() && trimmed.mid(i).startsWith(decimal)) {
            buffer[length++] = '.';
            i += decimal.size();
            continue;
        }
        const char16_t c = trimmed.at(i).unicode();
        if (!((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'e' || c == u'E'))
            notAFloat(text);
        buffer[length++] = char(c);
        ++i;
    }
    // from_chars takes no leading '+'.
    const char *begin = buffer;
    if (length > 1 && buffer[0] == '+' && buffer[1] != '-' && buffer[1] != '+')
        ++begin;
    double value = 0;
    const auto [end, error] = std::from_chars(begin, buffer + length, value);
    if (length == 0 || error != std::errc() || end != buffer + length || !std::isfinite(value))
        notAFloat(text);
    return value;
}

void appendMoneyCell(QString &line, const FieldInfo &field)
{
    // A null is written like the nulls of the other columns rather than read as a number, which
    // would end the whole export or copy on valid data.
    const QString text = field.isNull ? nullFieldText()
        : field.hasNumber             ? FormatMoney(field.number)
                                      : FormatMoney(field.text);
    appendPadLeft(line, text, field.displayWidth);
}

} // namespace

const QString &nullFieldText()
{
    static const QString text = QStringLiteral("<Null>");
    return text;
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

QString FieldText(const FieldInfo &field)
{
    return field.isNull ? nullFieldText() : field.text;
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

QString JoinCells(const QStringList &cells)
{
    return cells.join(QLatin1String("  "));
}

namespace {

// True when the value lies exactly halfway between two numbers of 15 significant digits: its
// shortest exact form has a 16th digit 5 and nothing after it (a 17th digit 0 at most).
bool halfwayAtFifteenDigits(double value)
{
    char text[32];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
    char digits[20];
    int count = 0;
    for (const char *p = text; p < result.ptr && *p != 'e' && count < 20; ++p)
        if (*p >= '0' && *p <= '9')
            digits[count++] = *p;
    return count > 15 && digits[15] == '5' && (count == 16 || digits[16] == '0');
}

QString moneyText(double value);

} // namespace

QString FormatMoney(const QString &text)
{
    return moneyText(readFloat(text));
}

QString FormatMoney(double value)
{
    // The text form rounds to 15 significant digits, and so does the formatting below; only a
    // value exactly halfway may round differently in the two, and goes through its text, as do
    // the values whose 15 digits would read back as infinite.
    if (!std::isfinite(value) || std::fabs(value) >= 1e308 || halfwayAtFifteenDigits(value))
        return FormatMoney(ValueText::floatText(value));
    return moneyText(value);
}

namespace {

QString moneyText(double value)
{

    // Round in decimal on the 15 significant digits the value is shown with, half away from
    // zero, so that a shown 1.005 gives 1.01 and not the binary neighbour's 1.00.
    char scientific[32]; // d.dddddddddddddde+xxx
    const auto converted = std::to_chars(scientific, scientific + sizeof scientific,
        std::fabs(value), std::chars_format::scientific, 14);
    const char *e = std::find(scientific, converted.ptr, 'e');
    int exponent = 0;
    std::from_chars(e + 1 + (e[1] == '+'), converted.ptr, exponent);

    // The 15 digits behind a spare leading 0 that takes a carry; from here on `exponent` is the
    // index of the units place in digits[] (negative indexes and those past `count` read as 0).
    char digits[16];
    int count = 0;
    digits[count++] = '0';
    digits[count++] = scientific[0];
    for (int i = 2; i < 16; ++i)
        digits[count++] = scientific[i];
    ++exponent;

    const int kept = exponent + 1 + 2; // places up to the second decimal
    if (kept <= 0) {
        count = 0;
    } else if (kept < count) {
        const bool up = digits[kept] >= '5';
        count = kept;
        for (int i = count - 1; up && i >= 0; --i) {
            if (digits[i] == '9') {
                digits[i] = '0';
            } else {
                ++digits[i];
                break;
            }
        }
    }
    auto digitAt = [&](int place) { return place >= 0 && place < count ? digits[place] : '0'; };

    // Integer places up to exponent (a single implicit 0 when there are none), without leading
    // zeros; then two decimals.
    int first = std::min(0, exponent);
    while (first < exponent && digitAt(first) == '0')
        ++first;
    const int integerDigits = exponent + 1 - first;
    const char fraction[2] = { digitAt(exponent + 1), digitAt(exponent + 2) };
    bool zero = fraction[0] == '0' && fraction[1] == '0';
    for (int place = first; zero && place <= exponent; ++place)
        zero = digitAt(place) == '0';

    const ValueText::LocaleForms &sep = ValueText::localeForms();
    QString result;
    result.reserve(integerDigits + integerDigits / 3 * sep.group.size() + 4);
    if (value < 0 && !zero)
        result.append(QLatin1Char('-'));
    for (int place = first; place <= exponent; ++place) {
        const int left = exponent - place + 1; // integer digits from here to the separator
        if (place > first && left % 3 == 0)
            result.append(sep.group);
        result.append(QLatin1Char(digitAt(place)));
    }
    result.append(sep.decimal);
    result.append(QLatin1Char(fraction[0]));
    result.append(QLatin1Char(fraction[1]));
    return result;
}

} // namespace

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
