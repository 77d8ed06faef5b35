#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QWidget>

#include <functional>

// Answers the modal dialogs of one command, in order, from the event the program gives when a
// dialog is shown: never from a timer racing the program's work. The answer runs as a queued call
// right after the show, so it runs inside the dialog's own event loop (QDialog::exec) or at the
// next event processing of a modal progress dialog. A modal dialog shown beyond the script is
// rejected and counted in `unexpected` (unless a fallback answers it), so an unasked question
// fails the test. Every dialog shown is recorded in `seen`. UI thread only; lives on the test's
// stack for the length of one command. While scripts are nested, only the newest one answers.
class ModalScript : public QObject
{
public:
    using Answer = std::function<void(QWidget *)>;

    struct Seen
    {
        QString className;
        QString objectName;
        QString title;
        QString text; // a message box's text
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    };

    ModalScript(); // no dialog expected
    explicit ModalScript(QList<Answer> answers);
    ~ModalScript() override;

    // All scripted answers were given.
    bool done() const { return m_answers.isEmpty(); }
    // Answers every dialog beyond the script, for commands that ask a question an open number of
    // times; such dialogs are not unexpected.
    void setFallback(Answer answer) { m_fallback = std::move(answer); }

    int unexpected = 0;
    QList<Seen> seen;

    // Common answers; each fails the test when the dialog is not of the kind it answers.
    static Answer press(QMessageBox::StandardButton button); // a message box's button
    static Answer accept(); // QDialog::accept
    static Answer reject(); // QDialog::reject
    static Answer note(QString *text); // keeps a message box's text, then presses its default
    // Types the path into a file dialog's name box, as a user would, and accepts it.
    static Answer chooseFile(const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void answer(QWidget *modal);

    QList<Answer> m_answers;
    Answer m_fallback;
    ModalScript *m_outer; // the script that answers again once this one is gone
    static ModalScript *s_newest;
};

// The object of that name and type below root; the test stops with a message when it is missing.
template <typename T>
T *child(const QObject *root, const char *name)
{
    T *found = root->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no child %s of type %s", name, T::staticMetaObject.className());
    return found;
}
