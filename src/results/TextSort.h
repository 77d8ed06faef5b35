#pragma once

#include <QLocale>

#include <atomic>
#include <cstddef>
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

} // namespace RowOrder
