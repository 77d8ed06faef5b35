#include "connection/OdbcText.h"

#include <QDate>
#include <QLocale>
#include <QTime>

#include <cmath>
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
    QString shortDate;
    QString longTime;
    QString decimalPoint;
};

const LocaleForms &forms()
{
    static const LocaleForms localeForms = [] {
        const QLocale system = QLocale::system();
        return LocaleForms { system, system.dateFormat(QLocale::ShortFormat),
            withoutTimeZone(system.timeFormat(QLocale::LongFormat)), system.decimalPoint() };
    }();
    return localeForms;
}

QString withDecimalPoint(QString text)
{
    const QString &point = forms().decimalPoint;
    if (point != QLatin1String("."))
        text.replace(QLatin1Char('.'), point);
    return text;
}

} // namespace

namespace OdbcText {

QString decimalText(const char *text, qsizetype length)
{
    const QString original = QString::fromLatin1(text, length);
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
            return original;
        exponent += negativeExponent ? -value : value;
    }
    while (i < length && text[i] == ' ')
        ++i;
    if (!any || i != length || exponent > 1000 || exponent < -100000)
        return original;

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
    std::string whole = digits.substr(0, digits.size() - 4);
    std::string fraction = digits.substr(digits.size() - 4);
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    const bool zero = whole == "0" && fraction.empty();
    QString result =
        QString::fromLatin1((negative && !zero) ? "-" : "") + QString::fromStdString(whole);
    if (!fraction.empty())
        result += forms().decimalPoint + QString::fromStdString(fraction);
    return result;
}

QString floatText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    if (value == 0)
        return QStringLiteral("0"); // also for -0
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

QString dateText(int year, int month, int day)
{
    const QDate date(year, month, day);
    if (!date.isValid())
        return QString::asprintf("%04d-%02d-%02d", year, month, day);
    return forms().locale.toString(date, forms().shortDate);
}

QString timeText(int hour, int minute, int second)
{
    const QTime time(hour, minute, second);
    if (!time.isValid())
        return QString::asprintf("%02d:%02d:%02d", hour, minute, second);
    return forms().locale.toString(time, forms().longTime);
}

QString dateTimeText(
    int year, int month, int day, int hour, int minute, int second, unsigned fraction)
{
    const QString date = dateText(year, month, day);
    if (hour == 0 && minute == 0 && second == 0 && fraction == 0)
        return date;
    return date + QLatin1Char(' ') + timeText(hour, minute, second);
}

} // namespace OdbcText
