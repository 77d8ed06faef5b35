#include "valuetext/ValueLocale.h"

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

ValueText::LocaleForms &current()
{
    static ValueText::LocaleForms forms(QLocale::system());
    return forms;
}

} // namespace

namespace ValueText {

LocaleForms::LocaleForms(const QLocale &locale)
    : locale(locale)
    , shortDate(locale.dateFormat(QLocale::ShortFormat), locale)
    , longTime(withoutTimeZone(locale.timeFormat(QLocale::LongFormat)), locale)
    , decimal(locale.decimalPoint())
    , group(locale.groupSeparator())
    , decimalIsDot(decimal == QLatin1String("."))
{ }

const LocaleForms &localeForms()
{
    return current();
}

void setLocale(const QLocale &locale)
{
    current() = LocaleForms(locale);
}

} // namespace ValueText
