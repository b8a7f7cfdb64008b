#pragma once
// Runs the event loop until a condition holds, for the benchmarks in bench/.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace EventWait {

// False when `timeoutMs` passed first.
inline bool until(const std::function<bool()> &condition, int timeoutMs)
{
    QTimer wake; // the loop wakes up even when nothing else happens
    wake.start(20);
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Lets whatever is pending happen for `ms`.
inline void pause(int ms)
{
    QElapsedTimer timer;
    timer.start();
    until([&] { return timer.elapsed() >= ms; }, ms + 1000);
}

} // namespace EventWait
