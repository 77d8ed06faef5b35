#pragma once

#include <QObject>
#include <QString>

#include <exception>
#include <functional>

// The stored login behind getDBParms and setDBParms. With a keyring, the settings value
// "ConnectParms" holds only the scrambled user line ("USER NAME=…" CR LF) and the password is in
// the desktop's keyring (credentials/Keyring.h). When no keyring answers, or the user's setting
// "CredentialStore" is "settings", "ConnectParms" holds the whole scrambled parameter text, as it
// always did. The work runs on a thread of its own, the credentials thread, one request after
// another in the order they were made; one request waits for the keyring for at most 3 s.
namespace CredentialStore {

// True unless the user's setting "CredentialStore" is "settings" (the default is "keyring").
bool keyringChosen();

// The parameter text, empty when none is stored or its password cannot be had. A stored text
// that still holds its password is returned as it is and, when the keyring is chosen and
// answers, its password is moved into the keyring. Raises "Invalid data type for
// 'ConnectParms'" when the settings value is not text.
QString read();

// Stores the parameter text; the empty text clears the stored set, in the settings and in the
// keyring. Raises "Failed to set data for 'ConnectParms'" when the settings cannot be written.
void write(const QString &text);

// Clears the settings value at once, on the calling thread, when it holds the password itself
// (a password in the keyring goes with the next write()). What write() would raise.
void forgetStoredPassword();

// read() and write() wait for the credentials thread without handling events: for tests and
// threads that have nothing else to do. The window uses these instead, which return at once;
// `done` follows from the event loop of `context`'s thread (the UI thread), and not at all once
// `context` is gone. `error` is what read() or write() would have raised, or null.
// Waits, without handling events, until every request made so far has been carried out.
void waitForPending();

void readLater(QObject *context, std::function<void(QString text, std::exception_ptr error)> done);
void writeLater(
    const QString &text, QObject *context, std::function<void(std::exception_ptr error)> done);

} // namespace CredentialStore
