// The port component's events: their setters, and the firing of each event on the GUI thread
// for the dispatcher's notifications.
#include "serial/TVaxoCustomComPort.h"

#include "serial/TVaxoWin32Dispatcher.h"

namespace pellwick {

void TVaxoCustomComPort::SetOnTrigger(TTriggerEvent e) {
    onTrigger_ = std::move(e);
    SyncHandlerState();
}
void TVaxoCustomComPort::SetOnTriggerAvail(TTriggerAvailEvent e) {
    onTriggerAvail_ = std::move(e);
    SyncHandlerState();
}
void TVaxoCustomComPort::SetOnTriggerData(TTriggerDataEvent e) {
    onTriggerData_ = std::move(e);
    SyncHandlerState();
}
void TVaxoCustomComPort::SetOnTriggerStatus(TTriggerStatusEvent e) {
    onTriggerStatus_ = std::move(e);
    SyncHandlerState();
}
void TVaxoCustomComPort::SetOnTriggerTimer(TTriggerTimerEvent e) {
    onTriggerTimer_ = std::move(e);
    SyncHandlerState();
}
void TVaxoCustomComPort::SetOnTriggerLineError(TTriggerLineErrorEvent e) {
    onTriggerLineError_ = std::move(e);
    SyncHandlerState();
}
void TVaxoCustomComPort::SetOnTriggerModemStatus(TNotifyEvent e) {
    onTriggerModemStatus_ = std::move(e);
    SyncHandlerState();
}
void TVaxoCustomComPort::SetOnTriggerOutbuffFree(TNotifyEvent e) {
    onTriggerOutbuffFree_ = std::move(e);
    SyncHandlerState();
}
void TVaxoCustomComPort::SetOnTriggerOutbuffUsed(TNotifyEvent e) {
    onTriggerOutbuffUsed_ = std::move(e);
    SyncHandlerState();
}
void TVaxoCustomComPort::SetOnTriggerOutSent(TNotifyEvent e) {
    onTriggerOutSent_ = std::move(e);
    SyncHandlerState();
}

void TVaxoCustomComPort::SyncHandlerState() {
    if (portState_ != State::Open) {
        return;
    }
    const bool any = onTrigger_ || onTriggerAvail_ || onTriggerData_ || onTriggerStatus_ ||
                     onTriggerTimer_ || onTriggerLineError_ || onTriggerModemStatus_ ||
                     onTriggerOutbuffFree_ || onTriggerOutbuffUsed_ || onTriggerOutSent_;
    dispatcher_->RecountHandlers(any ? 1 : 2);
}

// Each event is copied before it runs: a handler may replace it (the status lights do).
void TVaxoCustomComPort::FireTrigger(std::uint16_t Msg, std::uint16_t TriggerHandle,
                                     std::uint16_t Data) {
    if (auto e = onTrigger_) {
        e(*this, Msg, TriggerHandle, Data);
    }
}
void TVaxoCustomComPort::FireTriggerAvail(std::uint16_t Count) {
    if (auto e = onTriggerAvail_) {
        e(*this, Count);
    }
}
void TVaxoCustomComPort::FireTriggerData(std::uint16_t TriggerHandle) {
    if (auto e = onTriggerData_) {
        e(*this, TriggerHandle);
    }
}
void TVaxoCustomComPort::FireTriggerStatus(std::uint16_t TriggerHandle) {
    if (auto e = onTriggerStatus_) {
        e(*this, TriggerHandle);
    }
}
void TVaxoCustomComPort::FireTriggerTimer(std::uint16_t TriggerHandle) {
    if (auto e = onTriggerTimer_) {
        e(*this, TriggerHandle);
    }
}
void TVaxoCustomComPort::FireTriggerLineError(std::uint16_t Error, bool LineBreak) {
    if (auto e = onTriggerLineError_) {
        e(*this, Error, LineBreak);
    }
}
void TVaxoCustomComPort::FireTriggerModemStatus() {
    if (auto e = onTriggerModemStatus_) {
        e(*this);
    }
}
void TVaxoCustomComPort::FireTriggerOutbuffFree() {
    if (auto e = onTriggerOutbuffFree_) {
        e(*this);
    }
}
void TVaxoCustomComPort::FireTriggerOutbuffUsed() {
    if (auto e = onTriggerOutbuffUsed_) {
        e(*this);
    }
}
void TVaxoCustomComPort::FireTriggerOutSent() {
    if (auto e = onTriggerOutSent_) {
        e(*this);
    }
}
void TVaxoCustomComPort::FireWaitChar(char c) {
    if (auto e = onWaitChar_) {
        e(*this, c);
    }
}

void TVaxoCustomComPort::HandleNotification(std::uint32_t msg, std::uint32_t wParam,
                                            std::uint32_t lParam) {
    const auto handle = static_cast<std::uint16_t>(wParam);
    const auto low = static_cast<std::uint16_t>(lParam & 0xFFFF);
    switch (msg) {
    case MsgTriggerAvail:
        FireTrigger(static_cast<std::uint16_t>(msg), handle, handle);
        FireTriggerAvail(handle);
        break;
    case MsgTriggerData:
        FireTrigger(static_cast<std::uint16_t>(msg), handle, low);
        FireTriggerData(handle);
        break;
    case MsgTriggerTimer:
        FireTrigger(static_cast<std::uint16_t>(msg), handle, low);
        FireTriggerTimer(handle);
        break;
    case MsgTriggerStatus:
        FireTrigger(static_cast<std::uint16_t>(msg), handle, low);
        FireTriggerStatus(handle);
        switch (handle & 7) {
        case skModem:
            FireTriggerModemStatus();
            break;
        case skLineError: {
            const bool lineBreak = PendingBreak();
            const std::uint16_t error = PendingLineError();
            FireTriggerLineError(error, lineBreak);
            break;
        }
        case skOutputFree:
            FireTriggerOutbuffFree();
            break;
        case skOutputUsed:
            FireTriggerOutbuffUsed();
            break;
        case skOutputSent:
            FireTriggerOutSent();
            break;
        default:
            break;
        }
        break;
    case MsgDeferredClose:
        FinishDeferredClose();
        break;
    default:
        break;
    }
}

} // namespace pellwick
