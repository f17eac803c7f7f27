// Waiting in a test for a condition that another thread or the event loop makes true: one
// helper and one deadline. A wait that succeeds returns as soon as the condition holds, so the
// deadline only bounds how long a failing test takes to say so.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace pellwick::test {

inline constexpr int kWaitMs = 30000;

// Checks cond until it holds or timeoutMs have passed (then once more), running between() in
// between: by default a 2 ms sleep.
inline bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = kWaitMs,
                      const std::function<void()>& between = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return cond();
        }
        if (between) {
            between();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    return true;
}

inline bool WaitUntil(const std::function<bool()>& cond, std::chrono::milliseconds timeout,
                      const std::function<void()>& between = nullptr) {
    return WaitUntil(cond, static_cast<int>(timeout.count()), between);
}

} // namespace pellwick::test
