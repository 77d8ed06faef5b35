#include "results/TextSort.h"

#include "connection/ResultReader.h"
#include "results/KeyedRecordFile.h"
#include "valuetext/StoredValue.h"

#include <QString>
#include <queue>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <unicode/ucol.h>

namespace {

// A value in a run: eight bytes of its key as a number that orders like them (those the sort
// compares now), where the whole key starts in the run's bytes, and its record.
struct Entry
{
    std::uint64_t prefix;
    std::uint32_t offset;
    std::int32_t row;
};

// The collator of the user's locale, as the ICU library that Qt's own collation uses gives it.
class Collator
{
public:
    explicit Collator(const QLocale &locale)
    {
        UErrorCode error = U_ZERO_ERROR;
        m_collator = ucol_open(locale.name().toLatin1().constData(), &error);
        if (U_FAILURE(error) || !m_collator) {
            error = U_ZERO_ERROR;
            m_collator = ucol_open("", &error); // the root collation
        }
        if (U_FAILURE(error) || !m_collator)
            throw std::runtime_error("The text collation of the locale cannot be opened");
    }
    ~Collator() { ucol_close(m_collator); }
    Collator(const Collator &) = delete;
    Collator &operator=(const Collator &) = delete;

    // Appends the text's key, which ends with its only zero byte, to `bytes`.
    void appendKey(const QString &text, std::vector<std::uint8_t> &bytes) const
    {
        const std::size_t at = bytes.size();
        std::size_t room = std::size_t(text.size()) * 3 + 16;
        bytes.resize(at + room);
        const auto *chars = reinterpret_cast<const UChar *>(text.utf16());
        std::int32_t length =
            ucol_getSortKey(m_collator, chars, int32_t(text.size()), &bytes[at], int32_t(room));
        if (std::size_t(length) > room) {
            room = std::size_t(length);
            bytes.resize(at + room);
            length =
                ucol_getSortKey(m_collator, chars, int32_t(text.size()), &bytes[at], int32_t(room));
        }
        bytes.resize(at + std::size_t(length));
    }

private:
    UCollator *m_collator = nullptr;
};

// Eight bytes of a key from `at` on, as a number that orders like them. Every key is followed by
// eight zero bytes, so the bytes past its end read as zero.
std::uint64_t eightBytes(const std::uint8_t *at)
{
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = (value << 8) | at[i];
    return value;
}

// Sorts entries by their keys eight bytes at a time: each pass sorts a range by the next eight
// bytes, held in the entries themselves, and only runs of equal bytes go on to the next eight. Keys
// end with their only zero byte, so a run whose last byte is zero holds equal keys, ordered by
// record.
void sortEntries(Entry *first, Entry *last, const std::uint8_t *bytes, bool descending)
{
    struct Range
    {
        Entry *begin;
        Entry *end;
        std::size_t depth;
    };
    std::vector<Range> ranges { { first, last, 0 } }; // not recursion: equal long keys go deep
    while (!ranges.empty()) {
        const Range range = ranges.back();
        ranges.pop_back();
        for (Entry *entry = range.begin; entry != range.end; ++entry)
            entry->prefix = eightBytes(bytes + entry->offset + range.depth);
        std::sort(range.begin, range.end, [descending](const Entry &a, const Entry &b) {
            if (a.prefix != b.prefix)
                return descending ? a.prefix > b.prefix : a.prefix < b.prefix;
            return a.row < b.row; // equal texts keep their fetched order
        });
        for (Entry *run = range.begin; run != range.end;) {
            Entry *next = run + 1;
            while (next != range.end && next->prefix == run->prefix)
                ++next;
            if (next - run > 1 && (run->prefix & 0xFF) != 0)
                ranges.push_back({ run, next, range.depth + 8 });
            run = next;
        }
    }
}

void sortEntries(
    std::vector<Entry> &entries, const std::vector<std::uint8_t> &bytes, bool descending)
{
    sortEntries(entries.data(), entries.data() + entries.size(), bytes.data(), descending);
}

// A sorted run in a temporary file.
class Run
{
public:
    void write(const std::vector<Entry> &entries, const std::vector<std::uint8_t> &bytes)
    {
        for (const Entry &entry : entries) {
            const char *key = reinterpret_cast<const char *>(bytes.data() + entry.offset);
            m_file.write(entry.row, key, std::strlen(key));
        }
        m_file.rewind();
    }

