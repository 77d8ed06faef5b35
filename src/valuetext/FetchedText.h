#pragma once

#include <QString>

namespace ValueText {

// Text forms of fetched values, in the forms of the user's locale (ValueLocale.h): short date,
// long time (without a time zone), the decimal separator.

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

} // namespace ValueText
