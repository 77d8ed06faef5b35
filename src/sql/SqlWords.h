#pragma once

#include "sql/SqlLexer.h"

#include <QString>
#include <QStringList>
#include <QStringView>

// The words of SQL as data: those the editor colours as keywords, those that cannot stand as a
// bare name, and how a name is written into a statement. Stateless; any thread.
namespace Sql {

// A word the editor colours: DB2's SQL and the commonest words of PostgreSQL's and SQLite's.
// Any case.
bool isKeyword(QStringView word);

// The keywords the editor offers to complete in a dialect, upper case and sorted.
const QStringList &completionKeywords(Dialect dialect);

// A word that cannot stand as a bare column or table name in the databases the statements go
// to. Upper case only, as isReserved(name.toUpper()).
bool isReserved(QStringView upper);

// A name as SQL text needs it: bare when it is a regular identifier (an ASCII letter or _ first,
// then letters, digits and _) and not reserved, otherwise between double quotes, its quotes
// doubled.
QString identifier(const QString &name);

// A table name as typed: parts between dots (schema and table), each kept when it was given
// between double quotes, written by identifier() otherwise.
QString tableName(const QString &typed);

} // namespace Sql
