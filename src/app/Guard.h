#pragma once

#include "connection/DatabaseError.h"
#include "widgets/ErrorBox.h"

#include <exception>
#include <utility>

class QWidget;

// Runs a command handler so that no exception leaves it: what it raises is shown by showError
// and the program runs on.
template <typename Body>
void runGuarded(QWidget *parent, Body &&body)
{
    try {
        std::forward<Body>(body)();
    } catch (const std::exception &error) {
        showError(parent, errorText(error));
    } catch (...) {
        showError(parent, QStringLiteral("Unknown error"));
    }
}
