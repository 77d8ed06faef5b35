#pragma once

#include "settings/UserSettings.h"

#include <QSettings>

// The user's settings under the program's own names, as a test prepares or reads them. Unlike the
// program's opening it makes no file on the way, so a test sees the file as the program left it.
class SettingsFile : public QSettings
{
public:
    SettingsFile()
        : QSettings(UserSettings::organization(), UserSettings::application())
    { }
    // Where the file is, whether it exists or not.
    static QString path() { return SettingsFile().fileName(); }
};
