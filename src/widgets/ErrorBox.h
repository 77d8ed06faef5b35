#pragma once

#include <QString>

#include <exception>
#include <utility>

class QWidget;

// The application's default error handler: a message box titled with the application's title,
// the message with a full stop added when its last character sorts after the full stop.
QString errorBoxText(const QString &message);
void showError(QWidget *parent, const QString &message);

// Runs a command handler so that no exception leaves it: what it raises is shown by showError
// and the program runs on.
template <typename Body>
void runGuarded(QWidget *parent, Body &&body)
{
    try {
        std::forward<Body>(body)();
    } catch (const std::exception &error) {
        showError(parent, QString::fromUtf8(error.what()));
    } catch (...) {
        showError(parent, QStringLiteral("Unknown error"));
    }
}
