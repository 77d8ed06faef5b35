#pragma once

#include <QObject>
#include <QStringList>

class QPlainTextEdit;

// The SQL editor's commands.
class EditorCommands : public QObject
{
public:
    // The lines of a plain-text control as the editor reports them (a wrapped line is one line).
    static QStringList linesOf(const QPlainTextEdit *edit);
    // Puts `lines` into a plain-text control so that linesOf gives them back.
    static QString textFor(const QStringList &lines);
};
