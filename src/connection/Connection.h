#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class ConnectionHandle;
class Session;

// One database connection, named by its alias. Created and owned by the main window, registered
// for its whole life with the Session it is handed, which must outlive it. UI thread only; datasets
// share its ODBC handle (below).
class Connection
{
public:
    Connection(Session &session, const QString &databaseName);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    QString DatabaseName; // the alias (ODBC data source) name
    QStringList Params; // KEY=VALUE lines; "USER NAME" and "PASSWORD" give the login
    bool LoginPrompt = false; // always off: the driver never shows a dialog of its own

    // Opens the data source DatabaseName with SQLConnect(dsn, uid, pwd) from Params.
    // Raises DatabaseError with the driver's diagnostic text on failure.
    void OpenConnection();
    // From the layer's own state: never a call into a connection a worker may be using.
    bool IsConnected() const;
    // Drops this object's hold on the ODBC connection; it is disconnected as soon as no dataset
    // uses it any more (on the thread that lets go of it last). Never blocks.
    void Close();

    // What OpenConnection does, as a call that any thread may make later: it opens a new ODBC
    // connection with this object's alias and login, given up by the driver after
    // loginTimeoutSeconds (0: never). The caller hands the result to adopt() on the UI thread.
    std::function<std::shared_ptr<ConnectionHandle>()> opener(int loginTimeoutSeconds) const;
    // Takes an open connection over as this object's own (null: nothing changes).
    void adopt(std::shared_ptr<ConnectionHandle> handle);

    // The shared ODBC connection, or null when not connected. Datasets keep a reference for as
    // long as they have a statement on it.
    std::shared_ptr<ConnectionHandle> handle() const;

private:
    Session &m_session;
    std::shared_ptr<ConnectionHandle> m_handle;
};
