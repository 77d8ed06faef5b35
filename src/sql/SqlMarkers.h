#pragma once

#include "sql/SqlLexer.h"

#include <QString>
#include <QStringList>
#include <QVector>

// The parameter markers of one statement, found by the lexer so that a marker is never seen
// inside a string, a comment, a delimited identifier or a "--#SET" line: "?", ":name" and, on
// PostgreSQL, "$1". A label ("L1:"), a cast ("::int") and an array slice ("a[lo:hi]") are no
// markers. The driver gets the text with every marker as "?" and one value per "?".
namespace Sql {

struct Marker
{
    int start = 0; // offset in the statement's text
    int length = 0;
    int value = 0; // index into Markers::names
    bool inList = false; // alone in the parentheses of IN ( ): it may take a list of values
};

// One "?" of a text for the driver: which value, and which item of a list value.
struct Binding
{
    int value = 0;
    int item = 0;
};

struct Markers
{
    QVector<Marker> occurrences; // in the order of the text
    // One entry per value to ask for, in the order first met: ":note" and "$1" by their text
    // (":note" twice is one value), each "?" on its own as "?1", "?2", ...
    QStringList names;
    QString driverText; // the text with each marker replaced by "?" (the text itself when none)

    bool isEmpty() const { return occurrences.isEmpty(); }
    // The name of the value each "?" of driverText takes, in order.
    QStringList bindingOrder() const;
};

Markers parameterMarkers(QStringView text, Dialect dialect);

// The text for the driver when values of IN-list markers hold several items: such a marker
// becomes "?, ?, ..." once per item (items[value], 1 when missing or for any other marker);
// bindings gets what each "?" takes.
QString expandedText(QStringView text, const Markers &markers, const QVector<int> &items,
    QVector<Binding> *bindings);

} // namespace Sql
