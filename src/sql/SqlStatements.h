#pragma once

#include <QString>
#include <QStringView>
#include <QVector>

// The statements of an SQL text: where each stands, what kind it is, and the qualified names it
// references. Built on one pass of the lexer, so no terminator inside a string, a comment or a
// delimited identifier ever splits a statement.
namespace Sql {

enum class StatementKind : unsigned char {
    Query, // SELECT, WITH, VALUES
    Change, // INSERT, UPDATE, DELETE, MERGE, TRUNCATE
    Definition, // CREATE, ALTER, DROP, RENAME, COMMENT, GRANT, REVOKE
    Call,
    Other,
};

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
    // An UPDATE or DELETE with no WHERE at its own level (one inside a subquery does not count).
    bool unfiltered = false;
};

// The statements of the text, empty ones (nothing but blanks and comments) left out. The
// terminator starts as ";" and changes at each "--#SET TERMINATOR x" line.
QVector<Statement> splitStatements(QStringView text);

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

// A name for the kind, for logs and questions: "query", "change", "definition", "call", "other".
QString kindName(StatementKind kind);

} // namespace Sql
