// A dispatcher notification on its way to a notification window on the GUI thread, as a Qt
// event. The port's window and the terminal both post and handle it this way.
#pragma once

#include "serial/NotificationWindow.h"

#include <QEvent>
#include <cstdint>
#include <memory>

namespace pellwick {

class NotificationEvent : public QEvent {
public:
    static QEvent::Type EventType();

    // token is null for a message a window posts to itself (nobody waits for it).
    NotificationEvent(std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam,
                      std::shared_ptr<DeliveryToken> token);
    // An event dropped unhandled (its window destroyed first) releases the waiting dispatch
    // worker at once instead of after the delivery limit; a handled one is left as it is.
    ~NotificationEvent() override;
    NotificationEvent(const NotificationEvent&) = delete;
    NotificationEvent& operator=(const NotificationEvent&) = delete;

    // Runs handler() unless the sender has given up on the notification, and tells the sender
    // when it has ended, also when it ends with an exception. False when it did not run.
    template <class Handler> bool Handle(Handler&& handler) {
        if (token && !token->Begin()) {
            return false; // a late notification never runs on stale state
        }
        FinishOnExit finish{token.get()};
        handler();
        return true;
    }

    const std::uint32_t msg;
    const std::uint32_t wParam;
    const std::uint32_t lParam;

private:
    struct FinishOnExit {
        DeliveryToken* token;
        ~FinishOnExit() {
            if (token) {
                token->Finish();
            }
        }
    };

    std::shared_ptr<DeliveryToken> token;
};

} // namespace pellwick
