#pragma once
// Waits for a condition while the event loop runs (timers, queued calls), so a test can wait for the
// worker thread and the refresh timer together. False when the time ran out.

#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <functional>
#include <thread>

namespace zelkor::testing {

inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeout.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace zelkor::testing
