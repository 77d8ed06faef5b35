#pragma once

#include "valuetext/DateTimeFormat.h"

#include <QLocale>
#include <QString>

namespace ValueText {

// The forms of one locale that values are written and read back in: the short date, the long
// time (without a time zone), the decimal and group separators.
struct LocaleForms
{
    explicit LocaleForms(const QLocale &locale);

    QLocale locale;
    DateTimeFormat shortDate;
    DateTimeFormat longTime;
    QString decimal;
    QString group;
    bool decimalIsDot; // no separator to swap in when writing a number
};

// The one locale cache of the value texts: the user's locale as the platform reported it when
// first asked (at start-up), kept for the life of the process so that the grid, the exports and
// the copies write every value alike. Read from any thread.
const LocaleForms &localeForms();

// The test hook: every value is written and read in the forms of `locale` from now on. Call it
// before any value is written on another thread (the forms are not guarded).
void setLocale(const QLocale &locale);

} // namespace ValueText
