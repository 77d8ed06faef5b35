#pragma once

#include <QString>
#include <QStringList>

// The schema routing: which database a statement goes to, chosen from the schema names its text
// mentions, and why. The rule is the one the Run and Exec commands apply; the explanation adds
// what a person should know before the statement runs.
namespace Routing {

struct Choice
{
    QString alias; // the chosen group's alias ("DB2T301"); empty when no schema name matched
    QString schema; // the schema name that chose it
    QString name; // the qualified name it begins ("T301DBA.ORDERS"), else the schema name
    int offset = -1; // where that name stands in the text
    int line = 0; // its line, counted from 1
    // Every mention of the chosen group's names stands inside a comment or a string literal.
    bool onlyInCommentOrString = false;
    // The aliases of other groups whose names the statement uses too (outside comments and
    // strings), in the order of the table.
    QStringList otherAliases;
};

// The first group of the table any of whose schema names occurs anywhere in the text, a to z
// compared without case (inside a longer word, a comment or a string as well).
Choice route(const QString &text);

// The alias of the group that holds exactly this schema name (a to z without case), empty when
// none does.
QString aliasOfSchema(const QString &schema);
// The first schema name of each group, in the order of the table: one name per database of the
// family, the schema map's row when the user wrote none.
QStringList firstSchemas();

} // namespace Routing
