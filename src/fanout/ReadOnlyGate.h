#pragma once

#include "sql/SqlLexer.h"

#include <QString>

// Only a statement that reads runs on several aliases at once: a change on every database of the
// family in one key press is the mistake this rule is there to prevent. Any thread.
namespace ReadOnlyGate {

// Why the text may not run on several aliases, or an empty text when it may: it must hold exactly
// one statement, and that statement must do nothing but read, at any level, in the dialect given.
QString refusal(const QString &text, Sql::Dialect dialect);

} // namespace ReadOnlyGate
