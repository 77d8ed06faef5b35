#include "connection/OdbcText.h"

#include <QDate>
#include <QLocale>
#include <QTime>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

// Qt's long time forms may end in a time zone; a database time has none.
QString withoutTimeZone(const QString &format)
{
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        result += c;
    }
    return result.trimmed();
}

struct LocaleForms
{
    QLocale locale;
    OdbcText::DateTimeFormat shortDate;
    OdbcText::DateTimeFormat longTime;
    QString decimalPoint;
    bool pointIsDot;
};

const LocaleForms &forms()
{
    static const LocaleForms localeForms = [] {
        const QLocale system = QLocale::system();
        return LocaleForms { system,
            OdbcText::DateTimeFormat(system.dateFormat(QLocale::ShortFormat), system),
            OdbcText::DateTimeFormat(
                withoutTimeZone(system.timeFormat(QLocale::LongFormat)), system),
            system.decimalPoint(), system.decimalPoint() == QLatin1String(".") };
    }();
    return localeForms;
}

// A quoted part of a format, read as QLocale reads it: '' stands for a quote, inside a quoted
// part or outside one. i is at the opening quote and ends after the closing one.
QString readQuoted(const QString &format, qsizetype &i)
{
    ++i;
    if (i == format.size())
        return QString();
    if (format.at(i) == QLatin1Char('\'')) {
        ++i;
        return QStringLiteral("'");
    }
    QString result;
    while (i < format.size()) {
        if (format.at(i) == QLatin1Char('\'')) {
            if (i + 1 < format.size() && format.at(i + 1) == QLatin1Char('\'')) {
                result += QLatin1Char('\'');
                i += 2;
            } else {
                break;
            }
        } else {
            result += format.at(i++);
        }
    }
    if (i < format.size())
        ++i;
    return result;
}

// Any a or A outside quotes makes h a 12-hour clock, as in QLocale.
bool hasAmPm(const QString &format)
{
    qsizetype i = 0;
    while (i < format.size()) {
        if (format.at(i) == QLatin1Char('\'')) {
            readQuoted(format, i);
            continue;
        }
        if (format.at(i).toLower() == QLatin1Char('a'))
            return true;
        ++i;
    }
    return false;
}

// Collects the parts of one value and appends them to the text at once.
class TextBuffer
{
public:
    explicit TextBuffer(QString &out)
        : m_out(out)
    { }
    ~TextBuffer() { flush(); }
    TextBuffer(const TextBuffer &) = delete;
    TextBuffer &operator=(const TextBuffer &) = delete;

    void put(const QString &text)
    {
        const qsizetype size = text.size();
        if (size > Capacity - m_size) {
            flush();
            if (size > Capacity) {
                m_out += text;
                return;
            }
        }
        std::memcpy(m_data + m_size, text.constData(), std::size_t(size) * sizeof(char16_t));
        m_size += size;
    }

    // A number from 0 to 9999 with at least width digits.
    void putNumber(int value, int width)
    {
        if (Capacity - m_size < 4)
            flush();
        char16_t digits[4];
        int n = 0;
        do {
            digits[n++] = char16_t(u'0' + value % 10);
            value /= 10;
        } while (value > 0 && n < 4);
        while (n < width)
            digits[n++] = u'0';
        while (n > 0)
            m_data[m_size++] = digits[--n];
    }

    void flush()
    {
        if (m_size > 0)
            m_out.append(reinterpret_cast<const QChar *>(m_data), m_size);
        m_size = 0;
    }

private:
    static constexpr qsizetype Capacity = 64;
    QString &m_out;
    char16_t m_data[Capacity];
    qsizetype m_size = 0;
};

QString withDecimalPoint(QString text)
{
    if (!forms().pointIsDot)
        text.replace(QLatin1Char('.'), forms().decimalPoint);
    return text;
}

