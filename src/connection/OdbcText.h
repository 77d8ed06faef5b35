#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>

#include <vector>

namespace OdbcText {

// A date or time format of one locale, read once into its parts so that each value is written
// straight into the caller's text. Numeric parts (d, dd, M, MM, yy, yyyy, h, hh, H, HH, m, mm, s,
// ss), names of months and days (MMM, MMMM, ddd, dddd, looked up in tables filled from QLocale),
// the AM/PM marker and literal text are written directly; a format with anything else
// (milliseconds, a time zone, digits other than 0-9) goes through QLocale::toString each time.
// Either way the text is the same as QLocale::toString gives.
class DateTimeFormat
{
public:
    DateTimeFormat(const QString &format, const QLocale &locale);

    void appendDate(QString &out, int year, int month, int day) const; // a valid date
    void appendTime(QString &out, int hour, int minute, int second) const; // a valid time
    bool isDirect() const { return m_direct; } // false: every value goes through QLocale

private:
    enum class Part : unsigned char {
        Literal,
        Day,
        Day2,
        Month,
        Month2,
        MonthName, // names: one per month, or one per day of the week (Monday first)
        DayName,
        Year2,
        Year4,
        Hour12,
        Hour12Two,
        Hour,
        HourTwo,
        Minute,
        MinuteTwo,
        Second,
        SecondTwo,
        AmPm
    };
    struct Token
    {
        Part part;
        QString text; // Literal: the text; AmPm: the morning marker
        QString pm; // AmPm: the afternoon marker
        std::vector<QString> names; // MonthName, DayName
    };
    bool compile();
    void append(QString &out, int year, int month, int day, int hour, int minute, int second) const;

    QString m_format;
    QLocale m_locale;
    std::vector<Token> m_tokens;
    bool m_direct = false;
    bool m_hasDate = false; // day, month or year fields
    bool m_hasTime = false; // hour, minute, second or AM/PM fields
};

// Text forms of fetched values, with the user's locale as the platform reported it when first
// asked (at start-up): short date, long time (without a time zone), the decimal separator.

// Exact decimal text as a driver returns it ("-12.345678", "1E+3") in the currency form: rounded
// half away from zero to at most four decimals, trailing zeros dropped, the locale's decimal
// separator, no grouping. Text that is not a number comes back unchanged.
QString decimalText(const char *text, qsizetype length);
void appendDecimalText(QString &out, const char *text, qsizetype length);
// General number form: up to 15 significant digits, the locale's decimal separator, no grouping;
// an exponent ("1E20", "1.5E-7") only where the plain form would need more digits.
QString floatText(double value);
void appendFloatText(QString &out, double value);
QString dateText(int year, int month, int day);
QString timeText(int hour, int minute, int second);
// Short date, a blank and long time; the date alone at exactly midnight.
QString dateTimeText(
    int year, int month, int day, int hour, int minute, int second, unsigned fraction);
// The same forms appended to existing text, without a text of their own per value.
void appendDateText(QString &out, int year, int month, int day);
void appendTimeText(QString &out, int hour, int minute, int second);
void appendDateTimeText(QString &out, int year, int month, int day, int hour, int minute,
    int second, unsigned fraction);

} // namespace OdbcText
