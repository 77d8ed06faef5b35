#pragma once

#include <QString>
#include <QStringList>

// A private PostgreSQL server for the tests: a temporary cluster with password authentication
// on 127.0.0.1 and a free port, its socket in the cluster's folder. Started on first use and
// stopped when the process exits (clusters of test processes that died are stopped by the next
// one). As root, initdb and pg_ctl run as the unprivileged `postgres` account through runuser.
// Failures throw std::runtime_error.
class PgServer
{
public:
    static PgServer &instance();
    ~PgServer();
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;

    int port() const { return m_port; }
    QString user() const; // a login role with a password
    QString password() const;
    // The connection parameters text of a login, "USER NAME=<user>\r\nPASSWORD=<password>\r\n";
    // without arguments, the server's own role's.
    static QString loginText(const QString &user, const QString &password);
    QString loginText() const { return loginText(user(), password()); }
    // The same login as a connection's Params list.
    QStringList loginParams() const;

    // Registers user data source `dsn` for `database` (created when missing, owned by user())
    // with psqlODBC, streaming (UseDeclareFetch=1, Fetch=<block>, BoolsAsChar=0); no
    // credentials in the data source.
    void addDsn(const QString &dsn, const QString &database = QStringLiteral("stelvik"));
    // Runs SQL through psql as the superuser; throws on failure.
    void exec(const QString &sql, const QString &database = QStringLiteral("stelvik"));
    // One value of a query run through psql as the superuser; throws on failure.
    QString value(const QString &sql, const QString &database = QStringLiteral("stelvik"));
    // Stops the server and starts it again. Fast: client sessions are cut; Immediate: the server
    // goes at once, as in a crash.
    enum class Stop { Fast, Immediate };
    void stop(Stop mode = Stop::Fast);
    void start();
    bool isRunning() const { return m_running; }

private:
    PgServer();
    void initCluster();
    void reapOrphans(); // stops clusters left behind by test processes that died
    void ensureDatabase(const QString &database);
    QString tool(const QString &name) const;
    QStringList asServerAccount(const QString &program, const QStringList &args) const;

    QString m_bin; // the server's bin folder
    QString m_dir; // temporary folder of the cluster, writable by the server account
    int m_port = 0;
    bool m_running = false;
    bool m_asRoot = false;
};
