#pragma once

#include "query/QueryControl.h"

#include <QtTest>

#include <memory>

// Runs the window's ConnectDatabase to its end, handling events meanwhile: true when the
// connection opened, false when the connect failed (or was abandoned). Header-only: the window
// type comes from the test.
template <class Form>
bool connectAndWait(Form &form, const QString &alias, int timeoutMs = 60000)
{
    auto result = std::make_shared<int>(-1);
    form.ConnectDatabase(alias, [result](bool connected) { *result = connected ? 1 : 0; });
    const auto *control = form.template findChild<QueryControl *>();
    const bool ended = QTest::qWaitFor(
        [&] {
            return *result >= 0
                || (control->state() == QueryControl::State::Idle && !form.loginPending());
        },
        timeoutMs);
    return ended && *result == 1;
}
