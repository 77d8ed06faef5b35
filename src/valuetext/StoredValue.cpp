#include "valuetext/StoredValue.h"

#include "valuetext/FetchedText.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>

namespace ValueText {

namespace {

// Decimal digits of a whole number, without a text of their own.
void appendInteger(QString &out, std::int64_t number)
{
    char16_t digits[20];
    int n = 0;
    // Counted in the negative range so that the smallest 64-bit value needs no special case.
    std::int64_t rest = number < 0 ? number : -number;
    do {
        digits[n++] = char16_t(u'0' - rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (number < 0)
        out += QLatin1Char('-');
    char16_t text[20];
    for (int k = 0; k < n; ++k)
        text[k] = digits[n - 1 - k];
    out.append(reinterpret_cast<const QChar *>(text), n);
}

// UTF-8 text appended as UTF-16; plain ASCII, the usual case, without a decoder.
void appendUtf8Text(QString &out, const char *text, std::size_t length)
{
    std::size_t i = 0;
    while (i < length && static_cast<unsigned char>(text[i]) < 0x80)
        ++i;
    if (i == length)
        out += QLatin1String(text, qsizetype(length));
    else
        out += QString::fromUtf8(text, qsizetype(length));
}

template <typename T>
T load(const char *value)
{
    T result;
    std::memcpy(&result, value, sizeof result);
    return result;
}

} // namespace

int storedFixedBytes(StoredKind kind)
{
    switch (kind) {
    case StoredKind::Int64:
    case StoredKind::Double:
        return 8;
    case StoredKind::Date:
        return sizeof(StoredDate);
    case StoredKind::Time:
        return sizeof(StoredTime);
    case StoredKind::Timestamp:
        return sizeof(StoredTimestamp);
    case StoredKind::Bit:
        return 1;
    default:
        return 0;
    }
}

void appendStoredText(QString &out, StoredKind kind, const char *value, std::size_t length)
{
    switch (kind) {
    case StoredKind::Int64:
        appendInteger(out, load<std::int64_t>(value));
        return;
    case StoredKind::Double:
        appendFloatText(out, load<double>(value));
        return;
    case StoredKind::Date: {
        const auto date = load<StoredDate>(value);
        appendDateText(out, date.year, date.month, date.day);
        return;
    }
    case StoredKind::Time: {
        const auto time = load<StoredTime>(value);
        appendTimeText(out, time.hour, time.minute, time.second);
        return;
    }
    case StoredKind::Timestamp: {
        const auto ts = load<StoredTimestamp>(value);
        appendDateTimeText(
            out, ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second, ts.fraction);
        return;
    }
    case StoredKind::Bit:
        out += *value ? QLatin1String("True") : QLatin1String("False");
        return;
    case StoredKind::Decimal:
        appendDecimalText(out, value, qsizetype(length));
        return;
    case StoredKind::Text:
        appendUtf8Text(out, value, length);
        return;
    case StoredKind::Binary:
        out += QLatin1String(QByteArray(value, qsizetype(length)).toHex().toUpper());
        return;
    }
}

QString storedDisplayText(StoredKind kind, const char *value, std::size_t length, int maxChars)
{
    QString shown;
    if (kind != StoredKind::Text && kind != StoredKind::Binary) {
        appendStoredText(shown, kind, value, length);
        return shown;
    }
    const std::size_t limit = std::size_t(std::max(0, maxChars));
    bool cut = false;
    if (kind == StoredKind::Binary) {
        // Two hexadecimal digits per byte.
        const std::size_t bytes = std::min(length, limit / 2);
        shown = QLatin1String(QByteArray(value, qsizetype(bytes)).toHex().toUpper());
        cut = bytes < length;
    } else {
        // A UTF-8 character takes at most four bytes: that many bytes hold the characters shown.
        std::size_t bytes = std::min(length, limit * 4);
        // Not in the middle of a character.
        while (bytes < length && bytes > 0
            && (static_cast<unsigned char>(value[bytes]) & 0xC0) == 0x80)
            --bytes;
        appendUtf8Text(shown, value, bytes);
        cut = bytes < length;
        if (shown.size() > qsizetype(limit)) {
            shown.truncate(qsizetype(limit));
            if (shown.size() > 0 && shown.back().isHighSurrogate())
                shown.chop(1);
            cut = true;
        }
    }
    if (cut)
        shown += QChar(0x2026);
    return shown;
}

} // namespace ValueText
