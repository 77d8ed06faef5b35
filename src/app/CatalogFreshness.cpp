#include "app/CatalogFreshness.h"

#include "app/AliasDialect.h"
#include "connection/Connection.h"
#include "connection/ConnectionHandle.h"
#include "connection/Session.h"
#include "settings/UserSettings.h"
#include "sql/SqlStatements.h"

CatalogFreshness::CatalogFreshness(Catalog::CatalogService &catalogs, QObject *parent)
    : QObject(parent)
    , m_catalogs(catalogs)
{ }

Catalog::CatalogService::AliasSettings CatalogFreshness::settingsOf(const QString &alias)
{
    Catalog::CatalogService::AliasSettings read;
    read.schemas = UserSettings::catalogSchemas(alias);
    if (const auto age = UserSettings::catalogMaxAgeMinutes())
        read.maxAgeMinutes = *age;
    if (const auto timeout = UserSettings::catalogTimeout())
        read.timeoutSeconds = *timeout;
    read.driverFunctions = UserSettings::catalogDriverFunctions(alias);
    return read;
}

void CatalogFreshness::aliasSelected(const QString &alias)
{
    // A name being typed into the box is no alias yet.
    if (!alias.trimmed().isEmpty() && Session::instance().AliasExists(alias.trimmed()))
        m_catalogs.ensureLoaded(alias.trimmed());
}

void CatalogFreshness::aliasInUse(const QString &alias)
{
    const Connection *connection = Session::instance().FindConnection(alias);
    const std::shared_ptr<ConnectionHandle> handle = connection ? connection->handle() : nullptr;
    if (handle)
        m_catalogs.setLogin(alias, handle->user(), handle->password());
    m_catalogs.ensureLoaded(alias);
}

void CatalogFreshness::statementEnded(const QString &alias, const QString &sql, bool succeeded)
{
    if (!succeeded)
        return; // a definition that failed changed nothing
    for (const QString &schema : touchedSchemas(sql, aliasDialect(alias)))
        m_catalogs.reloadSchema(alias, schema);
}

QStringList CatalogFreshness::touchedSchemas(const QString &sql, Sql::Dialect dialect)
{
    QStringList schemas;
    for (const Sql::Statement &statement : Sql::splitStatements(sql, dialect)) {
        if (!(statement.effects & Sql::ChangesDefinitions))
            continue;
        // The object defined is named before its body: a qualified name after "(" or AS is
        // one the definition reads from, and the object itself is then unqualified.
        const QStringView text =
            QStringView(sql).mid(statement.begin, statement.end - statement.begin);
        const qsizetype paren = text.indexOf(QLatin1Char('('));
        const QVector<Sql::QualifiedName> names =
            Sql::qualifiedNames(sql, statement.begin, statement.end);
        QString schema;
        if (!names.isEmpty()) {
            const qsizetype at = names.first().offset - statement.begin;
            const QString head =
                Sql::asciiUpper(text.left(paren < 0 ? text.size() : paren).toString());
            const qsizetype as = head.indexOf(QLatin1String(" AS "));
            if ((paren < 0 || at < paren) && (as < 0 || at < as))
                schema = names.first().schema;
        }
        if (!schemas.contains(schema))
            schemas << schema;
    }
    return schemas;
}
