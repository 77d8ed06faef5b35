#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class Connection;
class QueryControl;
class QWidget;

// The login and the connect: the window's in-memory copy of the stored login, its reads and
// stores through the credentials thread, the login dialog, and opening an alias's connection
// off the UI thread. Owns the connections it creates. Owned by the window; UI thread only.
class LoginFlow
{
public:
    // cache: the window's in-memory copy of the stored login. busyChanged: a read, or a store
    // a command waits for, began or ended (the window's busy state includes them).
    LoginFlow(
        QWidget *window, QueryControl *control, QString &cache, std::function<void()> busyChanged);
    ~LoginFlow();

    // The stored login, waiting for the credentials thread without handling events.
    QString get();
    void set(const QString &text);
    // The stored login, as get and set give and take it, but without waiting: the keyring
    // answers on a thread of its own, and `then` follows from the event loop (at once when the
    // in-memory copy answers). A read waits for the stores made before it; a store that fails
    // is reported and skips `then`.
    void read(std::function<void(const QString &)> then);
    void store(const QString &text, std::function<void()> then);

    // The login is still being read or stored (before or after a connect, or by a logout).
    bool pending() const { return m_reads > 0 || m_stores > 0; }
    // A read, or a store a command waits for, is under way: the commands wait as for a connect.
    bool holdsCommands() const { return m_reads > 0 || m_commandStores > 0; }

    // The window's ConnectDatabase: see there.
    void connect(const QString &name, std::function<void(bool)> done);
    // A connect still reading the stored login goes no further.
    void forgetRequest() { ++m_request; }
    // Closes every connection of the session (the disconnects run on a reaper thread) and
    // forgets the stored login; a connect under way is abandoned.
    void logout();

private:
    void open(const QString &name, Connection *connection, const QString &stored,
        std::function<void(bool)> done); // connect once the stored login is known
    // The driver's login timeout in seconds: the user's setting "LoginTimeout", 30 when unset.
    static int loginTimeout();

    QWidget *m_window; // not owned: the window owns this room
    QueryControl *m_control; // not owned: the window's
    QString &m_cache; // the window's
    std::function<void()> m_busyChanged;
    std::vector<std::unique_ptr<Connection>> m_connections; // created by connect
    int m_reads = 0; // reads under way, their `then` included
    int m_stores = 0; // stores under way
    int m_commandStores = 0; // of those, the ones a command waits for (not Close and Logout's)
    int m_version = 0; // bumped by every store: an older store's end leaves the copy alone
    std::vector<std::function<void()>> m_afterStores; // reads waiting for them
    int m_request = 0; // a connect's read is dropped once a later command bumped this
};