// The general form through QString::number, for the values the direct form leaves out.
QString floatTextThroughQt(double value)
{
    QString text = QString::number(value, 'g', 15);
    const qsizetype e = text.indexOf(QLatin1Char('e'));
    if (e >= 0) {
        // "1.5e+20" -> "1.5E20", "1e-07" -> "1E-7"
        QString exponent = text.mid(e + 1);
        const bool negative = exponent.startsWith(QLatin1Char('-'));
        exponent.remove(0,
            (exponent.startsWith(QLatin1Char('-')) || exponent.startsWith(QLatin1Char('+'))) ? 1
                                                                                             : 0);
        while (exponent.size() > 1 && exponent.startsWith(QLatin1Char('0')))
            exponent.remove(0, 1);
        text = text.left(e) + QLatin1Char('E') + (negative ? QStringLiteral("-") : QString())
            + exponent;
    }
    return withDecimalPoint(text);
}

// The 15 significant digits of a finite, non-zero value, correctly rounded, without trailing
// zeros, and the position of the decimal point (value = 0.digits * 10^point). Taken from the
// shortest exact form: when that has at most 15 digits it is the nearest 15-digit number; with
// 16 or 17 digits, rounding them gives the same result unless they end exactly in a half
// (5 or 50), where the caller goes the slow way. False in that case.
bool fifteenDigits(double value, char *digits, int &count, int &point)
{
    // At a power of two the gap below the value is half the gap above it, and the shortest form
    // need not be the nearest; those take the slow way too.
    // Below the normal range fewer digits tell values apart, so the shortest form says less
    // than 15 digits do.
    int binaryExponent = 0;
    if (std::fabs(std::frexp(value, &binaryExponent)) == 0.5
        || std::fabs(value) < std::numeric_limits<double>::min())
        return false;
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
    if (result.ec != std::errc())
        return false;
    const char *p = text;
    const char *end = result.ptr;
    if (*p == '-')
        ++p;
    count = 0;
    for (; p < end && *p != 'e'; ++p)
        if (*p != '.')
            digits[count++] = *p;
    if (p == end)
        return false;
    ++p;
    const bool negativeExponent = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+'))
        ++p;
    int exponent = 0;
    for (; p < end; ++p)
        exponent = exponent * 10 + (*p - '0');
    point = (negativeExponent ? -exponent : exponent) + 1;
    if (count > 15) {
        const char *tail = digits + 15;
        const int tailCount = count - 15;
        const bool half = tail[0] == '5' && (tailCount == 1 || tail[1] == '0');
        if (half)
            return false;
        const bool up = tail[0] > '5' || (tail[0] == '5' && tailCount > 1);
        count = 15;
        if (up) {
            int k = count - 1;
            while (k >= 0 && digits[k] == '9')
                digits[k--] = '0';
            if (k >= 0) {
                ++digits[k];
            } else {
                digits[0] = '1';
                count = 1;
                ++point;
            }
        }
    }
    while (count > 1 && digits[count - 1] == '0')
        --count;
    return true;
}

} // namespace

