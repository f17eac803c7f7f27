#include "serial/NotificationWindow.h"

#include <chrono>

namespace pellwick {

bool DeliveryToken::Begin() {
    std::lock_guard lock(mutex_);
    if (state_ != State::Pending) {
        return false;
    }
    state_ = State::Running;
    return true;
}

void DeliveryToken::Finish() {
    {
        std::lock_guard lock(mutex_);
        state_ = State::Done;
    }
    Settle();
}

void DeliveryToken::Settle() {
    settled_.store(true, std::memory_order_release);
    changed_.notify_all();
    if (settledSignal_) {
        settledSignal_->Set();
    }
}

bool DeliveryToken::WaitDone(int timeoutMs) {
    std::unique_lock lock(mutex_);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    changed_.wait_until(lock, deadline,
                        [&] { return state_ == State::Done || state_ == State::Abandoned; });
    if (state_ == State::Pending) {
        state_ = State::Abandoned;
        settled_.store(true, std::memory_order_release);
    }
    // A handler that has begun is never cut off: the GUI thread owns the state it touches.
    changed_.wait(lock, [&] { return state_ != State::Running; });
    return state_ == State::Done;
}

bool DeliveryToken::Abandon() {
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::Pending) {
            return state_ != State::Running;
        }
        state_ = State::Abandoned;
    }
    Settle();
    return true;
}

} // namespace pellwick
