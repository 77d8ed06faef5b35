#pragma once

#include "sql/SqlLexer.h"

#include <QString>
#include <QStringView>
#include <QVector>

// The statements of an SQL text: where each stands, what it does at every level, and the
// qualified names it references. Built on one pass of the dialect's lexer, so no terminator
// inside a string, a comment, a delimited identifier or a compound body (BEGIN ... END, a
// trigger's body) ever splits a statement. What the guard rails, Run Script, the statement at
// the cursor and the highlighter know of SQL comes from here.
namespace Sql {

// What a statement is at its top level: how it is run (a query is opened, the rest executed)
// and what the script log calls it.
enum class StatementKind : unsigned char {
    Query, // SELECT, WITH ... SELECT, VALUES, EXPLAIN, a PRAGMA that reads, SHOW
    Change, // INSERT, UPDATE, DELETE, MERGE, REPLACE, TRUNCATE, COPY, WITH ... DELETE
    Definition, // CREATE, ALTER, DROP, RENAME, COMMENT, GRANT, REVOKE
    Call, // CALL, a DO block, a compound statement
    Transaction, // COMMIT, ROLLBACK, BEGIN, SAVEPOINT, ...
    Session, // SET, RESET, DECLARE, ATTACH, ...
    Other, // anything else: a vendor command, an unknown word
};

// What a statement does, at any level (a DELETE inside WITH, EXPLAIN ANALYZE, OLD/NEW/FINAL
// TABLE (...), a compound body or a DO block counts as the statement's own). A set of bits.
enum Effect : unsigned {
    Reads = 1,
    ChangesData = 2,
    ChangesDefinitions = 4,
    CallsRoutine = 8,
    ControlsTransaction = 16,
    SetsSession = 32,
    UnknownEffect = 64, // a vendor command, an assigning PRAGMA, dynamic SQL, an unknown word
};
using Effects = unsigned;

// The effects that change something, or may: what a production alias asks about.
constexpr Effects ChangingEffects = ChangesData | ChangesDefinitions | CallsRoutine | UnknownEffect;

struct Statement
{
    int begin = 0; // offset of the statement's first token (comments before it left out)
    int end = 0; // offset just past its last token; the terminator is not part of it
    // The piece of text it owns: from the end of the previous statement's terminator to the end
    // of its own; blanks, comments and empty statements around it included, so the pieces of
    // all statements cover the whole text.
    int from = 0;
    int to = 0;
    int line = 1; // the line of begin, counted from 1
    StatementKind kind = StatementKind::Other;
    Effects effects = 0;
    // An UPDATE or DELETE that runs with no WHERE at its own level, at any level of the
    // statement (a WHERE in a subquery does not count; one in a definition's body never runs).
    bool unfiltered = false;
    // Not empty when the statement does not end: what is left open at the end of the text ("a
    // string", "a BEGIN ... END body", ...), and where that began.
    QString open;
    int openAt = -1;
    int openLine = 0;
};

// The statements of the text, empty ones (nothing but blanks and comments) left out. The
// terminator starts as ";" and changes at each "--#SET TERMINATOR x" line; under ";" a compound
// body (and, in PostgreSQL, a parenthesis) holds its inner terminators.
QVector<Statement> splitStatements(QStringView text, Dialect dialect = Dialect::Db2);

// The statement at a cursor offset: the one whose piece holds it, except that a cursor after a
// terminator on the line where that statement ends means that statement. -1 when the text holds
// no statement.
int statementAt(QStringView text, const QVector<Statement> &statements, int offset);

struct QualifiedName
{
    QString schema; // as the database names it: ordinary identifiers in upper case
    QString object;
    int offset = 0; // where the schema name starts in the text
};

// SCHEMA.OBJECT references outside comments and strings (either part may be a delimited
// identifier), in the order they appear between from and to.
QVector<QualifiedName> qualifiedNames(QStringView text, int from = 0, int to = -1);

// A name for the kind, for logs and questions: "query", "change", "definition", "call",
// "transaction", "session", "other".
QString kindName(StatementKind kind);
// The effects in words, strongest first: "changes data, calls a routine".
QString effectsText(Effects effects);

} // namespace Sql
