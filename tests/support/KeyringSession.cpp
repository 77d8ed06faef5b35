#include "support/KeyringSession.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>

#include <stdexcept>

namespace {

// The attributes under which QtKeychain keeps an entry in the Secret Service; storing with all
// of them replaces the program's own entry.
const QStringList entryAttributes = { QStringLiteral("user"), QStringLiteral("ConnectParms"),
    QStringLiteral("server"), QStringLiteral("Stelvik") };
const QStringList storedAttributes = { QStringLiteral("xdg:schema"),
    QStringLiteral("org.qt.keychain"), QStringLiteral("type"), QStringLiteral("plaintext") };

struct ToolResult
{
    bool ok = false;
    QByteArray output;
    QByteArray errors;
};

// Runs secret-tool with the arguments, feeding it the input (which it stores byte for byte).
ToolResult secretTool(const QStringList &arguments, const QByteArray &input = QByteArray())
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), arguments);
    if (!tool.waitForStarted())
        throw std::runtime_error("cannot start secret-tool: " + tool.errorString().toStdString());
    tool.write(input);
    tool.closeWriteChannel();
    tool.waitForFinished(-1);
    return { tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0,
        tool.readAllStandardOutput(), tool.readAllStandardError() };
}

} // namespace

namespace KeyringSession {

QString mode()
{
    return qEnvironmentVariable("STELVIK_KEYRING_SESSION");
}

bool answers()
{
    return mode() == QLatin1String("unlocked");
}

QString verify()
{
    const QString m = mode();
    if (m.isEmpty())
        return QStringLiteral("not run inside tests/keyring-session");
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() != (m != QLatin1String("nobus")))
        return QStringLiteral("session bus connected: %1").arg(bus.isConnected());
    const bool keyringRuns = m == QLatin1String("unlocked") || m == QLatin1String("locked");
    if (bus.isConnected()
        && bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets"))
            != keyringRuns)
        return QStringLiteral("keyring on the bus: %1").arg(!keyringRuns);
    const QStringList probe = { QStringLiteral("stelvik-probe"), QStringLiteral("1") };
    const ToolResult stored = secretTool(
        QStringList { QStringLiteral("store"), QStringLiteral("--label=probe") } + probe, "probe");
    secretTool(QStringList { QStringLiteral("clear") } + probe);
    if (stored.ok != answers())
        return QStringLiteral("an entry could be stored: %1 (%2)")
            .arg(stored.ok)
            .arg(QString::fromLocal8Bit(stored.errors.trimmed()));
    return QString();
}

std::optional<QString> password()
{
    const ToolResult lookup =
        secretTool(QStringList { QStringLiteral("lookup") } + entryAttributes);
    if (!lookup.ok)
        return std::nullopt;
    return QString::fromUtf8(lookup.output);
}

void setPassword(const QString &password)
{
    const ToolResult stored = secretTool(
        QStringList { QStringLiteral("store"), QStringLiteral("--label=Stelvik test entry") }
            + entryAttributes + storedAttributes,
        password.toUtf8());
    if (!stored.ok)
        throw std::runtime_error("secret-tool store failed: " + stored.errors.toStdString());
}

void clearPassword()
{
    secretTool(QStringList { QStringLiteral("clear") } + entryAttributes);
}

} // namespace KeyringSession
