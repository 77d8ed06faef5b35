#include "credentials/CredentialStore.h"

#include "credentials/Keyring.h"
#include "settings/ParmStore.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QSettings>

#include <optional>
#include <stdexcept>

namespace {

// The parameter text as the login builds it, split into what goes where.
struct Login
{
    QString userLine; // "USER NAME=…" CR LF: kept in the settings
    QString password; // kept in the keyring
};

std::optional<Login> splitLogin(const QString &text)
{
    static const QRegularExpression shape(
        QStringLiteral("\\A(USER NAME=[^\\r\\n]*\\r\\n)PASSWORD=([^\\r\\n]*)\\r\\n\\z"));
    const QRegularExpressionMatch match = shape.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return Login { match.captured(1), match.captured(2) };
}

// A stored value whose password lives in the keyring.
bool isUserLineOnly(const QString &text)
{
    static const QRegularExpression shape(QStringLiteral("\\AUSER NAME=[^\\r\\n]*\\r\\n\\z"));
    return shape.match(text).hasMatch();
}

QString joined(const QString &userLine, const QString &password)
{
    return userLine + QStringLiteral("PASSWORD=") + password + QStringLiteral("\r\n");
}

// The stored value as it stands, or the empty text when it cannot be read.
QString storedTextOrEmpty()
{
    try {
        return readConnectParms();
    } catch (const std::exception &) {
        return QString(); // a value of another type names no keyring entry
    }
}

} // namespace

namespace CredentialStore {

bool keyringChosen()
{
    const std::unique_ptr<QSettings> settings = openUserSettings();
    const QString choice = settings->value(QStringLiteral("CredentialStore")).toString();
    return choice.trimmed().compare(QLatin1String("settings"), Qt::CaseInsensitive) != 0;
}

QString read()
{
    const QString stored = readConnectParms();
    const QDeadlineTimer deadline(Keyring::answerTimeoutMs);

    if (isUserLineOnly(stored)) {
        const std::optional<QString> password = Keyring::readPassword(deadline);
        // Without its password the set is no use: the login dialog asks, and the new login
        // replaces the value. The value stays until then, should the keyring answer later.
        if (!password)
            return QString();
        const QString text = joined(stored, *password);
        if (!keyringChosen() && survivesScrambling(text)) {
            // The user chose the settings: the password moves back there, and leaves the keyring
            // only once the settings hold it.
            try {
                writeConnectParms(text);
                Keyring::deletePassword(deadline);
            } catch (const std::exception &) {
                // The settings keep the user line and the keyring the password; the move is
                // tried again at the next start, and this login works meanwhile.
            }
        }
        return text;
    }

    // A value that still holds its password: written by an older version, or while no keyring
    // answered. It works as it is; its password moves into the keyring when one answers.
    if (keyringChosen()) {
        const std::optional<Login> login = splitLogin(stored);
        if (login && Keyring::writePassword(login->password, deadline)) {
            try {
                writeConnectParms(login->userLine);
            } catch (const std::exception &) {
                // The settings keep the whole text, which still works; the move is tried again
                // at the next start.
            }
        }
    }
    return stored;
}

void write(const QString &text)
{
    const QDeadlineTimer deadline(Keyring::answerTimeoutMs);

    if (keyringChosen()) {
        const std::optional<Login> login = splitLogin(text);
        if (login && survivesScrambling(login->userLine)
            && Keyring::writePassword(login->password, deadline)) {
            writeConnectParms(login->userLine);
            return;
        }
        writeConnectParms(text);
        if (text.isEmpty())
            Keyring::deletePassword(deadline);
        return;
    }

    // Only the settings are written; a password that an earlier store put in the keyring is
    // removed there, and the keyring is asked only when the stored value says it holds one.
    const bool keyringHeldPassword = isUserLineOnly(storedTextOrEmpty());
    writeConnectParms(text);
    if (keyringHeldPassword)
        Keyring::deletePassword(deadline);
}

} // namespace CredentialStore
