#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// What a room that reads or replaces the editor's whole text gets from the window: the text as
// the window's commands see it, its replacement (one change notification follows, so `changed`
// is set), and the unsaved-changes flag QueryChanged. UI thread only.
struct EditorAccess
{
    std::function<QStringList()> lines; // each line followed by CR LF
    std::function<QString()> text;
    std::function<void(const QString &)> replace;
    bool *changed = nullptr; // the window's QueryChanged, not owned
};
