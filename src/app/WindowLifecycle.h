#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace Ui {
class TForm1;
}
class QLabel;
class QMainWindow;
class QMenu;

// The main window's start-up around FormCreate: its controls dressed beyond the form file
// (faces, glyphs, right anchors, status panels, context menus), its place on the desktop, the
// hint pause and the DB2 aliases with the alias box. Owned by the window (Qt parent); UI thread
// only.
class WindowLifecycle : public QObject
{
public:
    WindowLifecycle(QMainWindow *window, Ui::TForm1 &ui);

    // The title text, and the window caption after start-up.
    static QString titleText();

    void dress();
    // Centred on the desktop, then where the user left it when that is on a screen now.
    void place();
    // Runs `handler` for a page the user selects, never for one selected from code.
    void watchUserPageChanges(std::function<void()> handler);
    // Every hint stays up for 30 seconds.
    void keepHintsUp();
    // The four aliases made sure of, the alias box filled with every alias and sorted, the
    // isolation setting written; a failing step is shown and the later ones still run.
    void prepareAliases();

    QLabel *statusPanel(int panel) const; // 0 or 1; null for any other number
    QMenu *gridMenu() const { return m_gridMenu; }
    QMenu *editorMenu() const { return m_editorMenu; }

private:
    QMainWindow *m_window; // not owned: the window owns this room
    Ui::TForm1 &m_ui; // the window's controls
    QLabel *m_statusPanels[2] = {}; // owned by StatusBar1
    QMenu *m_editorMenu = nullptr; // PopupMenu1, owned by the window (Qt parent)
    QMenu *m_gridMenu = nullptr; // PopupMenu2, owned by the window (Qt parent)
    bool m_userTabInput = false; // a user's input on the page control is being handled
};
