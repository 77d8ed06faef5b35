#pragma once

#include <QLocale>
#include <QString>

#include <vector>

namespace ValueText {

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

} // namespace ValueText
