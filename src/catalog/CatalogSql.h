#pragma once

#include "catalog/CatalogSnapshot.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

// The catalog queries of each kind of server and the mapping of their rows into a snapshot's
// parts. Text in, text out: no database here, so the mapping of rows recorded on a server we do
// not have (DB2) is tested as it is. Any thread.
namespace Catalog {

// Where the names come from, chosen by what the server calls itself (SQLGetInfo's DBMS name).
enum class Source : unsigned char {
    Db2Luw, // SYSCAT views
    Db2Zos, // SYSIBM.SYS* tables
    PostgreSql, // pg_catalog
    Sqlite, // sqlite_master and the table-valued pragmas
    Odbc, // any other: the driver's catalog functions
};

Source sourceOfDbms(const QString &dbmsName);
QString sourceName(Source source);

// What one read covers: some schemas (none: every schema), one table, or names LIKE a pattern.
struct Scope
{
    QStringList schemas;
    QString table; // with exactly one schema: that table's columns or indexes
    QString like; // objects: names LIKE this pattern
};

// A row as the driver returned it, every value as text; a null QString is SQL NULL. The queries
// below select their columns in one order for every source:
//   objects: SCHEMA, NAME, TYPE, REMARKS
//   columns: SCHEMA, TABLE, COLUMN, TYPE, LENGTH, SCALE, NULLS (Y/N), KEYSEQ, REMARKS
//   indexes: SCHEMA, TABLE, INDEX, UNIQUERULE (D: duplicates allowed), COLUMN(S)
using Row = QStringList;

// The SQL text of each read, or an empty text where the source has no such query (Odbc).
QString objectsSql(Source source, const Scope &scope);
QString columnsSql(Source source, const Scope &scope);
QString indexesSql(Source source, const Scope &scope);
// The schema an unqualified name in a statement falls into.
QString currentSchemaSql(Source source);

// The rows mapped. Rows that cannot be an object (too few values, no name) are skipped.
QVector<Object> objectsOfRows(const QVector<Row> &rows);
// Columns and indexes keyed by Snapshot::key(schema, table), in the rows' order. A type given
// as declared ("DECIMAL(10,2)": SQLite, and its driver's catalog functions, which report the
// two numbers swapped) takes its length and scale from the text.
void addColumnRows(const QVector<Row> &rows, QHash<QString, QVector<Column>> &columns);
void addIndexRows(const QVector<Row> &rows, QHash<QString, QVector<Index>> &indexes);

// A type code of any source (DB2's one letter, an ODBC TABLE_TYPE, our ROUTINE) as a kind.
Kind kindOfCode(QStringView code);

// 'text' with quotes doubled: how a name from the settings or a request enters the SQL.
QString sqlLiteral(const QString &text);

} // namespace Catalog
