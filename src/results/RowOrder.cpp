#include "results/RowOrder.h"

#include "connection/ResultReader.h"
#include "results/TextSort.h"
#include "valuetext/StoredValue.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using ValueText::StoredKind;

// How often the loops look at the stop flag.
constexpr int StopCheckRows = 4096;

template <typename T>
T readAs(const char *data)
{
    T value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

// A fixed-kind value as one number that orders like the value.
std::int64_t numberKey(StoredKind kind, const char *data)
{
    switch (kind) {
    case StoredKind::Int64:
        return readAs<std::int64_t>(data);
    case StoredKind::Bit:
        return std::uint8_t(*data);
    case StoredKind::Date: {
        const auto d = readAs<ValueText::StoredDate>(data);
        return (std::int64_t(d.year) * 16 + d.month) * 32 + d.day;
    }
    case StoredKind::Time: {
        const auto t = readAs<ValueText::StoredTime>(data);
        return (std::int64_t(t.hour) * 64 + t.minute) * 64 + t.second;
    }
    case StoredKind::Timestamp: {
        // Down to the second; the fraction orders the values within one second.
        const auto s = readAs<ValueText::StoredTimestamp>(data);
        const std::int64_t day = (std::int64_t(s.year) * 16 + s.month) * 32 + s.day;
        return ((day * 32 + s.hour) * 64 + s.minute) * 64 + s.second;
    }
    default:
        return 0;
    }
}

// Doubles in a total order, so that a NaN cannot break the sort: NaN after every number.
bool doubleLess(double a, double b)
{
    if (std::isnan(a))
        return false;
    return std::isnan(b) || a < b;
}

// The non-null records' keys and, per kind, a "less" over positions in `records`. Sorted stably,
// so equal values keep their fetched order in both directions.
template <typename Key, typename Less>
void sortByKeys(std::vector<int> &records, const std::vector<Key> &keys, bool descending, Less less)
{
    std::vector<int> positions(records.size());
    for (std::size_t i = 0; i < positions.size(); ++i)
        positions[i] = int(i);
    if (descending)
        std::stable_sort(positions.begin(), positions.end(),
            [&](int a, int b) { return less(keys[std::size_t(b)], keys[std::size_t(a)]); });
    else
        std::stable_sort(positions.begin(), positions.end(),
            [&](int a, int b) { return less(keys[std::size_t(a)], keys[std::size_t(b)]); });
    std::vector<int> ordered(records.size());
    for (std::size_t i = 0; i < positions.size(); ++i)
        ordered[i] = records[std::size_t(positions[i])];
    records.swap(ordered);
}

// Walks every record, handing the non-null ones' values to `take` and collecting the null ones.
template <typename Take>
bool collect(const ResultReader &reader, int column, const std::atomic<bool> &stop,
    std::vector<int> &values, std::vector<int> &nulls, Take take)
{
    const int rows = reader.rowCount();
    values.reserve(std::size_t(rows));
    for (int row = 0; row < rows; ++row) {
        if (row % StopCheckRows == 0 && stop.load(std::memory_order_relaxed))
            return false;
        const char *data = nullptr;
        std::size_t length = 0;
        if (!reader.value(row, column, data, length)) {
            nulls.push_back(row);
            continue;
        }
        values.push_back(row);
        take(data, length);
    }
    return true;
}

} // namespace