namespace OdbcText {

void appendDecimalText(QString &out, const char *text, qsizetype length)
{
    const auto original = [&] { out += QLatin1String(text, length); };
    // Split into sign, digits and a decimal exponent: value = digits * 10^exponent.
    qsizetype i = 0;
    while (i < length && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < length && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    std::string digits;
    long exponent = 0;
    bool point = false;
    bool any = false;
    for (; i < length; ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits += c;
            any = true;
            if (point)
                --exponent;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (i < length && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < length && (text[i] == '-' || text[i] == '+'))
            negativeExponent = text[i++] == '-';
        long value = 0;
        bool exponentDigits = false;
        for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
            value = std::min(value * 10 + (text[i] - '0'), 100000L);
            exponentDigits = true;
        }
        if (!exponentDigits)
            return original();
        exponent += negativeExponent ? -value : value;
    }
    while (i < length && text[i] == ' ')
        ++i;
    if (!any || i != length || exponent > 1000 || exponent < -100000)
        return original();

    // Scale to exactly four decimals: digits * 10^(exponent + 4), rounded half away from zero.
    long shift = exponent + 4;
    if (shift >= 0) {
        digits.append(std::string(shift, '0'));
    } else {
        const long drop = -shift;
        bool roundUp = false;
        if (drop > long(digits.size())) {
            digits.clear();
        } else {
            roundUp = digits[digits.size() - drop] >= '5';
            digits.resize(digits.size() - drop);
        }
        if (roundUp) {
            long k = long(digits.size()) - 1;
            while (k >= 0 && digits[k] == '9')
                digits[k--] = '0';
            if (k >= 0)
                ++digits[k];
            else
                digits.insert(digits.begin(), '1');
        }
    }
    // digits now holds the value in ten-thousandths.
    if (digits.size() < 5)
        digits.insert(0, 5 - digits.size(), '0');
    const std::size_t wholeEnd = digits.size() - 4;
    std::size_t wholeBegin = 0;
    while (wholeBegin + 1 < wholeEnd && digits[wholeBegin] == '0')
        ++wholeBegin;
    std::size_t fractionEnd = digits.size();
    while (fractionEnd > wholeEnd && digits[fractionEnd - 1] == '0')
        --fractionEnd;
    const bool zero =
        wholeEnd - wholeBegin == 1 && digits[wholeBegin] == '0' && fractionEnd == wholeEnd;
    if (negative && !zero)
        out += QLatin1Char('-');
    out += QLatin1String(digits.data() + wholeBegin, qsizetype(wholeEnd - wholeBegin));
    if (fractionEnd > wholeEnd) {
        out += forms().decimalPoint;
        out += QLatin1String(digits.data() + wholeEnd, qsizetype(fractionEnd - wholeEnd));
    }
}

QString decimalText(const char *text, qsizetype length)
{
    QString result;
    appendDecimalText(result, text, length);
    if (result.isNull())
        result = QString::fromLatin1("", 0);
    return result;
}

void appendFloatText(QString &out, double value)
{
    if (std::isnan(value)) {
        out += QLatin1String("NAN");
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? QLatin1String("-INF") : QLatin1String("INF");
        return;
    }
    if (value == 0) {
        out += QLatin1Char('0'); // also for -0
        return;
    }
    char digits[32];
    int count = 0;
    int point = 0;
    if (!fifteenDigits(value, digits, count, point)) {
        out += floatTextThroughQt(value);
        return;
    }
    // As printf's %g with 15 digits: plain form for exponents from -4 to 14, else an exponent.
    char text[64];
    int n = 0;
    if (value < 0)
        text[n++] = '-';
    const bool plain = point > -4 && point <= 15;
    qsizetype pointAt = -1; // index of the decimal point in text, if any
    if (plain) {
        if (point <= 0) {
            text[n++] = '0';
            pointAt = n;
            text[n++] = '.';
            for (int k = point; k < 0; ++k)
                text[n++] = '0';
            for (int k = 0; k < count; ++k)
                text[n++] = digits[k];
        } else {
            for (int k = 0; k < std::max(count, point); ++k) {
                if (k == point) {
                    pointAt = n;
                    text[n++] = '.';
                }
                text[n++] = k < count ? digits[k] : '0';
            }
        }
    } else {
        text[n++] = digits[0];
        if (count > 1) {
            pointAt = n;
            text[n++] = '.';
            for (int k = 1; k < count; ++k)
                text[n++] = digits[k];
        }
        text[n++] = 'E';
        const int exponent = point - 1;
        if (exponent < 0)
            text[n++] = '-';
        const auto written = std::to_chars(text + n, text + sizeof text, std::abs(exponent));
        n = int(written.ptr - text);
    }
    if (pointAt < 0 || forms().pointIsDot) {
        out += QLatin1String(text, n);
    } else {
        out += QLatin1String(text, pointAt);
        out += forms().decimalPoint;
        out += QLatin1String(text + pointAt + 1, n - pointAt - 1);
    }
}

QString floatText(double value)
{
    QString text;
    appendFloatText(text, value);
    return text;
}

DateTimeFormat::DateTimeFormat(const QString &format, const QLocale &locale)
    : m_format(format)
    , m_locale(locale)
{
    m_direct = compile();
    if (!m_direct)
        m_tokens.clear();
}

bool DateTimeFormat::compile()
{
    if (m_locale.zeroDigit() != QLatin1String("0"))
        return false;
    const bool twelveHours = hasAmPm(m_format);
    auto literal = [this](const QString &text) {
        if (text.isEmpty())
            return;
        if (!m_tokens.empty() && m_tokens.back().part == Part::Literal)
            m_tokens.back().text += text;
        else
            m_tokens.push_back({ Part::Literal, text, QString(), {} });
    };
    auto field = [this](Part part) { m_tokens.push_back({ part, QString(), QString(), {} }); };
    const qsizetype size = m_format.size();
    qsizetype i = 0;
    while (i < size) {
        const QChar c = m_format.at(i);
        if (c == QLatin1Char('\'')) {
            literal(readQuoted(m_format, i));
            continue;
        }
        qsizetype repeat = 1;
        while (i + repeat < size && m_format.at(i + repeat) == c)
            ++repeat;
        const char16_t u = c.unicode();
        if ((u == u'd' || u == u'M') && repeat > 2) {
            // Names, exactly as QLocale writes them alone: one per month or day of the week.
            repeat = std::min<qsizetype>(repeat, 4);
            const QString spelling = m_format.mid(i, repeat);
            Token token { u == u'M' ? Part::MonthName : Part::DayName, QString(), QString(), {} };
            if (u == u'M') {
                for (int month = 1; month <= 12; ++month)
                    token.names.push_back(m_locale.toString(QDate(2001, month, 1), spelling));
            } else {
                for (int day = 1; day <= 7; ++day) // 1 January 2001 was a Monday
                    token.names.push_back(m_locale.toString(QDate(2001, 1, day), spelling));
            }
            m_tokens.push_back(std::move(token));
            m_hasDate = true;
            i += repeat;
            continue;
        }
        switch (u) {
        case u'd':
        case u'M':
        case u'h':
        case u'H':
        case u'm':
        case u's': {
            if (repeat > 2)
                return false; // runs of time letters QLocale splits up
            const bool two = repeat == 2;
            switch (u) {
            case u'd':
                field(two ? Part::Day2 : Part::Day);
                m_hasDate = true;
                break;
            case u'M':
                field(two ? Part::Month2 : Part::Month);
                m_hasDate = true;
                break;
            case u'h':
                if (twelveHours)
                    field(two ? Part::Hour12Two : Part::Hour12);
                else
                    field(two ? Part::HourTwo : Part::Hour);
                m_hasTime = true;
                break;
            case u'H':
                field(two ? Part::HourTwo : Part::Hour);
                m_hasTime = true;
                break;
            case u'm':
                field(two ? Part::MinuteTwo : Part::Minute);
                m_hasTime = true;
                break;
            default:
                field(two ? Part::SecondTwo : Part::Second);
                m_hasTime = true;
                break;
            }
            break;
        }
        case u'y':
            if (repeat != 2 && repeat != 4)
                return false;
            field(repeat == 2 ? Part::Year2 : Part::Year4);
            m_hasDate = true;
            break;
        case u'a':
        case u'A': {
            repeat = 1;
            if (i + 1 < size && m_format.at(i + 1).toLower() == QLatin1Char('p')) {
                if (m_format.at(i + 1).isUpper() != c.isUpper())
                    return false; // mixed case: leave it to QLocale
                repeat = 2;
            }
            // The markers exactly as QLocale writes them for this spelling.
            const QString marker = m_format.mid(i, repeat);
            m_tokens.push_back({ Part::AmPm, m_locale.toString(QTime(0, 0), marker),
                m_locale.toString(QTime(12, 0), marker), {} });
            m_hasTime = true;
            break;
        }
        default:
            if ((u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z'))
                return false; // a field not written directly (milliseconds, time zone, ...)
            literal(QString(repeat, c));
            break;
        }
        i += repeat;
    }
    return true;
}

void DateTimeFormat::append(
    QString &out, int year, int month, int day, int hour, int minute, int second) const
{
    TextBuffer buffer(out);
    for (const Token &token : m_tokens) {
        switch (token.part) {
        case Part::Literal:
            buffer.put(token.text);
            break;
        case Part::Day:
            buffer.putNumber(day, 1);
            break;
        case Part::Day2:
            buffer.putNumber(day, 2);
            break;
        case Part::Month:
            buffer.putNumber(month, 1);
            break;
        case Part::Month2:
            buffer.putNumber(month, 2);
            break;
        case Part::MonthName:
            buffer.put(token.names[std::size_t(month - 1)]);
            break;
        case Part::DayName:
            buffer.put(token.names[std::size_t(QDate(year, month, day).dayOfWeek() - 1)]);
            break;
        case Part::Year2:
            buffer.putNumber(year % 100, 2);
            break;
        case Part::Year4:
            buffer.putNumber(year, 4);
            break;
        case Part::Hour12:
        case Part::Hour12Two: {
            const int h = hour % 12 == 0 ? 12 : hour % 12;
            buffer.putNumber(h, token.part == Part::Hour12Two ? 2 : 1);
            break;
        }
        case Part::Hour:
            buffer.putNumber(hour, 1);
            break;
        case Part::HourTwo:
            buffer.putNumber(hour, 2);
            break;
        case Part::Minute:
            buffer.putNumber(minute, 1);
            break;
        case Part::MinuteTwo:
            buffer.putNumber(minute, 2);
            break;
        case Part::Second:
            buffer.putNumber(second, 1);
            break;
        case Part::SecondTwo:
            buffer.putNumber(second, 2);
            break;
        case Part::AmPm:
            buffer.put(hour < 12 ? token.text : token.pm);
            break;
        }
    }
}

void DateTimeFormat::appendDate(QString &out, int year, int month, int day) const
{
    if (m_direct && !m_hasTime && year >= 1 && year <= 9999)
        append(out, year, month, day, 0, 0, 0);
    else
        out += m_locale.toString(QDate(year, month, day), m_format);
}

void DateTimeFormat::appendTime(QString &out, int hour, int minute, int second) const
{
    if (m_direct && !m_hasDate)
        append(out, 2000, 1, 1, hour, minute, second);
    else
        out += m_locale.toString(QTime(hour, minute, second), m_format);
}

void appendDateText(QString &out, int year, int month, int day)
{
    if (!QDate::isValid(year, month, day))
        out += QString::asprintf("%04d-%02d-%02d", year, month, day);
    else
        forms().shortDate.appendDate(out, year, month, day);
}

void appendTimeText(QString &out, int hour, int minute, int second)
{
    if (!QTime::isValid(hour, minute, second))
        out += QString::asprintf("%02d:%02d:%02d", hour, minute, second);
    else
        forms().longTime.appendTime(out, hour, minute, second);
}

void appendDateTimeText(
    QString &out, int year, int month, int day, int hour, int minute, int second, unsigned fraction)
{
    appendDateText(out, year, month, day);
    if (hour == 0 && minute == 0 && second == 0 && fraction == 0)
        return;
    out += QLatin1Char(' ');
    appendTimeText(out, hour, minute, second);
}

QString dateText(int year, int month, int day)
{
    QString text;
    appendDateText(text, year, month, day);
    return text;
}

QString timeText(int hour, int minute, int second)
{
    QString text;
    appendTimeText(text, hour, minute, second);
    return text;
}

QString dateTimeText(
    int year, int month, int day, int hour, int minute, int second, unsigned fraction)
{
    QString text;
    text.reserve(32);
    appendDateTimeText(text, year, month, day, hour, minute, second, fraction);
    return text;
}

} // namespace OdbcText
