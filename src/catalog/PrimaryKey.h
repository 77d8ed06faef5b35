#pragma once

#include "catalog/CatalogSnapshot.h"
#include "sql/SqlLexer.h"

#include <QStringList>
#include <QStringView>

namespace Catalog {

// The primary key's columns, in key order, of the one table a statement reads: what rows of its
// result are told apart by. Empty when the statement names no table or several, or when the
// snapshot does not know the table, its columns (not read yet) or a key of it. `table`, when
// given, gets the table found (null when none), so that its columns can be asked for.
QStringList primaryKey(const Snapshot &snapshot, QStringView sql, Sql::Dialect dialect,
    const Object **table = nullptr);

} // namespace Catalog
