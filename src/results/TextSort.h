#pragma once

#include <QLocale>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class ResultReader;

namespace RowOrder {

// The collation keys of a sort's run may take this many bytes; beyond them a run is sorted and
// goes to a temporary file, and the runs are merged at the end.
constexpr std::size_t DefaultRunBytes = std::size_t(48) * 1024 * 1024;

// The records whose text in the column is not NULL, sorted by the locale's collation (equal texts
// in fetched order), into `values`, and the NULL ones in fetched order into `nulls`. Each value's
// collation key is made once; the keys are compared as bytes. False once `stop` is set. Throws
// std::runtime_error when a run cannot be written to or read from its temporary file.
bool sortTexts(const ResultReader &reader, int column, bool descending, const QLocale &locale,
    const std::atomic<bool> &stop, std::vector<int> &values, std::vector<int> &nulls,
    std::size_t runBytes = DefaultRunBytes);

// Appends the record's key to `bytes`, which the keys compare by (as bytes, never holding a zero
// byte), and returns true; false for a record left out of the sort (what it appended is dropped).
using KeyMaker = std::function<bool(int record, std::vector<std::uint8_t> &bytes)>;

// The records 0 … rows-1 that have a key, in the order of their keys (equal keys in record
// order), into `values`, and those without one in record order into `skipped`. Beyond runBytes
// of keys the sorted runs go to temporary files and are merged at the end. False once `stop` is
// set. Throws std::runtime_error as sortTexts does.
bool sortKeys(int rows, const KeyMaker &keyOf, bool descending, const std::atomic<bool> &stop,
    std::vector<int> &values, std::vector<int> &skipped, std::size_t runBytes = DefaultRunBytes);

// The same, handing each record with its key (valid for the call only) to `hand` in order.
using Emit = std::function<void(int record, const char *key, std::size_t length)>;
bool sortKeys(int rows, const KeyMaker &keyOf, bool descending, const std::atomic<bool> &stop,
    const Emit &hand, std::vector<int> &skipped, std::size_t runBytes = DefaultRunBytes);

} // namespace RowOrder
