#pragma once

#include "settings/IniFile.h"

#include <QString>

// Makes sure the alias exists in the engine's configuration: a missing one is created as a DB2
// data source named dsn and saved; an existing one is never changed. Raises on engine failure.
void EnsureAlias(const QString &name, const QString &dsn);

// Writes TXNISOLATION=1 into the DB2 client's db2cli.ini (sections DB2P201 and DB2P401), found
// through the local machine's DB2 settings ("DB2 Path Name"). No DB2 settings, or a file the user
// may not change (nor create in its folder): nothing is written and nothing is raised.
void SetDB2Isolation();

// The directory with exactly one separator at its end (trimmed of blanks and control characters).
QString AppendBackslash(const QString &text);
