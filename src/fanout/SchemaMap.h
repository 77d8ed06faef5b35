#pragma once

#include "sql/SqlLexer.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Which schema names mean the same thing on the databases of the family (T301DBA on one is
// T302DBA on the next), and a statement written for one alias rewritten for another: each
// qualified schema name among the statement's tokens becomes the name of its row that belongs to
// the target alias; strings, comments and names that are not qualified stay as they are. A value;
// any thread.
class SchemaMap
{
public:
    // The alias a schema name selects (the routing rule), empty when it selects none.
    using AliasOf = std::function<QString(const QString &schema)>;

    // rows: the names of each row, equivalent to each other; compared a to z without case.
    SchemaMap(QList<QStringList> rows, AliasOf aliasOf);

    // The rows of a setting: a list of rows, or one text whose rows are separated by ";" or line
    // breaks; the names of a row by commas or blanks. Empty rows are dropped.
    static QList<QStringList> parseRows(const QStringList &stored);

    struct Rewrite
    {
        QString text; // what goes to the alias
        // Why nothing goes to the alias (a schema the statement names has no equivalent
        // there); empty when the text runs.
        QString skipped;
    };
    Rewrite forAlias(const QString &text, const QString &alias, Sql::Dialect dialect) const;

    const QList<QStringList> &rows() const { return m_rows; }

private:
    // The row holding the name, -1 when none does.
    int rowOf(const QString &upperName) const;

    QList<QStringList> m_rows; // names upper-cased a to z
    AliasOf m_aliasOf;
};
