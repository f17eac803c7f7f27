#include "link/ComPortLink.h"

#include "link/LineProgress.h"
#include "serial/portmap/NetworkAddress.h"

namespace pellwick {

ComPortLink::~ComPortLink() {
    SetHandlers({});
}

void ComPortLink::SetHandlers(LinkPortHandlers handlers) {
    if (handlers.WaitChar)
        port_.SetOnWaitChar([h = handlers.WaitChar](TVaxoCustomComPort&, char c) { h(c); });
    else
        port_.SetOnWaitChar({});
    if (handlers.TriggerData)
        port_.SetOnTriggerData(
            [h = handlers.TriggerData](TVaxoCustomComPort&, std::uint16_t handle) { h(handle); });
    else
        port_.SetOnTriggerData({});
    if (handlers.OutbuffFree)
        port_.SetOnTriggerOutbuffFree([h = handlers.OutbuffFree](TVaxoCustomComPort&) { h(); });
    else
        port_.SetOnTriggerOutbuffFree({});
    if (handlers.OutbuffUsed)
        port_.SetOnTriggerOutbuffUsed([h = handlers.OutbuffUsed](TVaxoCustomComPort&) { h(); });
    else
        port_.SetOnTriggerOutbuffUsed({});
}

void ComPortLink::SetParityCode(std::uint8_t code) {
    // Codes above even are not ours to set; they read as no parity.
    port_.SetParity(code <= 2 ? static_cast<TParity>(code) : pNone);
}

InputLook ComPortLink::TakeWaitingInput(const std::function<bool(char)>& done) {
    switch (port_.TakeWaitingInput(done)) {
    case TVaxoCustomComPort::InputWaitState::Found:
        return InputLook::Done;
    case TVaxoCustomComPort::InputWaitState::Lost:
        return InputLook::Gone;
    case TVaxoCustomComPort::InputWaitState::Open:
        break;
    }
    return InputLook::Waiting;
}

bool ComPortLink::UntoldQueueBounded() const {
    // A connection's buffers and its server's hold far more than a terminal does.
    return !LooksLikeNetworkAddress(port_.DevicePath());
}

double ComPortLink::BytesPerSecond() const {
    return LineByteRate(port_.Baud(), port_.DataBits(), port_.Parity() != pNone, port_.StopBits());
}

} // namespace pellwick
