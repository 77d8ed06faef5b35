#pragma once

#include <QStringView>

namespace Sql {

// Where in the statement a driver's error message points, as an offset into the statement, or
// -1 when the message names no place. Reads what the drivers say: a character position
// ("Position: 12", "at character 12", counted from 1), PostgreSQL's 'at or near "x"' and "at end
// of input", SQLite's 'near "x"', DB2's SQL0104N 'An unexpected token "x" was found following
// "y"'. A token is looked for among the statement's tokens, never inside a string or comment.
int errorPlace(QStringView statement, QStringView message);

} // namespace Sql
