#pragma once

#include <QString>

class QWidget;

// The application's default error handler: a message box titled with the application's title,
// the message with a full stop added when its last character sorts after the full stop.
QString errorBoxText(const QString &message);
void showError(QWidget *parent, const QString &message);
