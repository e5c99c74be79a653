// Helpers of the widget tests.
#pragma once

#include <chrono>
#include <functional>

#include <QCoreApplication>
#include <QEventLoop>

namespace ombrel_test {

// Processes events until pred holds or the limit passes; whether it held.
inline bool processUntil(const std::function<bool()>& pred,
                         std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace ombrel_test
