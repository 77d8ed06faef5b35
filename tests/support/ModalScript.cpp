#include "support/ModalScript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QProgressDialog>
#include <QPushButton>
#include <QtTest>

ModalScript::ModalScript(QList<Answer> answers)
    : m_answers(std::move(answers))
{
    qApp->installEventFilter(this);
}

ModalScript::~ModalScript()
{
    qApp->removeEventFilter(this);
}

bool ModalScript::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Show || !watched->isWidgetType())
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    if (!widget->isWindow() || !widget->isModal())
        return false;
    Seen s;
    s.className = QString::fromLatin1(widget->metaObject()->className());
    s.title = widget->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(widget)) {
        s.text = box->text();
        s.icon = box->icon();
    }
    seen.append(s);
    // Queued: a dialog closed inside its own show would leave QDialog::exec waiting for ever.
    QPointer<QWidget> modal(widget);
    QMetaObject::invokeMethod(
        this, [this, modal] { answer(modal); }, Qt::QueuedConnection);
    return false;
}

void ModalScript::answer(QPointer<QWidget> modal)
{
    if (!modal)
        return;
    if (m_answers.isEmpty()) {
        ++unexpected;
        if (auto *dialog = qobject_cast<QDialog *>(modal.data()))
            dialog->reject();
        else
            modal->close();
        return;
    }
    m_answers.takeFirst()(modal);
    // A failed check inside an answer returns early: close the dialog so that the test ends.
    if (modal && modal->isVisible()) {
        if (auto *dialog = qobject_cast<QDialog *>(modal.data());
            dialog && !qobject_cast<QProgressDialog *>(dialog))
            dialog->reject();
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
