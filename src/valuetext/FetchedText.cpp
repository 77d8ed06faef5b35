#include "valuetext/FetchedText.h"

#include "valuetext/ValueLocale.h"

#include <QDate>
#include <QTime>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

using ValueText::localeForms;

QString withDecimalPoint(QString text)
{
    if (!localeForms().decimalIsDot)
        text.replace(QLatin1Char('.'), localeForms().decimal);
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

namespace ValueText {

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
        out += localeForms().decimal;
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
    if (pointAt < 0 || localeForms().decimalIsDot) {
        out += QLatin1String(text, n);
    } else {
        out += QLatin1String(text, pointAt);
        out += localeForms().decimal;
        out += QLatin1String(text + pointAt + 1, n - pointAt - 1);
    }
}

QString floatText(double value)
{
    QString text;
    appendFloatText(text, value);
    return text;
}

void appendDateText(QString &out, int year, int month, int day)
{
    if (!QDate::isValid(year, month, day))
        out += QString::asprintf("%04d-%02d-%02d", year, month, day);
    else
        localeForms().shortDate.appendDate(out, year, month, day);
}

void appendTimeText(QString &out, int hour, int minute, int second)
{
    if (!QTime::isValid(hour, minute, second))
        out += QString::asprintf("%02d:%02d:%02d", hour, minute, second);
    else
        localeForms().longTime.appendTime(out, hour, minute, second);
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

} // namespace ValueText
