#include "connection/Aliases.h"

// Alias provisioning and the DB2 client setting: filled in by the login work.
void EnsureAlias(const QString &, const QString &) { }
void SetDB2Isolation() { }
QString AppendBackslash(const QString &text) { return text; }
void WriteIniString(const QString &, const QString &, const QString &, const QString &) { }
