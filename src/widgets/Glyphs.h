#pragma once

#include <QIcon>
#include <QString>

// The toolbar glyphs and the window icon, drawn in code so that no image files are needed. Each
// icon carries a normal and a disabled image at 1x and 2x, so that it stays crisp on high-DPI
// screens. Names: load, save, print, run, exec, close, logout, fields, commaquote, report,
// makecurrent, ok, cancel, app. An unknown name gives a null icon. UI thread only.
QIcon glyph(const QString &name);
