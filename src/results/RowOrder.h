#pragma once

#include <QLocale>
#include <QString>
#include <Qt>

#include <atomic>
#include <string>
#include <vector>

class ResultReader;

// The orders and selections of a result's rows that the grid shows: lists of record numbers,
// never the rows themselves. Pure routines over a ResultReader, for a thread other than the
// window's; each returns false, leaving `out` empty, once `stop` is set.
namespace RowOrder {

// Every record sorted by the column: by the values' kind (whole and decimal numbers as numbers,
// dates and times in time order, text by the locale's collation, bytes byte by byte), NULL before
// every value ascending and after every value descending; equal values keep their fetched order.
bool sorted(const ResultReader &reader, int column, Qt::SortOrder order, const QLocale &locale,
    const std::atomic<bool> &stop, std::vector<int> &out);

// The records of `records` (every record in fetched order when null), in that order, where the
// text of any column's whole value (as a grid cell shows it, uncut) contains `text`, ignoring
// case. NULL holds no text.
bool filtered(const ResultReader &reader, const std::vector<int> *records, const QString &text,
    const std::atomic<bool> &stop, std::vector<int> &out);

// A decimal number written as text ("-12.50", "3", ".5", "1.0e+20", "NaN", "-Infinity") as bytes
// that order like the numbers: -Infinity < numbers < Infinity < NaN, and text that is no number
// after them all (never read as zero).
std::string decimalKey(const char *text, std::size_t length);

} // namespace RowOrder
