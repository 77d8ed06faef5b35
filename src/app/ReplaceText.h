#pragma once

#include <QString>

// The text rules of the editor's Replace and Replace All. A match is a stretch of the text that
// equals the search text once the letters a to z of both are turned into A to Z; every other
// character matches only itself. An empty search text matches nowhere. Pure functions.
namespace ReplaceText {

// Index (from 0) of the first match at or after `from`, or -1.
qsizetype findMatch(const QString &text, const QString &search, qsizetype from = 0);

// Replaces the first match, if any.
QString replaceFirst(const QString &text, const QString &search, const QString &replacement);

// Replaces the first match and searches the whole new text again from its start, until no
// match is left, so that matches formed by a replacement together with the text around it are
// replaced too ("AAAA" with "AA" -> "A" gives "A"). Such a chain can go on forever (always when
// the replacement contains the search text, but not only then). A chain that would never end is
// recognised; then its first replacement is made and the search goes on behind the inserted
// text, with the same rule for the rest of the text. Every chain that ends gives its own result.
QString replaceAll(const QString &text, const QString &search, const QString &replacement);

} // namespace ReplaceText
