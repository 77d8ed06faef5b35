#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <atomic>

// The value viewer's layouts of a value, made from the value's own characters: indentation adds
// and drops only blanks and line breaks between tokens, so every number, key, string, attribute
// and their order stay as written (a number beyond any machine type, a repeated key). Pure
// functions; any thread.
namespace ValueLayout {

enum class Kind { None, Json, Xml };

// What the value looks like from its first character that is not blank: an object or array, a
// markup document, or neither. Looks no further.
Kind guess(QStringView text);

struct Indented
{
    QString text; // the value laid out, every line ended by a line break; empty on failure
    QString error; // why the value cannot be indented; empty on success
};

// JSON (an object or array) or XML laid out with four blanks per level. An element holding text
// of its own keeps its content on one line, as written. `cancel`, when given, is polled; once set
// the work stops with an empty result.
Indented indent(const QString &text, const std::atomic_bool *cancel = nullptr);

// Offset, sixteen bytes in hex and their printable ASCII, one line per sixteen bytes; offsets
// count from `offset`.
QString hexRows(QByteArrayView bytes, qint64 offset = 0);

} // namespace ValueLayout
