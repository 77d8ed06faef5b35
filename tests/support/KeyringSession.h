#pragma once

#include <QString>

#include <optional>

// The desktop keyring of a test that runs inside tests/keyring-session: which state the script
// brought it into, and the login's password entry (service "Stelvik", key "ConnectParms") read
// and written with secret-tool, so that tests check the real Secret Service rather than our own
// reading of it.
namespace KeyringSession {

// "unlocked", "locked", "nodaemon" or "nobus"; empty when not run by tests/keyring-session.
QString mode();

// True when a keyring answers: the mode is "unlocked".
bool answers();

// Checks that the session is what mode() says: the bus, the keyring on it, and whether an
// entry can be stored. Empty when it is; otherwise what is wrong.
QString verify();

// The stored password, none when the keyring holds no entry (or answers no one).
std::optional<QString> password();

// Stores the password as the program would; throws std::runtime_error when the keyring
// refuses.
void setPassword(const QString &password);

// Removes the entry; harmless when there is none or no keyring answers.
void clearPassword();

} // namespace KeyringSession
