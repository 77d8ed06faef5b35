#pragma once

#include "catalog/CatalogSnapshot.h"
#include "sql/SqlLexer.h"

#include <QString>
#include <QStringView>
#include <QVector>

// What the editor may offer at a cursor: the statement's context read from the dialect's tokens
// (after FROM a table, after "t." a column, in SELECT or WHERE the columns of the statement's
// tables), then the candidates a catalog snapshot holds for it. Pure and quick: any thread, no
// database, no widgets; the editor runs it on every keystroke while its list is open.
namespace Catalog {

// A table the statement names, as written: schema empty when unqualified, correlation empty
// when it has none.
struct TableRef
{
    QString schema;
    QString name;
    QString correlation;
};

struct CompletionContext
{
    enum class Want : unsigned char {
        Nothing, // inside a string or a comment, or no statement
        Keywords, // where neither a table nor a column fits (a statement's start, an alias)
        Objects, // a table or view: after FROM, JOIN, INTO, UPDATE, TABLE, after "schema."
        Columns, // a column: in SELECT, WHERE, ON, SET, ..., after "t."
        StarColumns, // "*" or "t.*" just before the cursor: the column list it stands for
    };
    Want want = Want::Nothing;
    int from = 0; // the text a candidate replaces: the word at the cursor, dot and quote kept out
    int to = 0;
    QString prefix; // what is typed of that word, unquoted
    bool quoted = false; // the word opens with a quote: candidates go in quoted
    // The name before the dot ("T301DBA" of "T301DBA.ORD", "o" of "o.am"); before that, a
    // schema when there are two ("S" of "S.T.col").
    QString qualifier;
    QString qualifierSchema;
    QVector<TableRef> tables; // every table of the statement, those after the cursor too
    int statementFrom = 0; // the statement's piece of the text, for routing
    int statementTo = 0;
};

// The context at the cursor (an offset into text).
CompletionContext completionContext(QStringView text, int cursor, Sql::Dialect dialect);

struct Candidate
{
    enum class Kind : unsigned char {
        Schema, // inserts "SCHEMA." and asks again
        Correlation, // a table's correlation name: inserts "o." and asks again
        Object,
        Column,
        Keyword,
        ColumnList, // what "*" stands for
    };
    Kind kind = Kind::Keyword;
    QString label; // as the list shows it
    QString detail; // beside it: "table in T301DBA", "DECIMAL(12,2)", "schema, DB2T302"
    QString insert; // what replaces the context's range
    bool continues() const { return kind == Kind::Schema || kind == Kind::Correlation; }
};

// A schema as the list shows it, with the alias its names route to (empty: the one in use).
struct SchemaEntry
{
    QString name;
    QString routesTo;
};

// The tables every statement of the text names.
QVector<TableRef> statementTables(QStringView text, Sql::Dialect dialect);

// The table of the snapshot a reference means: qualified, that one; unqualified, the one in
// the dialect's default schema, else the only one, else the first by schema. Null when none.
const Object *resolveTable(const Snapshot &snapshot, const TableRef &table, Sql::Dialect dialect);

struct Completion
{
    QVector<Candidate> candidates;
    // Tables of the statement whose columns the snapshot does not hold yet: ask for them and
    // complete again once they are in.
    QVector<const Object *> missingColumns;
};

// The candidates for a context, at most limit of each kind, best first. Without a snapshot only
// keywords come; schemas come from `schemas` (empty: the snapshot's own).
Completion complete(const CompletionContext &context, const Snapshot *snapshot,
    Sql::Dialect dialect, const QVector<SchemaEntry> &schemas = {}, int limit = 400);

// The table a name under the cursor stands for, as F2 describes it: "S.T", "T", a correlation
// name, or a column ("o.AMOUNT", or a column of one of the statement's tables). Null when none.
const Object *tableAt(QStringView text, int cursor, Sql::Dialect dialect, const Snapshot &snapshot,
    bool *columnsMissing = nullptr);

// A name as the dialect reads it back: quoted when it is not an ordinary identifier that folds
// to itself (DB2 folds to upper case, PostgreSQL to lower, SQLite keeps case).
QString quoteName(const QString &name, Sql::Dialect dialect);
// "S.T", each part quoted as needed.
QString qualifiedName(const Object &object, Sql::Dialect dialect);
// A column's type as the lists show it: "VARCHAR(40)", "DECIMAL(12,2)", "INTEGER".
QString typeText(const Column &column);

// The keywords completion offers for a dialect, upper case, sorted.
const QStringList &keywords(Sql::Dialect dialect);

} // namespace Catalog
