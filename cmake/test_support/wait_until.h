// Waiting in tests for a state that another thread reaches: the wait ends when the state holds, and only a hang
// reaches its limit, so a loaded machine that runs the other thread late cannot fail the test.
#pragma once

#include <chrono>
#include <thread>

namespace ombrel_test {

// The one overall limit of a wait: far beyond any step's real duration, so reaching it means a hang.
inline constexpr std::chrono::seconds kWaitLimit{60};

// Polls pred every millisecond until it holds or the limit passes; whether it held.
template <class Pred>
bool waitUntil(Pred&& pred, std::chrono::milliseconds limit = kWaitLimit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace ombrel_test
