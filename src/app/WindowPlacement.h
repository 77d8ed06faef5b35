#pragma once

class QWidget;

// The main window's size, position and maximised state, kept in the user's settings as the
// toolkit's geometry ("WindowGeometry") when the window closes and given back at the next start.
namespace WindowPlacement {

// Puts the window where it was; a geometry that no current screen shows is ignored, and a value
// that is not a geometry too. Before the first show.
void restore(QWidget *window);
// Stores the window's geometry; a failed write is dropped (the window just opens centred).
void save(const QWidget *window);

} // namespace WindowPlacement
