#pragma once

#include <QtTest>

// Waits, handling events, until the window has no statement running (its worker thread gone).
// Header-only: the window type comes from the test, so this library needs no link to it.
template <class Form>
bool waitForNoWorker(const Form &form, int timeoutMs = 60000)
{
    return QTest::qWaitFor([&form] { return !form.CurrentThread; }, timeoutMs);
}
