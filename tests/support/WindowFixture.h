#pragma once

#include "app/Unit1.h"
#include "support/ModalScript.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>

// The main window of an app test: built with options that keep the process alive when it
// closes, shown, and found by its controls' names. Owns the window (deleted with the fixture or
// by close(); a test may delete it itself). UI thread only.
class WindowFixture
{
public:
    enum class Shown { No, Exposed, Active };

    WindowFixture() = default;
    ~WindowFixture() { close(); }
    WindowFixture(const WindowFixture &) = delete;
    WindowFixture &operator=(const WindowFixture &) = delete;

    // The options of a test's window: closing it does not end the process.
    static TForm1::Options options();

    // Builds a new window in place of the one before and shows it as asked; false when it was
    // not exposed or made active in time.
    bool open(Shown shown = Shown::Exposed);
    bool show(Shown shown = Shown::Exposed);
    void close() { delete m_form; }

    TForm1 *form() const { return m_form.data(); }
    TForm1 *operator->() const { return m_form.data(); }
    TForm1 &operator*() const { return *m_form; }
    template <typename T>
    T *child(const char *name) const
    {
        return ::child<T>(m_form.data(), name);
    }
    QPlainTextEdit *editor() const { return child<QPlainTextEdit>("RE1"); }
    QComboBox *aliasBox() const { return child<QComboBox>("ComboBox1"); }
    QToolButton *runButton() const { return child<QToolButton>("SpeedButton1"); }
    QToolButton *execButton() const { return child<QToolButton>("SpeedButton2"); }
    QToolButton *closeButton() const { return child<QToolButton>("SpeedButton4"); }
    QTableView *grid() const { return child<QTableView>("DBGrid1"); }
    QTabWidget *pages() const { return child<QTabWidget>("PageControl1"); }

    // Puts the statement into the editor and the alias into the database box.
    void type(const QString &sql) { m_form->setEditorText(sql); }
    void chooseAlias(const QString &alias) { aliasBox()->setEditText(alias); }
    // Types both and presses Run, Exec or another button.
    void start(QToolButton *button, const QString &alias, const QString &sql);
    // Waits until no statement is under way and what its end posted is shown.
    bool waitIdle(int timeoutMs = 60000) const;

private:
    QPointer<TForm1> m_form;
};
