#pragma once

#include "query/QueryControl.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

// The longest gap between two turns of the event loop, measured by a 1 ms timer.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_last >= 0)
                maxGapMs = std::max(maxGapMs, (now - m_last) / 1e6);
            m_last = now;
        });
        m_timer.setTimerType(Qt::PreciseTimer);
        m_clock.start();
        m_timer.start(1);
    }
    double maxGapMs = 0;

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = -1;
};

// True once the window has nothing under way: no login read, no connect, no worker. A Run's
// connect and login come before its worker, so the worker alone says nothing right after a click.
template <class Form>
bool windowIdle(const Form &form)
{
    const auto *control = form.template findChild<QueryControl *>();
    return !form.CurrentThread && !form.loginPending()
        && (!control || control->state() == QueryControl::State::Idle);
}
