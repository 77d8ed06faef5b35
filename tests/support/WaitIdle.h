#pragma once

#include "query/QueryControl.h"

#include <QtTest>

// Waits, handling events, until the window has no statement under way (no connect, no worker)
// and has shown what the statement's end posted.
// Header-only: the window type comes from the test, so this library needs no link to it.
template <class Form>
bool waitForNoWorker(const Form &form, int timeoutMs = 60000)
{
    const auto *control = form.template findChild<QueryControl *>();
    const bool idle = QTest::qWaitFor(
        [&form, control] {
            return !form.CurrentThread && !form.loginPending()
                && (!control || control->state() == QueryControl::State::Idle);
        },
        timeoutMs);
    // What the statement's end posted (its message box) is shown before the caller goes on.
    QCoreApplication::sendPostedEvents();
    return idle;
}
