#pragma once

#include "catalog/CatalogService.h"
#include "sql/SqlLexer.h"

#include <QObject>
#include <QString>

// Keeps the catalogs in step with what the window does: an alias chosen or run on is loaded
// (with the login its connection was opened with), a definition Stelvik ran reads the schema it
// touched again, and the settings say per alias what to read. Owned by the window; UI thread.
class CatalogFreshness : public QObject
{
    Q_OBJECT

public:
    CatalogFreshness(Catalog::CatalogService &catalogs, QObject *parent);

    // The settings of one alias: "CatalogSchemas/<ALIAS>" (the include list, comma-separated),
    // "CatalogMaxAgeMinutes" (720; 0: never read again by age), "CatalogTimeout" (seconds, 30),
    // "CatalogDriverFunctions/<ALIAS>" (true: the driver's catalog functions, not our SQL).
    static Catalog::CatalogService::AliasSettings settingsOf(const QString &alias);

    // The alias shows in the alias box: what the cache has of it is loaded.
    void aliasSelected(const QString &alias);
    // A statement is about to run on the alias's open connection.
    void aliasInUse(const QString &alias);
    // A statement ended; a definition that worked reads its schema again.
    void statementEnded(const QString &alias, const QString &sql, bool succeeded);

    // The schemas a text's definitions touch ("" for an unqualified name: the current schema).
    static QStringList touchedSchemas(const QString &sql, Sql::Dialect dialect);

private:
    Catalog::CatalogService &m_catalogs;
};
