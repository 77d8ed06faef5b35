#include "valuetext/DateTimeFormat.h"

#include <QDate>
#include <QTime>

#include <algorithm>
#include <cstring>

namespace {

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

} // namespace

namespace ValueText {

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

} // namespace ValueText
