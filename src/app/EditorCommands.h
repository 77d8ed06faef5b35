#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QFontDialog;
class QPlainTextEdit;
class QWidget;
class TReplaceDialog;

// The SQL editor RE1's commands: its keys, the clipboard commands that keep the clipboard to
// plain text, the font, find and replace, the replacement of its whole text, and the rule that
// keeps very long lines unwrapped. Owned by the window (Qt parent); UI thread only.
class EditorCommands : public QObject
{
public:
    // A key press of the editor goes to `keyDown`, which takes it by setting the key to 0.
    using KeyDown = std::function<void(int &key, Qt::KeyboardModifiers modifiers)>;
    EditorCommands(
        QWidget *window, QPlainTextEdit *editor, TReplaceDialog *replace, KeyDown keyDown);

    void undo();
    void copy();
    void cut();
    void paste();
    void selectAll();
    void chooseFont(); // FontDialog1
    void showFindReplace(); // ReplaceDialog1, modeless
    // The replace dialog's Replace or Replace All over `text`; the result replaces the editor's
    // text even when nothing matched.
    QString replaced(const QString &text) const;
    // Replaces the editor's whole text (split at CR LF, lone CR or lone LF) as one undoable edit,
    // with no change notification: the caller gives the one that follows.
    void replaceText(const QString &text);

    // Raises an error naming the line when `lines` hold a NUL character, which the database
    // would never see past.
    static void refuseNulCharacter(const QStringList &lines);
    // The lines of a plain-text control as the editor reports them (a wrapped line is one line).
    static QStringList linesOf(const QPlainTextEdit *edit);
    // Puts `lines` into a plain-text control so that linesOf gives them back.
    static QString textFor(const QStringList &lines);

private:
    void keepLongLinesUnwrapped(int position, int removed, int added);

    QPlainTextEdit *m_editor; // not owned: RE1
    TReplaceDialog *m_replace; // not owned: the window's ReplaceDialog1
    QFontDialog *m_fontDialog; // FontDialog1, owned by the window (Qt parent)
};
