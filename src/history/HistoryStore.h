#pragma once

#include "history/History.h"

#include <QStringList>

class QSettings;

// The history's text rules and its storage in the user's settings (values History0 to History200
// of the user's settings, History0 the newest). Pure functions over HistoryItems;
// any thread, but the settings object belongs to its caller.
namespace HistoryStore {

constexpr int MaxEntries = 200; // entries kept after an addition
constexpr int ValueCount = 201; // value names History0..History200 read and cleared

QString valueName(int index);

// Splits a text into lines at CR LF, lone CR or lone LF. A final line break ends the last line
// and does not start another one, so "a\r\n" and "a" both give one line.
QStringList splitLines(const QString &text);
// Every line followed by CR LF, the last one included.
QString joinLines(const QStringList &lines);

// What a list entry shows of a statement: its first line, cut as a grid cell is, to at most
// MaxShownChars characters and then "…". Reads no further into the text than that, so a
// statement of millions of characters costs a list no more than a short one.
constexpr int MaxShownChars = 1000;
QString shownLine(const QString &text);

// Puts the statement of `lines` at the head of `items` and drops entries beyond MaxEntries.
// Returns false, changing nothing, when there is no line or the first line is empty.
bool addEntry(HistoryItems &items, const QStringList &lines);

// Reads History200 down to History0 into the head of `items`: missing and empty values are left
// out, line breaks become CR LF after every line. No cap applies. A value that is not text is
// skipped and the rest load; the names of the skipped values are returned, in the order read.
QStringList load(QSettings &settings, HistoryItems &items);

// Replaces the stored history: History0..n-1 hold the entries afterwards, and no other value that
// holds text remains among History0..History200. Values that are not text were never loaded and
// are not deleted: they are written back, in their order, behind the entries. Throws
// std::runtime_error "Failed to set data for '<name>'" when the settings cannot be written.
void save(QSettings &settings, const HistoryItems &items);

} // namespace HistoryStore
