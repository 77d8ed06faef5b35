#pragma once

#include <QByteArray>
#include <QString>

// Text forms of fetched values, with the user's locale as the platform reported it when first
// asked (at start-up): short date, long time (without a time zone), the decimal separator.
namespace OdbcText {

// Exact decimal text as a driver returns it ("-12.345678", "1E+3") in the currency form: rounded
// half away from zero to at most four decimals, trailing zeros dropped, the locale's decimal
// separator, no grouping. Text that is not a number comes back unchanged.
QString decimalText(const char *text, qsizetype length);
// General number form: up to 15 significant digits, the locale's decimal separator, no grouping;
// an exponent ("1E20", "1.5E-7") only where the plain form would need more digits.
QString floatText(double value);
QString dateText(int year, int month, int day);
QString timeText(int hour, int minute, int second);
// Short date, a blank and long time; the date alone at exactly midnight.
QString dateTimeText(
    int year, int month, int day, int hour, int minute, int second, unsigned fraction);

} // namespace OdbcText
