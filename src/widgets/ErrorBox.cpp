#include "widgets/ErrorBox.h"

#include <QApplication>
#include <QMessageBox>

QString errorBoxText(const QString &message)
{
    // The full stop is added after letters, digits and anything else sorting after '.'.
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void showError(QWidget *parent, const QString &message)
{
    QString title = QApplication::applicationName();
    if (title.isEmpty())
        title = QStringLiteral("Stelvik");
    QMessageBox box(QMessageBox::Critical, title, errorBoxText(message), QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
}
