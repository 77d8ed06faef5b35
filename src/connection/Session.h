#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class Connection;

// The database engine as the program uses it: ODBC data sources are its aliases. One session
// serves the whole program (Session::instance()); UI thread only.
class Session
{
public:
    static Session &instance();

    // True when the user's or the system's ODBC configuration holds a data source of that name.
    bool AliasExists(const QString &name) const;
    // Adds a user data source with the driver name and KEY=VALUE lines (keys may hold blanks).
    // Works when the driver is not installed. On Unix the section is written into the user's
    // data source file (ODBCINI, or ~/.odbc.ini) with every other line kept as it was, in one
    // atomic step. Raises DatabaseError on failure.
    void CreateAlias(const QString &name, const QString &driver, const QStringList &params);
    // Makes created aliases persist; also drops the driver manager's cached ini contents so that
    // later look-ups in this process see them.
    void SaveAliasConfig();
    // Empties the list, then adds every user and system data source name, each once.
    void ListAliasNames(QStringList &list) const;
    // The driver a data source names (its section in the driver list, or its library), found as
    // the driver manager lists the data sources; empty for an unknown name.
    QString AliasDriver(const QString &name) const;

    // The registered connection whose DatabaseName equals name ignoring case, or nullptr.
    Connection *FindConnection(const QString &name) const;
    // Closes every open connection; the objects stay registered and can be opened again.
    // Never blocks on a connection that a worker is using: such a connection is released by the
    // last statement that uses it, on that statement's thread.
    void CloseConnections();

private:
    friend class Connection;
    void registerConnection(Connection *connection);
    void unregisterConnection(Connection *connection);

    std::vector<Connection *> m_connections; // not owned: a Connection unregisters itself
};
