#pragma once

#include <QDeadlineTimer>
#include <QString>

#include <optional>

// The password of the stored login in the desktop's keyring (the Secret Service on Linux, the
// Credential Manager on Windows), under service "Stelvik" and key "ConnectParms". Called on the
// credentials thread only (CredentialStore), never on the UI thread.
//
// Each call waits for the keyring's answer in an event loop of that thread, which has nothing
// else to do, and at most until its deadline; a keyring that has not answered by then counts as
// none. While such an unanswered request is still pending, later calls count the keyring as none at
// once.
namespace Keyring {

// How long one operation on the stored login may wait for the keyring, all its requests together.
constexpr int answerTimeoutMs = 3000;

// The stored password; none when nothing is stored, the keyring is locked, or none answered.
std::optional<QString> readPassword(QDeadlineTimer deadline);

// True when the keyring stored the password, replacing any stored before.
bool writePassword(const QString &password, QDeadlineTimer deadline);

// True when the keyring answered and holds no password for the login any more.
bool deletePassword(QDeadlineTimer deadline);

} // namespace Keyring
