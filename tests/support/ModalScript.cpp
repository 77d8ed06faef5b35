#include "support/ModalScript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QtTest>

ModalScript *ModalScript::s_newest = nullptr;

ModalScript::ModalScript()
    : ModalScript(QList<Answer>())
{ }

ModalScript::ModalScript(QList<Answer> answers)
    : m_answers(std::move(answers))
    , m_outer(s_newest)
{
    s_newest = this;
    qApp->installEventFilter(this);
}

ModalScript::~ModalScript()
{
    qApp->removeEventFilter(this);
    s_newest = m_outer;
}

bool ModalScript::eventFilter(QObject *watched, QEvent *event)
{
    // The program's own show, not a window system's re-show of a restored window.
    if (event->type() != QEvent::Show || event->spontaneous() || !watched->isWidgetType()
        || s_newest != this)
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    if (!widget->isWindow() || !widget->isModal())
        return false;
    Seen s;
    s.className = QString::fromLatin1(widget->metaObject()->className());
    s.objectName = widget->objectName();
    s.title = widget->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(widget)) {
        s.text = box->text();
        s.icon = box->icon();
    }
    seen.append(s);
    // Queued: a dialog closed inside its own show would leave QDialog::exec waiting for ever.
    QPointer<QWidget> modal(widget);
    QMetaObject::invokeMethod(
        this,
        [this, modal] {
            // Gone or hidden before it could be answered: its answer stays due, so done() fails.
            if (modal && modal->isVisible())
                answer(modal);
        },
        Qt::QueuedConnection);
    return false;
}

void ModalScript::answer(QWidget *modal)
{
    QPointer<QWidget> guard(modal);
    if (!m_answers.isEmpty()) {
        m_answers.takeFirst()(modal);
    } else if (m_fallback) {
        m_fallback(modal);
    } else {
        ++unexpected;
        if (auto *progress = qobject_cast<QProgressDialog *>(modal))
            progress->cancel();
        else if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
        return;
    }
    // A failed check inside an answer returns early: close the dialog so that the test ends. A
    // progress dialog stays up while its work goes on.
    if (guard && guard->isVisible() && !qobject_cast<QProgressDialog *>(guard.data())) {
        if (auto *dialog = qobject_cast<QDialog *>(guard.data()))
            dialog->reject();
        else
            guard->close();
    }
}

ModalScript::Answer ModalScript::press(QMessageBox::StandardButton button)
{
    return [button](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY2(box, modal->metaObject()->className());
        QAbstractButton *b = box->button(button);
        QVERIFY2(b, "the message box has no such button");
        b->click();
    };
}

ModalScript::Answer ModalScript::accept()
{
    return [](QWidget *modal) {
        auto *dialog = qobject_cast<QDialog *>(modal);
        QVERIFY2(dialog, modal->metaObject()->className());
        dialog->accept();
    };
}

ModalScript::Answer ModalScript::reject()
{
    return [](QWidget *modal) {
        auto *dialog = qobject_cast<QDialog *>(modal);
        QVERIFY2(dialog, modal->metaObject()->className());
        dialog->reject();
    };
}

ModalScript::Answer ModalScript::note(QString *text)
{
    return [text](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY2(box, modal->metaObject()->className());
        *text = box->text();
        if (QAbstractButton *b = box->defaultButton())
            b->click();
        else
            box->accept();
    };
}

ModalScript::Answer ModalScript::chooseFile(const QString &path)
{
    return [path](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY2(dialog, modal->metaObject()->className());
        // Typed as a user would (selectFile leaves a focused name box alone).
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        name->setText(path);
        static_cast<QDialog *>(dialog)->accept(); // QFileDialog's own, through the public base
    };
}
