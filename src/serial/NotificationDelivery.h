// Delivery of the dispatcher's notifications to notification windows: one at a time, each
// with a token that the GUI thread claims and finishes, waited for up to a limit, after which
// a notification not yet begun is abandoned. Used by the dispatch worker; AbandonCurrent may
// be called from any thread.
#pragma once

#include "serial/NotificationWindow.h"
#include "serial/TVaxoEvent.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace pellwick {

class NotificationDelivery {
public:
    // How long a notification window may take to handle one notification.
    static constexpr int TimeoutMs = 3000;

    // Called while the sender waits: it may wait up to leftMs for `handled` (set when the
    // handler ends or the notification is abandoned) and do other work meanwhile. False stops
    // calling it; the rest of the limit is then waited for plainly.
    using WaitStep = std::function<bool(const TVaxoEvent& handled, int leftMs)>;

    // Posts the notification to window and waits until its handler has ended or the limit has
    // run out. True when the handler ran to its end. While *held is set nothing is posted: it
    // is read after the notification is in flight, so that a holder who sets it and then
    // abandons the one in flight leaves none to run.
    bool Deliver(INotificationWindow& window, std::uint32_t msg, std::uint32_t wParam,
                 std::uint32_t lParam, const WaitStep& step = nullptr,
                 const std::atomic<bool>* held = nullptr);
    // Gives up the notification in flight if the GUI thread has not begun it. False while its
    // handler runs; true when none is in flight or it will never run.
    bool AbandonCurrent();

private:
    std::mutex lock_;
    std::shared_ptr<DeliveryToken> current_; // guarded by lock_
    const std::shared_ptr<TVaxoEvent> handled_ = std::make_shared<TVaxoEvent>(false);
};

} // namespace pellwick
