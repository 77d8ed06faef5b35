#pragma once

#include <QString>

#include <memory>

class QSettings;

// The remembered connection parameters in the user's settings: the value "ConnectParms",
// holding the scrambled parameter text. Stateless; UI thread.

// The plain parameter text, empty when none is stored. Raises "Invalid data type for
// 'ConnectParms'" when the value is not text.
QString readConnectParms();

// Stores the scrambled text; the empty text clears the stored set (the value stays, empty).
// A text that would not read back unchanged is stored as the empty text. Raises "Failed to set
// data for 'ConnectParms'" when the settings cannot be written.
void writeConnectParms(const QString &plain);

// True when the text reads back unchanged after scrambling and unscrambling.
bool survivesScrambling(const QString &plain);

// The user's settings (UserSettings' names, in the native format), which hold the scrambled login
// and the history. On Unix the file is created before first use, and brought back when found
// otherwise, with mode 0600: readable and writable by its owner only. The settings' atomic rewrite
// gives the new file the mode of the one it replaces, so the mode stays.
std::unique_ptr<QSettings> openUserSettings();

// Writes the settings' changes to their file and tells whether the file now holds them all. When
// it does not (a full disk cut the new file short, which QSettings takes for success), the old
// file is put back as it was, and settings objects made later read that.
bool syncWhole(QSettings &settings);
