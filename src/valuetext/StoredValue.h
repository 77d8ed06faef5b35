#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

namespace ValueText {

// How a fetched value is kept in a result store. Fixed kinds keep a fixed number of bytes per
// value; Decimal (the driver's exact text), Text (UTF-8) and Binary keep their bytes as they are.
enum class StoredKind { Int64, Double, Date, Time, Timestamp, Bit, Decimal, Text, Binary };

// The layouts of the fixed kinds; Int64 and Double are the native 8-byte numbers, Bit one byte.
// Date and Time have the layout of the ODBC date and time structures, so that bound values are
// kept as they were fetched.
struct StoredDate
{
    std::int16_t year;
    std::uint16_t month, day;
};
struct StoredTime
{
    std::uint16_t hour, minute, second;
};
struct StoredTimestamp
{
    std::int16_t year;
    std::uint8_t month, day, hour, minute, second;
    std::uint32_t fraction;
};

// Bytes of each value of a fixed kind; 0 for the kinds of any length.
int storedFixedBytes(StoredKind kind);

// Appends the text form of a stored value (FetchedText's forms; "True"/"False"; upper-case
// hexadecimal for bytes), without a text of its own per value.
void appendStoredText(QString &out, StoredKind kind, const char *value, std::size_t length);

// The text of a stored value cut to at most maxChars characters, with "…" in place of the rest,
// at a cost that does not grow with the value: for a grid cell.
QString storedDisplayText(StoredKind kind, const char *value, std::size_t length, int maxChars);

} // namespace ValueText
