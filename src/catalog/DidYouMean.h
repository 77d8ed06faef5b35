#pragma once

#include "catalog/CatalogSnapshot.h"
#include "sql/SqlLexer.h"

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// "Did you mean": the name a database called undefined, read from its diagnostic records, the
// names of the catalog nearest to it and the aliases where it exists. Pure: any thread.
namespace Catalog {

struct UndefinedName
{
    enum class Kind : unsigned char { None, Table, Column };
    Kind kind = Kind::None;
    QString qualifier; // the schema of a table, the table or correlation name of a column
    QString name;
};

// The undefined name of DB2's SQL0204N and SQL0206N, PostgreSQL's 42P01 and 42703, SQLite's
// "no such table" and "no such column", from the records (SQLSTATE, message) and then the
// message; Kind::None when the error is of another kind.
UndefinedName undefinedName(
    const QString &message, const QVector<QPair<QString, QString>> &records = {});

// Edit distance without case of a to z (a swap of two neighbours counts one).
int editDistance(QStringView a, QStringView b);

struct Suggestions
{
    QStringList nearest; // best first, as they would be written in the statement
    QStringList aliases; // other aliases whose catalog holds the name
    // "Did you mean ORDERS or ORDER_LINES? ORDRS is in DB2T302." or an empty text.
    QString text(const UndefinedName &name) const;
};

// The names of the snapshot nearest to the undefined one (tables for a table, the columns of
// the statement's tables for a column), at most limit; and the aliases among `others` whose
// snapshot holds the name as written.
Suggestions suggest(const UndefinedName &name, const QString &statement, const Snapshot *snapshot,
    Sql::Dialect dialect, const QVector<SnapshotPtr> &others, int limit = 5);

} // namespace Catalog