    // The next value of the run; false at its end.
    bool next()
    {
        int number = 0;
        if (!m_file.next(number, key))
            return false;
        row = number;
        return true;
    }

    std::int32_t row = 0;
    std::string key;

private:
    KeyedRecordFile m_file { QStringLiteral("sort") };
};

// Merges the runs into one order of records.
void merge(std::vector<std::unique_ptr<Run>> &runs, bool descending, const RowOrder::Emit &hand)
{
    const auto after = [&runs, descending](std::size_t a, std::size_t b) {
        const Run &x = *runs[a];
        const Run &y = *runs[b];
        const int order = x.key.compare(y.key);
        if (order != 0)
            return descending ? order < 0 : order > 0;
        return x.row > y.row;
    };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(after)> heads(after);
    for (std::size_t i = 0; i < runs.size(); ++i)
        if (runs[i]->next())
            heads.push(i);
    while (!heads.empty()) {
        const std::size_t run = heads.top();
        heads.pop();
        hand(runs[run]->row, runs[run]->key.data(), runs[run]->key.size());
        if (runs[run]->next())
            heads.push(run);
    }
}

} // namespace

namespace RowOrder {

bool sortKeys(int rows, const KeyMaker &keyOf, bool descending, const std::atomic<bool> &stop,
    std::vector<int> &values, std::vector<int> &skipped, std::size_t runBytes)
{
    return sortKeys(
        rows, keyOf, descending, stop,
        [&values](int record, const char *, std::size_t) { values.push_back(record); }, skipped,
        runBytes);
}

bool sortKeys(int rows, const KeyMaker &keyOf, bool descending, const std::atomic<bool> &stop,
    const Emit &hand, std::vector<int> &skipped, std::size_t runBytes)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(std::min(runBytes, std::size_t(rows) * 32) + 4096);
    std::vector<Entry> entries;
    std::vector<std::unique_ptr<Run>> runs;
    const auto endRun = [&] {
        sortEntries(entries, bytes, descending);
        runs.push_back(std::make_unique<Run>());
        runs.back()->write(entries, bytes);
        entries.clear();
        bytes.clear();
    };
    for (int row = 0; row < rows; ++row) {
        if (row % 4096 == 0 && stop.load(std::memory_order_relaxed))
            return false;
        const std::size_t offset = bytes.size();
        if (!keyOf(row, bytes)) {
            bytes.resize(offset);
            skipped.push_back(row);
            continue;
        }
        bytes.push_back(0); // the key's end
        bytes.insert(bytes.end(), 8, 0); // so that a key is always read eight bytes on
        entries.push_back({ 0, std::uint32_t(offset), row });
        if (bytes.size() >= runBytes)
            endRun();
    }
    if (runs.empty()) {
        sortEntries(entries, bytes, descending);
        for (const Entry &entry : entries) {
            const char *key = reinterpret_cast<const char *>(bytes.data() + entry.offset);
            hand(entry.row, key, std::strlen(key));
        }
        return !stop.load();
    }
    if (!entries.empty())
        endRun();
    std::vector<Entry>().swap(entries);
    std::vector<std::uint8_t>().swap(bytes);
    merge(runs, descending, hand);
    return !stop.load();
}

bool sortTexts(const ResultReader &reader, int column, bool descending, const QLocale &locale,
    const std::atomic<bool> &stop, std::vector<int> &values, std::vector<int> &nulls,
    std::size_t runBytes)
{
    const Collator collator(locale);
    QString text;
    const auto keyOf = [&](int row, std::vector<std::uint8_t> &bytes) {
        const char *data = nullptr;
        std::size_t length = 0;
        if (!reader.value(row, column, data, length))
            return false;
        text.resize(0);
        ValueText::appendStoredText(text, ValueText::StoredKind::Text, data, length);
        collator.appendKey(text, bytes);
        bytes.pop_back(); // its zero byte: sortKeys ends every key with one
        return true;
    };
    return sortKeys(reader.rowCount(), keyOf, descending, stop, values, nulls, runBytes);
}

} // namespace RowOrder
