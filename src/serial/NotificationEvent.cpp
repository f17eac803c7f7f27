#include "serial/NotificationEvent.h"

namespace pellwick {

QEvent::Type NotificationEvent::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

NotificationEvent::NotificationEvent(std::uint32_t m, std::uint32_t w, std::uint32_t l,
                                     std::shared_ptr<DeliveryToken> delivery)
    : QEvent(EventType()), msg(m), wParam(w), lParam(l), token(std::move(delivery)) {}

NotificationEvent::~NotificationEvent() {
    if (token) {
        token->Abandon();
    }
}

} // namespace pellwick
