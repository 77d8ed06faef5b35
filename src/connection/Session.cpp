#include "connection/Session.h"

#include "connection/Connection.h"
#include "connection/DatabaseError.h"
#include "connection/OdbcHandle.h"
#include "settings/IniFile.h"

#include <QFile>

#include <algorithm>
#include <odbcinst.h>
#ifndef Q_OS_WIN
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

// unixODBC may cache what it read of the ini files per process (builds with its ini cache);
// a write with every argument null empties that cache so later look-ups read the files again.
void dropIniCache()
{
    SQLWritePrivateProfileString(nullptr, nullptr, nullptr, nullptr);
}

#ifdef Q_OS_WIN
QString installerError()
{
    DWORD code = 0;
    char message[SQL_MAX_MESSAGE_LENGTH + 1] = {};
    WORD length = 0;
    QStringList records;
    for (WORD record = 1; record <= 8; ++record) {
        if (!SQL_SUCCEEDED(SQLInstallerError(record, &code, message, sizeof message - 1, &length)))
            break;
        records << QString::fromLocal8Bit(message).trimmed();
    }
    return records.isEmpty() ? QStringLiteral("ODBC installer call failed")
                             : records.join(QLatin1Char('\n'));
}

// Sets the installer's configuration mode for the lifetime of the object, then restores it.
class ConfigMode
{
public:
    explicit ConfigMode(UWORD mode)
    {
        SQLGetConfigMode(&m_old);
        SQLSetConfigMode(mode);
    }
    ~ConfigMode() { SQLSetConfigMode(m_old); }
    ConfigMode(const ConfigMode &) = delete;
    ConfigMode &operator=(const ConfigMode &) = delete;

private:
    UWORD m_old = ODBC_BOTH_DSN;
};

bool userDsnExists(const QByteArray &name)
{
    ConfigMode mode(ODBC_USER_DSN);
    char driver[256] = {};
    SQLGetPrivateProfileString(name.constData(), "Driver", "", driver, sizeof driver, "odbc.ini");
    if (driver[0])
        return true;
    // A section without a Driver key still counts: list its keys.
    char keys[4096] = {};
    SQLGetPrivateProfileString(name.constData(), nullptr, "", keys, sizeof keys, "odbc.ini");
    return keys[0] != 0;
}
#else
// The file of the user's data sources as unixODBC finds it: ODBCINI when set, otherwise
// .odbc.ini in the home folder of the password database (not HOME).
QString userDataSourceFile()
{
    const QByteArray odbcini = qgetenv("ODBCINI");
    if (!odbcini.isEmpty())
        return QFile::decodeName(odbcini);
    const passwd *user = ::getpwuid(::getuid());
    const QString home =
        user && user->pw_dir ? QFile::decodeName(user->pw_dir) : QStringLiteral("/home");
    return home + QStringLiteral("/.odbc.ini");
}
#endif

} // namespace

Session &Session::instance()
{
    static Session session;
    return session;
}

bool Session::AliasExists(const QString &name) const
{
    QStringList names;
    ListAliasNames(names);
    return names.contains(name, Qt::CaseInsensitive);
}

void Session::CreateAlias(const QString &name, const QString &driver, const QStringList &params)
{
    QList<QPair<QString, QString>> entries { { QStringLiteral("Driver"), driver } };
    for (const QString &line : params) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0) // keys keep their blanks exactly ("DB2 DSN", "SQLPASSTHRU MODE")
            entries.append({ line.left(equals), line.mid(equals + 1) });
    }
