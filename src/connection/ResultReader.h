#pragma once

#include "connection/ResultStore.h"
#include "valuetext/StoredValue.h"

#include <QString>

#include <cstddef>
#include <memory>
#include <vector>

// The rows of a result fetched whole, read-only, for one thread other than the dataset's owner:
// a sort or a filter reads them while the grid goes on reading the dataset. Made by
// QueryDataset::reader(); keeps the rows alive after the dataset closed. One thread at a time.
class ResultReader
{
public:
    ResultReader(
        std::shared_ptr<const ResultStore> store, std::vector<ValueText::StoredKind> kinds);

    int rowCount() const { return m_reader.rowCount(); }
    int columnCount() const { return int(m_kinds.size()); }
    ValueText::StoredKind kind(int column) const { return m_kinds[std::size_t(column)]; }
    // The stored bytes of a value, valid until the next call; false for NULL. Throws what the
    // store throws when its temporary file cannot be read.
    bool value(int row, int column, const char *&data, std::size_t &length) const
    {
        return m_reader.value(row, column, data, length);
    }
    // The text a grid cell shows for the value (the dataset's displayText), into `out`, whose
    // capacity is kept; false and empty for NULL.
    bool shownText(int row, int column, int maxChars, QString &out) const;

private:
    ResultStore::Reader m_reader;
    std::vector<ValueText::StoredKind> m_kinds;
};
