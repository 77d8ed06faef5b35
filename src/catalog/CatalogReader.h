#pragma once

#include "catalog/CatalogSql.h"

#include <QString>

#include <memory>

class ConnectionHandle;
class StatementCancel;

// Reads a catalog from the database on a connection of the catalog's own: the source's SQL, or
// the ODBC catalog functions where the source has none. Every statement runs with the query
// time-out and may be cancelled from another thread. Used by one loader thread at a time; every
// failure throws DatabaseError.
class CatalogReader
{
public:
    CatalogReader(std::shared_ptr<ConnectionHandle> connection, int timeoutSeconds,
        std::shared_ptr<StatementCancel> cancel);

    // What the server calls itself decides the source; asked once.
    Catalog::Source source();
    // The ODBC catalog functions instead: for a server whose catalog our SQL cannot read.
    void useDriverFunctions()
    {
        m_source = Catalog::Source::Odbc;
        m_sourceKnown = true;
    }
    QVector<Catalog::Object> objects(const Catalog::Scope &scope);
    void columns(const Catalog::Scope &scope, QHash<QString, QVector<Catalog::Column>> &columns,
        QHash<QString, QVector<Catalog::Index>> &indexes);
    // The schema unqualified names fall into; empty where the source cannot tell.
    QString currentSchema();

private:
    QVector<Catalog::Row> query(const QString &sql);
    // The rows of a catalog function (SQLTables, SQLColumns, ...), its columns picked by number.
    template <typename Call>
    QVector<Catalog::Row> catalogRows(Call &&call, const QVector<int> &picked);

    std::shared_ptr<ConnectionHandle> m_connection;
    int m_timeout;
    std::shared_ptr<StatementCancel> m_cancel;
    bool m_sourceKnown = false;
    Catalog::Source m_source = Catalog::Source::Odbc;
};
