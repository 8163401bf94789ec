// Running the event loop of a test until something holds.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>

namespace desktoptest {

// Processes events until Done holds; false when LimitMs passed first.
inline bool RunUntil(const std::function<bool()>& Done, int LimitMs = 30000)
{
    QElapsedTimer clock;
    clock.start();
    while (!Done()) {
        if (clock.elapsed() > LimitMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

} // namespace desktoptest
