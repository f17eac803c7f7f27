#include "serial/NotificationDelivery.h"

#include <chrono>

namespace pellwick {

bool NotificationDelivery::Deliver(INotificationWindow& window, std::uint32_t msg,
                                   std::uint32_t wParam, std::uint32_t lParam, const WaitStep& step,
                                   const std::atomic<bool>* held) {
    auto token = std::make_shared<DeliveryToken>(step ? handled_ : nullptr);
    {
        std::lock_guard lock(lock_);
        current_ = token;
        // Checked only before, a wait that began between the check and here would find no
        // notification to abandon, and the one posted now would run on the wait's bytes.
        if (held != nullptr && held->load()) {
            current_.reset();
            token->Abandon();
            return false;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    if (step) {
        handled_->Reset();
    }
    window.PostNotification(msg, wParam, lParam, token);
    int left = TimeoutMs;
    while (step && !token->Settled() && left > 0 && step(*handled_, left)) {
        left = RemainingMs(deadline);
    }
    const bool done = token->WaitDone(RemainingMs(deadline));
    std::lock_guard lock(lock_);
    current_.reset();
    return done;
}

bool NotificationDelivery::AbandonCurrent() {
    std::shared_ptr<DeliveryToken> pending;
    {
        std::lock_guard lock(lock_);
        pending = current_;
    }
    return !pending || pending->Abandon();
}

} // namespace pellwick
