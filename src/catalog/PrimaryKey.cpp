#include "catalog/PrimaryKey.h"

#include "catalog/Completion.h"

#include <algorithm>

namespace Catalog {

QStringList primaryKey(
    const Snapshot &snapshot, QStringView sql, Sql::Dialect dialect, const Object **table)
{
    if (table)
        *table = nullptr;
    const QVector<TableRef> tables = statementTables(sql, dialect);
    if (tables.size() != 1)
        return {};
    const Object *found = resolveTable(snapshot, tables[0], dialect);
    if (table)
        *table = found;
    const QVector<Column> *columns = found ? snapshot.columns(found->schema, found->name) : nullptr;
    if (!columns)
        return {};
    QVector<const Column *> key;
    for (const Column &column : *columns)
        if (column.keySeq > 0)
            key.append(&column);
    std::sort(key.begin(), key.end(),
        [](const Column *a, const Column *b) { return a->keySeq < b->keySeq; });
    QStringList names;
    for (const Column *column : key)
        names << column->name;
    return names;
}

} // namespace Catalog
