#pragma once

#include "sql/SqlLexer.h"

#include <QStringView>

namespace Sql {

// Where in the statement a driver's error message points, as an offset into the statement, or
// -1 when the message names no place. Reads what the drivers say: a character position
// ("Position: 12", "at character 12", counted from 1), PostgreSQL's 'at or near "x"' and "at end
// of input", SQLite's 'near "x"', DB2's SQL0104N 'An unexpected token "x" was found following
// "y"'. A token is looked for among the statement's tokens, never inside a string or comment.
// A token named without a position or context that occurs more than once is no place: -1, and
// ambiguous set, so that the whole statement is marked rather than the wrong occurrence.
int errorPlace(QStringView statement, QStringView message, Dialect dialect = Dialect::Db2,
    bool *ambiguous = nullptr);

} // namespace Sql
