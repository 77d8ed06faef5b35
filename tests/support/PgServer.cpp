#include "support/PgServer.h"

#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <netinet/in.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char *const roleName = "stelvik";
const char *const rolePassword =
    "Stelvik;pw={1}"; // holds characters a connection string would parse
const int fetchBlock = 1000; // rows per round trip of psqlODBC's cursor

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        throw std::runtime_error("PgServer: no socket for a free port");
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    if (!port)
        throw std::runtime_error("PgServer: cannot find a free loopback port");
    return port;
}

// Runs a program to its end; throws with its output when it fails.
QString run(const QStringList &command, const QByteArray &input = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first(), command.mid(1));
    if (!process.waitForStarted())
        throw std::runtime_error("PgServer: cannot start " + command.first().toStdString());
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(-1);
    const QString output = QString::fromLocal8Bit(process.readAll());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error("PgServer: " + command.join(QLatin1Char(' ')).toStdString()
            + " failed:\n" + output.toStdString());
    return output;
}

QString quoteLiteral(QString text)
{
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QStringLiteral("''"))
        + QLatin1Char('\'');
}

} // namespace

PgServer &PgServer::instance()
{
    static PgServer server;
    return server;
}

PgServer::PgServer()
{
    TestEnv::setUp();
    QStringList versions =
        QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
        [](const QString &a, const QString &b) { return a.toDouble() < b.toDouble(); });
    for (auto it = versions.crbegin(); it != versions.crend() && m_bin.isEmpty(); ++it) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/") + *it + QStringLiteral("/bin");
        if (QFile::exists(bin + QStringLiteral("/initdb")))
            m_bin = bin;
    }
    if (m_bin.isEmpty())
        throw std::runtime_error("PgServer: no PostgreSQL server in /usr/lib/postgresql/*/bin "
                                 "(install the postgresql package; scripts/deps does)");
    m_asRoot = ::geteuid() == 0;

    // initdb refuses to run as root: the cluster then belongs to the server account and lives
    // in a folder of its own, outside the test folder that only root may enter.
    QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/stelvik-pg-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("PgServer: cannot create a folder for the cluster");
    m_dir = QFile::decodeName(pattern);
    reapOrphans();
    // Marks the cluster as ours, so that a later run can stop it should this process die
    // without running its exit handlers (a crash, the test watchdog).
    QFile owner(m_dir + QStringLiteral("/owner.pid"));
    if (owner.open(QIODevice::WriteOnly))
        owner.write(QByteArray::number(qint64(::getpid())));
    owner.close();
    if (m_asRoot) {
        const passwd *account = ::getpwnam("postgres");
        if (!account)
            throw std::runtime_error("PgServer: running as root but there is no postgres account");
        if (::chown(pattern.constData(), account->pw_uid, account->pw_gid) != 0)
            throw std::runtime_error("PgServer: cannot hand the cluster folder to postgres");
    }
    m_port = freePort();
    initCluster();
    start();
    exec(QStringLiteral("create role %1 login password %2")
             .arg(QLatin1String(roleName), quoteLiteral(QLatin1String(rolePassword))),
        QStringLiteral("postgres"));
    ensureDatabase(QStringLiteral("stelvik"));
}

PgServer::~PgServer()
{
    // Runs at exit: stopping must not throw, and a server that is already gone is fine.
    try {
        if (m_running)
            run(asServerAccount(tool(QStringLiteral("pg_ctl")),
                { QStringLiteral("stop"), QStringLiteral("-w"), QStringLiteral("-m"),
                    QStringLiteral("immediate"), QStringLiteral("-D"),
                    m_dir + QStringLiteral("/data") }));
    } catch (const std::exception &) { }
    if (!m_dir.isEmpty())
        QDir(m_dir).removeRecursively();
}

QString PgServer::user() const
{
    return QLatin1String(roleName);
}

QString PgServer::password() const
{
    return QLatin1String(rolePassword);
}

QString PgServer::loginText(const QString &user, const QString &password)
{
    return QStringLiteral("USER NAME=%1\r\nPASSWORD=%2\r\n").arg(user, password);
}

QStringList PgServer::loginParams() const
{
    return { QStringLiteral("USER NAME=") + user(), QStringLiteral("PASSWORD=") + password() };
}

QString PgServer::tool(const QString &name) const
{
    return m_bin + QLatin1Char('/') + name;
}

QStringList PgServer::asServerAccount(const QString &program, const QStringList &args) const
{
    QStringList command;
    if (m_asRoot)
        command << QStringLiteral("runuser") << QStringLiteral("-u") << QStringLiteral("postgres")
                << QStringLiteral("--");
    return command << program << args;
}

