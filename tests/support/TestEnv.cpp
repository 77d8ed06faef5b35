#include "support/TestEnv.h"

#include "connection/Connection.h"
#include "connection/Session.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <odbcinst.h>
#include <stdexcept>
#include <unistd.h>

namespace {

QString &rootPath()
{
    static QString path;
    return path;
}

// Test folders whose process died without its exit handlers (a crash, the test watchdog).
void removeOrphans()
{
    const QDir temp(QDir::tempPath());
    for (const QString &name : temp.entryList({ QStringLiteral("stelvik-test-*") }, QDir::Dirs)) {
        QFile owner(temp.filePath(name) + QStringLiteral("/owner.pid"));
        if (!owner.open(QIODevice::ReadOnly))
            continue;
        const qint64 pid = owner.readAll().trimmed().toLongLong();
        owner.close();
        if (pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            QDir(temp.filePath(name)).removeRecursively();
    }
}

void removeRoot()
{
    if (!rootPath().isEmpty())
        QDir(rootPath()).removeRecursively();
}

void setEnv(const char *name, const QString &value)
{
    ::setenv(name, QFile::encodeName(value).constData(), 1);
}

// unixODBC may keep a per-process cache of what it read from the ini files (builds with its ini
// cache); a write through the installer API with every argument null empties that cache, so later
// look-ups in this process (SQLDataSources, SQLConnect) read the files again. Debian's 2.3.11
// already sees new writes at once, even from other processes; the call is harmless there.
void dropIniCache()
{
    SQLWritePrivateProfileString(nullptr, nullptr, nullptr, nullptr);
}

QString installerError()
{
    DWORD code = 0;
    char message[SQL_MAX_MESSAGE_LENGTH + 1] = {};
    WORD length = 0;
    if (SQLInstallerError(1, &code, message, sizeof message - 1, &length) == SQL_NO_DATA)
        return QStringLiteral("unknown installer error");
    return QString::fromLocal8Bit(message);
}

} // namespace

namespace TestEnv {

void setUp()
{
    if (!rootPath().isEmpty())
        return;
    QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/stelvik-test-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create the test folder " + pattern.toStdString());
    const QString root = QFile::decodeName(pattern);
    removeOrphans();
    QFile owner(root + QStringLiteral("/owner.pid"));
    if (owner.open(QIODevice::WriteOnly))
        owner.write(QByteArray::number(qint64(::getpid())));
    owner.close();

    // The driver list comes from the system configuration as it was before we redirected it.
    QString systemDir = QFile::decodeName(qgetenv("ODBCSYSINI"));
    if (systemDir.isEmpty())
        systemDir = QStringLiteral("/etc");
    QString driverList = QFile::decodeName(qgetenv("ODBCINSTINI"));
    if (driverList.isEmpty())
        driverList = QStringLiteral("odbcinst.ini");
    if (QDir::isRelativePath(driverList))
        driverList = systemDir + QLatin1Char('/') + driverList;

    QDir dir(root);
    for (const char *sub : { "home", "config", "data", "cache", "sys" })
        dir.mkpath(QLatin1String(sub));
    QFile::copy(driverList, root + QStringLiteral("/sys/odbcinst.ini"));
    for (const char *file : { "/sys/odbc.ini", "/odbc.ini" }) {
        QFile empty(root + QLatin1String(file));
        empty.open(QIODevice::WriteOnly);
    }

    setEnv("HOME", root + QStringLiteral("/home"));
    setEnv("XDG_CONFIG_HOME", root + QStringLiteral("/config"));
    setEnv("XDG_DATA_HOME", root + QStringLiteral("/data"));
    setEnv("XDG_CACHE_HOME", root + QStringLiteral("/cache"));
    setEnv("ODBCINI", root + QStringLiteral("/odbc.ini"));
    setEnv("ODBCSYSINI", root + QStringLiteral("/sys"));
    ::unsetenv("ODBCINSTINI");
    // No test reaches the user's own session bus, and so none the user's keyring: a test that
    // wants a keyring runs inside a private bus of its own (tests/keyring-session), which says so.
    if (qEnvironmentVariableIsEmpty("STELVIK_KEYRING_SESSION"))
        setEnv("DBUS_SESSION_BUS_ADDRESS", QStringLiteral("unix:path=") + root + "/no-bus");
    // The driver manager hands SQL text to drivers without wide entry points (SQLite) in the
    // character set of LC_CTYPE; a bare C locale would lose every non-ASCII character.
    if (qEnvironmentVariableIsEmpty("LC_ALL") && qEnvironmentVariableIsEmpty("LC_CTYPE"))
        ::setenv("LC_CTYPE", "C.UTF-8", 1);
    rootPath() = root;
    std::atexit(removeRoot);
    dropIniCache();
}

QString root()
{
    return rootPath();
}

void writeUserDsn(
    const QString &dsn, const QString &driver, const QList<QPair<QString, QString>> &keys)
{
    UWORD oldMode = ODBC_BOTH_DSN;
    SQLGetConfigMode(&oldMode);
    SQLSetConfigMode(ODBC_USER_DSN);
    const QByteArray name = dsn.toUtf8();
    bool ok = SQLWriteDSNToIni(name.constData(), driver.toUtf8().constData());
    for (int i = 0; ok && i < keys.size(); ++i)
        ok = SQLWritePrivateProfileString(name.constData(), keys[i].first.toUtf8().constData(),
            keys[i].second.toUtf8().constData(), "odbc.ini");
    const QString error = ok ? QString() : installerError();
    SQLSetConfigMode(oldMode);
    dropIniCache();
    if (!ok)
        throw std::runtime_error(
            "cannot register data source " + dsn.toStdString() + ": " + error.toStdString());
}

QString addSqliteDsn(const QString &dsn, const QStringList &statements)
{
    setUp();
    const QString file = rootPath() + QLatin1Char('/') + dsn + QStringLiteral(".db");
    QFile::remove(file);
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), { QStringLiteral("-bail"), file });
    if (!sqlite.waitForStarted())
        throw std::runtime_error("cannot start sqlite3: " + sqlite.errorString().toStdString());
    QByteArray script;
    for (const QString &statement : statements)
        script += statement.toUtf8() + ";\n";
    script += "select 1;\n"; // creates the file even without statements
    sqlite.write(script);
    sqlite.closeWriteChannel();
    sqlite.waitForFinished(-1);
    if (sqlite.exitStatus() != QProcess::NormalExit || sqlite.exitCode() != 0)
        throw std::runtime_error("sqlite3 failed for " + dsn.toStdString() + ": "
            + sqlite.readAllStandardError().toStdString());
    writeUserDsn(dsn, QStringLiteral("SQLite3"),
        { { QStringLiteral("Database"), file },
            { QStringLiteral("StepAPI"), QStringLiteral("1") } });
    return file;
}

Session &session()
{
    return Session::instance();
}

std::unique_ptr<Connection> connection(const QString &dsn)
{
    return std::make_unique<Connection>(session(), dsn);
}

} // namespace TestEnv
