#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstring>
#include <vector>

// Dates and times read back from the text the dataset wrote in the locale's forms, and written
// again as ISO 8601, for the export profiles. Used by one file: header only.
namespace LocaleDates {

inline bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

struct DateTimeParts
{
    int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    bool pm = false, hasMarker = false, twelveHour = false, twoDigitYear = false;
};

// Reads a date or time back from the text the dataset wrote in one of the locale's forms (the
// short date or the long time), part by part as the form gives them.
class LocaleFormReader
{
public:
    LocaleFormReader(const QString &format, const QLocale &locale)
    {
        for (int i = 0; i < format.size();) {
            const QChar c = format.at(i);
            if (c == QLatin1Char('\'')) { // quoted literal text; '' is a quote
                int end = i + 1;
                QString text;
                while (end < format.size()) {
                    if (format.at(end) == QLatin1Char('\'')) {
                        if (end + 1 < format.size() && format.at(end + 1) == QLatin1Char('\'')) {
                            text += QLatin1Char('\'');
                            end += 2;
                            continue;
                        }
                        break;
                    }
                    text += format.at(end++);
                }
                m_tokens.push_back({ QChar(), 0, end == i + 1 ? QStringLiteral("'") : text, {} });
                i = end + 1;
                continue;
            }
            const char letter = c.toLatin1();
            int run = 1;
            if (letter == 'a' || letter == 'A') // "AP", "ap": one marker
                run =
                    i + 1 < format.size() && format.at(i + 1).toLower() == QLatin1Char('p') ? 2 : 1;
            else
                while (i + run < format.size() && format.at(i + run) == c)
                    ++run;
            Token token { QChar(letter), run, {}, {} };
            if (letter == 'M' && run >= 3)
                for (int m = 1; m <= 12; ++m)
                    token.names.append(
                        locale.monthName(m, run == 3 ? QLocale::ShortFormat : QLocale::LongFormat));
            else if (letter == 'd' && run >= 3)
                for (int d = 1; d <= 7; ++d)
                    token.names.append(
                        locale.dayName(d, run == 3 ? QLocale::ShortFormat : QLocale::LongFormat));
            else if (letter == 'a' || letter == 'A')
                token.names = QStringList { locale.amText(), locale.pmText() };
            else if (letter == 0 || !std::strchr("dMyhHmsz", letter))
                token = { QChar(), 0, QString(format.mid(i, run)), {} };
            m_tokens.push_back(token);
            i += run;
        }
    }

    // Reads the form from text at pos, moving pos past it; false when the text does not fit.
    bool read(QStringView text, qsizetype &pos, DateTimeParts &parts) const
    {
        for (const Token &token : m_tokens) {
            if (token.letter.isNull() || token.count == 0) {
                if (!text.mid(pos).startsWith(token.text))
                    return false;
                pos += token.text.size();
                continue;
            }
            if (!token.names.isEmpty()) {
                // Names are written from the same tables, so they match exactly; the markers
                // may be written in upper or lower case.
                const bool marker =
                    token.letter == QLatin1Char('a') || token.letter == QLatin1Char('A');
                const QStringView rest = text.mid(pos);
                int found = -1;
                for (int n = 0; n < token.names.size() && found < 0; ++n) {
                    const QString &name = token.names.at(n);
                    if (!name.isEmpty() && !rest.isEmpty()
                        && (marker ? rest.startsWith(name, Qt::CaseInsensitive)
                                   : rest.front() == name.front() && rest.startsWith(name)))
                        found = n;
                }
                if (found < 0)
                    return false;
                pos += token.names.at(found).size();
                if (token.letter == QLatin1Char('M'))
                    parts.month = found + 1;
                else if (token.letter != QLatin1Char('d')) { // the morning or afternoon marker
                    parts.hasMarker = true;
                    parts.pm = found == 1;
                }
                continue;
            }
            const char letter = token.letter.toLatin1();
            const int most = letter == 'y' ? (token.count >= 4 ? 4 : 2) : letter == 'z' ? 3 : 2;
            int value = 0, digits = 0;
            while (digits < most && pos < text.size() && isDigit(text.at(pos))) {
                value = value * 10 + (text.at(pos++).unicode() - u'0');
                ++digits;
            }
            if (digits == 0 || (token.count == 2 && digits != 2))
                return false;
            switch (letter) {
            case 'd':
                parts.day = value;
                break;
            case 'M':
                parts.month = value;
                break;
            case 'y':
                parts.year = value;
                parts.twoDigitYear = token.count < 4;
                break;
            case 'h':
                parts.hour = value;
                parts.twelveHour = true;
                break;
            case 'H':
                parts.hour = value;
                break;
            case 'm':
                parts.minute = value;
                break;
            case 's':
                parts.second = value;
                break;
            default: // milliseconds: a database time written by the locale has none
                break;
            }
        }
        return true;
    }

private:
    struct Token
    {
        QChar letter; // null for literal text
        int count; // the run of the letter; 0 for literal text
        QString text; // literal text
        QStringList names; // month or day names, or the two markers, to match
    };
    std::vector<Token> m_tokens;
};

// The parts of a date or time read back, as numbers that need no locale.
inline void normalise(DateTimeParts &parts)
{
    if (parts.twelveHour && parts.hasMarker)
        parts.hour = parts.hour % 12 + (parts.pm ? 12 : 0);
}

// Writes value in width digits, zeros in front, at text; returns the end.
inline char16_t *putDigits(char16_t *text, int value, int width)
{
    for (int i = width - 1; i >= 0; --i, value /= 10)
        text[i] = char16_t(u'0' + value % 10);
    return text + width;
}

// The parts as 2001-12-31, 23:59:59 or the two joined by a blank, in one append.
inline void appendIso(QString &out, const DateTimeParts &parts, bool date, bool time)
{
    char16_t text[24];
    char16_t *end = text;
    if (date) {
        if (parts.year < 0) // before the year 1 (ISO 8601 counts a year 0)
            *end++ = u'-';
        const int year = parts.year < 0 ? -parts.year : parts.year;
        end = putDigits(end, year, year > 9999 ? 5 : 4);
        *end++ = u'-';
        end = putDigits(end, parts.month, 2);
        *end++ = u'-';
        end = putDigits(end, parts.day, 2);
    }
    if (date && time)
        *end++ = u' ';
    if (time) {
        end = putDigits(end, parts.hour, 2);
        *end++ = u':';
        end = putDigits(end, parts.minute, 2);
        *end++ = u':';
        end = putDigits(end, parts.second, 2);
    }
    out.append(QStringView(text, end - text));
}

} // namespace LocaleDates
