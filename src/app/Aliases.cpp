#include "app/Aliases.h"

#include "connection/Session.h"
#include "settings/UserSettings.h"

#include <QFileInfo>
#include <QStringList>
#include <QVariant>

#include <cerrno>
#include <optional>
#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// True when the user may change the file: write to it, or create it in its folder. Only a
// refusal of access counts (as the DB2 settings key opened with full access would be refused);
// any other obstacle is left for the write to report.
bool mayWrite(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return true;
#else
    const QFileInfo file(path);
    const QByteArray target = QFile::encodeName(file.exists() ? path : file.absolutePath());
    if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) == 0)
        return true;
    return errno != EACCES && errno != EPERM && errno != EROFS;
#endif
}

} // namespace

void EnsureAlias(const QString &name, const QString &dsn)
{
    Session &session = Session::instance();
    if (session.AliasExists(name))
        return; // an existing alias is never changed, whatever its parameters
    const QStringList params { QStringLiteral("DB2 DSN=") + dsn,
        QStringLiteral("SQLPASSTHRU MODE=SHARED NOAUTOCOMMIT") };
    session.CreateAlias(name, QStringLiteral("DB2"), params);
    session.SaveAliasConfig();
}

void SetDB2Isolation()
{
    const std::optional<QString> folder = UserSettings::db2PathName();
    if (!folder || folder->isEmpty())
        return;
    const QString path = AppendBackslash(*folder) + QStringLiteral("db2cli.ini");
    // A client installed by another user: without full access nothing is written, silently.
    if (!mayWrite(path))
        return;
    WriteIniString(
        path, QStringLiteral("DB2P201"), QStringLiteral("TXNISOLATION"), QStringLiteral("1"));
    WriteIniString(
        path, QStringLiteral("DB2P401"), QStringLiteral("TXNISOLATION"), QStringLiteral("1"));
}

QString AppendBackslash(const QString &text)
{
#ifdef Q_OS_WIN
    const QChar separator = QLatin1Char('\\');
#else
    // A backslash is an ordinary file name character here.
    const QChar separator = QLatin1Char('/');
#endif
    // Blanks and control characters count as white space at both ends.
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= ' ')
        ++first;
    while (last > first && text.at(last - 1).unicode() <= ' ')
        --last;
    QString result = text.mid(first, last - first);
    if (!result.endsWith(separator))
        result += separator;
    return result;
}