void PgServer::reapOrphans()
{
    const QDir temp(QDir::tempPath());
    for (const QString &name : temp.entryList({ QStringLiteral("stelvik-pg-*") }, QDir::Dirs)) {
        const QString dir = temp.filePath(name);
        QFile owner(dir + QStringLiteral("/owner.pid"));
        if (dir == m_dir || !owner.open(QIODevice::ReadOnly))
            continue;
        const qint64 pid = owner.readAll().trimmed().toLongLong();
        if (pid <= 0 || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue; // its test process is still running
        try {
            if (QFile::exists(dir + QStringLiteral("/data/postmaster.pid")))
                run(asServerAccount(tool(QStringLiteral("pg_ctl")),
                    { QStringLiteral("stop"), QStringLiteral("-w"), QStringLiteral("-m"),
                        QStringLiteral("immediate"), QStringLiteral("-D"),
                        dir + QStringLiteral("/data") }));
        } catch (const std::exception &) {
            continue; // leave what we could not stop
        }
        QDir(dir).removeRecursively();
    }
}

void PgServer::initCluster()
{
    // Local socket connections (psql as the superuser) are trusted; TCP needs a password.
    run(asServerAccount(tool(QStringLiteral("initdb")),
        { QStringLiteral("-D"), m_dir + QStringLiteral("/data"), QStringLiteral("-U"),
            QStringLiteral("postgres"), QStringLiteral("-E"), QStringLiteral("UTF8"),
            QStringLiteral("--locale=C"), QStringLiteral("--auth-local=trust"),
            QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("-N") }));
}

void PgServer::start()
{
    if (m_running)
        return;
    const QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off")
                                .arg(m_port)
                                .arg(m_dir);
    run(asServerAccount(tool(QStringLiteral("pg_ctl")),
        { QStringLiteral("start"), QStringLiteral("-w"), QStringLiteral("-D"),
            m_dir + QStringLiteral("/data"), QStringLiteral("-l"),
            m_dir + QStringLiteral("/server.log"), QStringLiteral("-o"), options }));
    m_running = true;
}

void PgServer::stop(Stop mode)
{
    if (!m_running)
        return;
    run(asServerAccount(tool(QStringLiteral("pg_ctl")),
        { QStringLiteral("stop"), QStringLiteral("-w"), QStringLiteral("-m"),
            mode == Stop::Fast ? QStringLiteral("fast") : QStringLiteral("immediate"),
            QStringLiteral("-D"), m_dir + QStringLiteral("/data") }));
    m_running = false;
}

void PgServer::exec(const QString &sql, const QString &database)
{
    run({ tool(QStringLiteral("psql")), QStringLiteral("-X"), QStringLiteral("-q"),
            QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), m_dir,
            QStringLiteral("-p"), QString::number(m_port), QStringLiteral("-U"),
            QStringLiteral("postgres"), QStringLiteral("-d"), database, QStringLiteral("-f"),
            QStringLiteral("-") },
        sql.toUtf8());
}

QString PgServer::value(const QString &sql, const QString &database)
{
    return run({ tool(QStringLiteral("psql")), QStringLiteral("-X"), QStringLiteral("-tA"),
                   QStringLiteral("-h"), m_dir, QStringLiteral("-p"), QString::number(m_port),
                   QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-d"), database,
                   QStringLiteral("-c"), sql })
        .trimmed();
}

void PgServer::ensureDatabase(const QString &database)
{
    const QString exists = value(
        QStringLiteral("select 1 from pg_database where datname = %1").arg(quoteLiteral(database)),
        QStringLiteral("postgres"));
    if (exists == QLatin1String("1"))
        return;
    exec(QStringLiteral("create database \"%1\" owner %2").arg(database, QLatin1String(roleName)),
        QStringLiteral("postgres"));
    // Tables that tests create through exec() belong to the superuser; the login role may use them.
    exec(QStringLiteral("alter default privileges in schema public grant all on tables to %1;"
                        "alter default privileges in schema public grant all on sequences to %1;")
             .arg(QLatin1String(roleName)),
        database);
}

void PgServer::addDsn(const QString &dsn, const QString &database)
{
    ensureDatabase(database);
    TestEnv::writeUserDsn(dsn, QStringLiteral("PostgreSQL Unicode"),
        { { QStringLiteral("Servername"), QStringLiteral("127.0.0.1") },
            { QStringLiteral("Port"), QString::number(m_port) },
            { QStringLiteral("Database"), database },
            { QStringLiteral("UseDeclareFetch"), QStringLiteral("1") },
            { QStringLiteral("Fetch"), QString::number(fetchBlock) },
            { QStringLiteral("BoolsAsChar"), QStringLiteral("0") },
            { QStringLiteral("SSLmode"), QStringLiteral("disable") },
            { QStringLiteral("CommLog"), QStringLiteral("0") },
            { QStringLiteral("Debug"), QStringLiteral("0") } });
}
