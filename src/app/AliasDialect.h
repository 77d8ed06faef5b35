#pragma once

#include "connection/Session.h"
#include "sql/SqlLexer.h"

#include <QString>

// The SQL an alias speaks, from the driver its data source names: what the highlighter, the
// statement at the cursor, the guard rails, the script splitter and the error marks lex with.
// UI thread (the driver manager's data source list).
inline Sql::Dialect aliasDialect(const QString &alias)
{
    if (alias.trimmed().isEmpty())
        return Sql::Dialect::Db2; // no alias chosen yet: the program's own database
    const QString driver = Session::instance().AliasDriver(alias.trimmed());
    return driver.isEmpty() ? Sql::Dialect::Db2 : Sql::dialectOfDriver(driver);
}