#ifdef Q_OS_WIN
    const QByteArray dsn = name.toLocal8Bit();
    // SQLWriteDSNToIni on an existing data source wipes its other keys: only for new names.
    const bool exists = userDsnExists(dsn);
    ConfigMode mode(ODBC_USER_DSN);
    bool ok = exists ? SQLWritePrivateProfileString(
                  dsn.constData(), "Driver", driver.toLocal8Bit().constData(), "odbc.ini")
                     : SQLWriteDSNToIni(dsn.constData(), driver.toLocal8Bit().constData());
    for (qsizetype i = 1; ok && i < entries.size(); ++i)
        ok = SQLWritePrivateProfileString(dsn.constData(),
            entries.at(i).first.toLocal8Bit().constData(),
            entries.at(i).second.toLocal8Bit().constData(), "odbc.ini");
    if (!ok)
        throw DatabaseError(QStringLiteral("Cannot create alias ") + name + QStringLiteral(": ")
            + installerError());
#else
    // The installer's calls rewrite the whole file and drop the user's comments and spacing;
    // the section is written like any other ini line, the rest of the file kept as it was.
    try {
        WriteIniStrings(userDataSourceFile(), name, entries);
    } catch (const std::exception &error) {
        throw DatabaseError(QStringLiteral("Cannot create alias ") + name + QStringLiteral(": ")
            + errorText(error));
    }
#endif
    dropIniCache();
}

void Session::SaveAliasConfig()
{
    // A data source is written to its file at once; what remains is to make this process see it.
    dropIniCache();
}

void Session::ListAliasNames(QStringList &list) const
{
    list.clear();
    const SQLHENV env = Odbc::environment();
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLWCHAR name[SQL_MAX_DSN_LENGTH * 4 + 1];
        SQLWCHAR description[512];
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT descriptionLength = 0;
        const SQLRETURN rc = SQLDataSourcesW(env, direction, name, SQLSMALLINT(std::size(name)),
            &nameLength, description, SQLSMALLINT(std::size(description)), &descriptionLength);
        if (rc == SQL_NO_DATA)
            break;
        Odbc::check(rc, SQL_HANDLE_ENV, env);
        direction = SQL_FETCH_NEXT;
        const QString alias =
            Odbc::fromWide(name, qMin<qsizetype>(nameLength, std::size(name) - 1));
        // unixODBC's own sections are no data sources; a name in both the user's and the
        // system's configuration is listed once.
        if (alias.compare(QLatin1String("ODBC"), Qt::CaseInsensitive) == 0
            || alias.compare(QLatin1String("Default"), Qt::CaseInsensitive) == 0 || alias.isEmpty()
            || list.contains(alias, Qt::CaseInsensitive))
            continue;
        list << alias;
    }
}

QString Session::AliasDriver(const QString &name) const
{
    const SQLHENV env = Odbc::environment();
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    for (;;) {
        SQLWCHAR alias[SQL_MAX_DSN_LENGTH * 4 + 1];
        SQLWCHAR driver[512];
        SQLSMALLINT aliasLength = 0;
        SQLSMALLINT driverLength = 0;
        const SQLRETURN rc = SQLDataSourcesW(env, direction, alias, SQLSMALLINT(std::size(alias)),
            &aliasLength, driver, SQLSMALLINT(std::size(driver)), &driverLength);
        if (!SQL_SUCCEEDED(rc))
            return QString();
        direction = SQL_FETCH_NEXT;
        // The second text is the data source's driver, as the driver manager reports it.
        if (Odbc::fromWide(alias, qMin<qsizetype>(aliasLength, std::size(alias) - 1))
                .compare(name, Qt::CaseInsensitive)
            == 0)
            return Odbc::fromWide(driver, qMin<qsizetype>(driverLength, std::size(driver) - 1));
    }
}

Connection *Session::FindConnection(const QString &name) const
{
    for (Connection *connection : m_connections)
        if (connection->DatabaseName.compare(name, Qt::CaseInsensitive) == 0)
            return connection;
    return nullptr;
}

void Session::CloseConnections()
{
    for (Connection *connection : m_connections)
        connection->Close();
}

void Session::registerConnection(Connection *connection)
{
    m_connections.push_back(connection);
}

void Session::unregisterConnection(Connection *connection)
{
    m_connections.erase(
        std::remove(m_connections.begin(), m_connections.end(), connection), m_connections.end());
}