namespace RowOrder {

std::string decimalKey(const char *text, std::size_t length)
{
    // The first byte is the value's class, in ascending order: -Infinity, below zero, zero,
    // above zero, Infinity, NaN, and text that is no number at all (by its bytes, after them).
    enum : char { MinusInfinity, Negative, Zero, Positive, PlusInfinity, NotANumber, NoNumber };
    const auto noNumber = [&] { return char(NoNumber) + std::string(text, length); };
    std::size_t i = 0;
    while (i < length && text[i] == ' ')
        ++i;
    while (length > i && text[length - 1] == ' ')
        --length;
    bool negative = false;
    if (i < length && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    const auto word = [&](const char *name) {
        const std::size_t n = std::strlen(name);
        if (length - i != n)
            return false;
        for (std::size_t k = 0; k < n; ++k)
            if ((text[i + k] | 0x20) != name[k])
                return false;
        return true;
    };
    if (word("infinity") || word("inf"))
        return std::string(1, negative ? MinusInfinity : PlusInfinity);
    if (word("nan"))
        return std::string(1, NotANumber);

    // The significant digits d1 d2 … (no leading or trailing zeros) and the exponent e of the
    // value 0.d1d2… × 10^e.
    std::string digits;
    std::int64_t exponent = 0;
    bool anyDigit = false;
    while (i < length && text[i] >= '0' && text[i] <= '9') {
        anyDigit = true;
        if (!digits.empty() || text[i] != '0')
            digits += text[i];
        if (!digits.empty())
            ++exponent;
        ++i;
    }
    if (i < length && (text[i] == '.' || text[i] == ','))
        ++i;
    while (i < length && text[i] >= '0' && text[i] <= '9') {
        anyDigit = true;
        if (digits.empty() && text[i] == '0')
            --exponent;
        else
            digits += text[i];
        ++i;
    }
    if (!anyDigit)
        return noNumber();
    if (i < length && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool below = false;
        if (i < length && (text[i] == '-' || text[i] == '+'))
            below = text[i++] == '-';
        if (i == length)
            return noNumber();
        std::int64_t power = 0;
        for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i)
            power = std::min<std::int64_t>(power * 10 + (text[i] - '0'), std::int64_t(1) << 50);
        exponent += below ? -power : power;
    }
    if (i != length)
        return noNumber();
    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();
    if (digits.empty())
        return std::string(1, Zero); // zero, whatever its sign or exponent

    // Above zero: the exponent (biased, big-endian, so that its bytes order like it), then the
    // digits. Below zero the same bytes inverted, ended by a byte above every inverted one, so
    // that a longer magnitude sorts first.
    std::string magnitude;
    const std::uint64_t biased = std::uint64_t(exponent) + (std::uint64_t(1) << 62);
    for (int shift = 56; shift >= 0; shift -= 8)
        magnitude += char((biased >> shift) & 0xFF);
    magnitude += digits;
    if (negative) {
        for (char &c : magnitude)
            c = char(0xFF - static_cast<unsigned char>(c));
        magnitude += '\xFF';
    }
    return char(negative ? Negative : Positive) + magnitude;
}

bool sorted(const ResultReader &reader, int column, Qt::SortOrder order, const QLocale &locale,
    const std::atomic<bool> &stop, std::vector<int> &out)
{
    out.clear();
    if (column < 0 || column >= reader.columnCount())
        return true;
    const bool descending = order == Qt::DescendingOrder;
    const StoredKind kind = reader.kind(column);
    std::vector<int> values;
    std::vector<int> nulls;
    bool walked = false;
    switch (kind) {
    case StoredKind::Double: {
        std::vector<double> keys;
        walked = collect(reader, column, stop, values, nulls,
            [&](const char *data, std::size_t) { keys.push_back(readAs<double>(data)); });
        if (walked)
            sortByKeys(values, keys, descending, doubleLess);
        break;
    }
    case StoredKind::Decimal:
    case StoredKind::Binary: {
        // Decimals as bytes that order like their numbers; bytes as they are.
        std::vector<std::string> keys;
        walked =
            collect(reader, column, stop, values, nulls, [&](const char *data, std::size_t length) {
                keys.push_back(kind == StoredKind::Decimal ? decimalKey(data, length)
                                                           : std::string(data, length));
            });
        if (walked)
            sortByKeys(values, keys, descending, std::less<std::string>());
        break;
    }
    case StoredKind::Timestamp: {
        std::vector<std::pair<std::int64_t, std::uint32_t>> keys;
        walked = collect(reader, column, stop, values, nulls, [&](const char *data, std::size_t) {
            keys.emplace_back(
                numberKey(kind, data), readAs<ValueText::StoredTimestamp>(data).fraction);
        });
        if (walked)
            sortByKeys(
                values, keys, descending, std::less<std::pair<std::int64_t, std::uint32_t>>());
        break;
    }
    case StoredKind::Text:
        walked = sortTexts(reader, column, descending, locale, stop, values, nulls);
        break;
    default: {
        std::vector<std::int64_t> keys;
        walked = collect(reader, column, stop, values, nulls,
            [&](const char *data, std::size_t) { keys.push_back(numberKey(kind, data)); });
        if (walked)
            sortByKeys(values, keys, descending, std::less<std::int64_t>());
        break;
    }
    }
    if (!walked || stop.load())
        return false;
    out.reserve(values.size() + nulls.size());
    if (!descending)
        out.insert(out.end(), nulls.begin(), nulls.end());
    out.insert(out.end(), values.begin(), values.end());
    if (descending)
        out.insert(out.end(), nulls.begin(), nulls.end());
    return true;
}

bool filtered(const ResultReader &reader, const std::vector<int> *records, const QString &text,
    const std::atomic<bool> &stop, std::vector<int> &out)
{
    out.clear();
    const int count = records ? int(records->size()) : reader.rowCount();
    const int columns = reader.columnCount();
    QString shown;
    for (int i = 0; i < count; ++i) {
        if (i % StopCheckRows == 0 && stop.load(std::memory_order_relaxed)) {
            out.clear();
            return false;
        }
        const int record = records ? (*records)[std::size_t(i)] : i;
        for (int column = 0; column < columns; ++column) {
            const char *data = nullptr;
            std::size_t length = 0;
            if (!reader.value(record, column, data, length))
                continue;
            shown.resize(0); // keeps its room
            ValueText::appendStoredText(shown, reader.kind(column), data, length);
            if (shown.contains(text, Qt::CaseInsensitive)) {
                out.push_back(record);
                break;
            }
        }
    }
    return true;
}

} // namespace RowOrder
