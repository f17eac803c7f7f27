// The port component's life cycle: loading, opening and closing (a close deferred while the
// dispatch worker is in the middle of its work), the loss of a device that went away, and
// the list of windows and routines told of each opening and closing.
#include "serial/TVaxoCustomComPort.h"

#include "serial/NetworkSerialDevice.h"
#include "serial/TVaxoWin32Dispatcher.h"
#include "serial/VxComWindow.h"
#include "serial/errors/ErrorNumbers.h"
#include "serial/errors/ErrorToException.h"
#include "serial/errors/OpenFailure.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <stdexcept>

namespace pellwick {

void TVaxoCustomComPort::EndLoading() {
    loading_ = false;
    if (openOnLoad_) {
        open_ = true;
    }
    if (open_) {
        openOnLoad_ = false;
        open_ = false; // OpenPort sets it again after a complete open
        try {
            OpenPort();
        } catch (const std::exception& e) {
            open_ = false;
            // Nobody called here to catch it: the message goes out with the device's reason.
            ShowException(std::runtime_error(WithOpenFailure(e.what())));
        }
    }
}

void TVaxoCustomComPort::RequestOpenOnLoad() {
    if (autoOpen_) {
        openOnLoad_ = true;
    }
}

void TVaxoCustomComPort::EnsureComNumber() {
    if (comNumber_ != 0) {
        return;
    }
    const PortSelector selector = PortSelectorHook().Get();
    int chosen = 0;
    if (!promptForPort_ || !selector || !selector(chosen) || chosen <= 0) {
        ErrorToException(ecNoPortSelected);
    }
    comNumber_ = static_cast<std::uint16_t>(chosen);
}

void TVaxoCustomComPort::MakeDispatcher() {
    if (deviceLayer_ != dlWin32) {
        ErrorToException(ecNullApi);
    }
    if (tapiMode_ == tmOn) {
        // No telephony device layer is built: a port can never have been opened by it.
        ErrorToException(ecNotOpenedByTapi);
    }
    dispatcher_ = std::make_unique<TVaxoWin32Dispatcher>(this);
}

std::string TVaxoCustomComPort::DeviceName() const {
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", comNumber_);
    return name;
}

void TVaxoCustomComPort::StartDevice() {
    int result = dispatcher_->OpenDevice(DeviceName(), static_cast<std::uint32_t>(baud_), parity_,
                                         dataBits_, stopBits_, inSize_, outSize_, dtr_, rts_);
    if (result == dr::DeviceAccessDenied) {
        result = ecAlreadyOpen;
    } else if (result == dr::DeviceNotFound || result == dr::PathNotFound) {
        result = ecBadId;
    }
    if (result != 0) {
        Check(result);
        // Only while loading does a failure come back instead of being raised.
        throw std::runtime_error("open failed while loading");
    }
}

void TVaxoCustomComPort::ReleaseDispatcher() {
    SetupNotifyWindow(false);
    if (dispatcher_) {
        handedBefore_ += dispatcher_->OutputHanded();
    }
    dispatcher_.reset();
}

void TVaxoCustomComPort::OpenPort() {
    // A reason left by an earlier failed open, one nobody showed, must not pass for this
    // open's: this one may fail before any device is tried.
    ClearOpenFailure();
    if (tapiMode_ != tmOn) {
        EnsureComNumber();
    }
    MakeDispatcher();
    const std::uint64_t serial = ++openSerial_;
    dispatcher_->SetLostHandler([this, serial] {
        QMetaObject::invokeMethod(
            this, [this, serial] { DeviceWentAway(serial); }, Qt::QueuedConnection);
    });
    try {
        StartDevice();
        portState_ = State::Open;
        SyncHandlerState();
        forceApply_ = true;
        SetTracing(tracing_);
        SetLogging(logging_);
        SetHWFlowOptions(hwFlow_);
        SetSWFlowOptions(swFlow_);
        SetXOnChar(xonChar_);
        SetXOffChar(xoffChar_);
        SetAvailLength(availLength_);
        SetDTR(dtr_);
        if (deviceLayer_ != dlFossil) {
            SetRTS(rts_);
        }
        SetUseMSRShadow(true);
        SetUseEventWord(useEventWord_);
        SetCommNotificationLevel(commNotificationLevel_);
        SetRS485Mode(rs485Mode_);
        SetWorkerPriority(workerPriority_);
        forceApply_ = false;
        open_ = true;
        lost_ = false;
        lostDevice_.clear();
        SetupNotifyWindow(true);
        if (triggersSaved_) {
            triggersSaved_ = false;
            dispatcher_->ReinstateTriggers(savedTriggers_);
        }
    } catch (...) {
        forceApply_ = false;
        if (dispatcher_) {
            dispatcher_->CloseDevice();
        }
        ReleaseDispatcher();
        portState_ = State::Closed;
        open_ = false;
        if (loading_) {
            return;
        }
        throw;
    }
    AnnouncePortOpen();
}

void TVaxoCustomComPort::ClosePort() {
    open_ = false;
    if (portState_ != State::Open) {
        return;
    }
    SetTracing(tlDump);
    SetLogging(tlDump);
    portState_ = State::Closing;
    AnnouncePortClose();
    dispatcher_->SnapshotTriggers(savedTriggers_);
    triggersSaved_ = true;
    // A wait for input ends with the port; its next look finds the port gone.
    EndInputWait();
    dispatcher_->CloseDevice();
    if (dispatcher_->Delivering()) {
        // Closed from inside an event handler: the dispatch worker is still in the middle of
        // its work; the window and dispatcher go when it has ended.
        notifyWindow_->PostMessage(MsgDeferredClose, 0,
                                   static_cast<std::uint32_t>(dispatcher_->PortHandle()) << 16);
        return;
    }
    ReleaseDispatcher();
    portState_ = State::Closed;
}

void TVaxoCustomComPort::FinishDeferredClose() {
    if (!dispatcher_ || portState_ != State::Closing) {
        return;
    }
    if (dispatcher_->WorkersStarted() || awaiting_) {
        // Look again shortly, without spinning the GUI thread.
        VxComWindow* window = notifyWindow_.get();
        std::uint32_t lParam = static_cast<std::uint32_t>(dispatcher_->PortHandle()) << 16;
        QTimer::singleShot(2, window,
                           [window, lParam] { window->PostMessage(MsgDeferredClose, 0, lParam); });
        return;
    }
    // The handling runs inside the notification window's own event: it must outlive it.
    if (notifyWindow_) {
        dispatcher_->DetachWindowHandler(notifyWindow_.get());
        notifyWindow_.release()->deleteLater();
    }
    handedBefore_ += dispatcher_->OutputHanded();
    dispatcher_.reset();
    portState_ = State::Closed;
    if (reopenPending_) {
        reopenPending_ = false;
        OpenPort();
    }
}

void TVaxoCustomComPort::SetupNotifyWindow(bool create) {
    if (create) {
        if (!notifyWindow_) {
            notifyWindow_ = std::make_unique<VxComWindow>();
        }
        dispatcher_->AttachWindowHandler(notifyWindow_.get());
        return;
    }
    if (notifyWindow_) {
        if (dispatcher_) {
            dispatcher_->DetachWindowHandler(notifyWindow_.get());
        }
        notifyWindow_.release()->deleteLater();
    }
}

void TVaxoCustomComPort::AnnouncePortOpen() {
    AnnouncePort(true);
}

void TVaxoCustomComPort::AnnouncePortClose() {
    AnnouncePort(false);
}

void TVaxoCustomComPort::AnnouncePort(bool opened) {
    const auto list = notifyList_;
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        if (it->window) {
            PortNotifyEvent e(opened ? MsgPortOpened : MsgPortClosing);
            QCoreApplication::sendEvent(it->window, &e);
        } else if (it->proc) {
            it->proc(it->context, this, opened);
        }
    }
    const auto& hook = opened ? PortOpenHook : PortCloseHook;
    if (hook) {
        hook(*this);
    }
}

void TVaxoCustomComPort::AddNotifyWindow(QObject* window) {
    notifyList_.push_back({window, nullptr, nullptr});
}

void TVaxoCustomComPort::AddNotifyProc(TPortNotifyProc proc, void* context) {
    notifyList_.push_back({nullptr, proc, context});
}

void TVaxoCustomComPort::RemoveNotifyWindow(QObject* window) {
    std::erase_if(notifyList_, [window](const Registration& r) { return r.window == window; });
}

void TVaxoCustomComPort::RemoveNotifyProc(TPortNotifyProc proc, void*) {
    std::erase_if(notifyList_, [proc](const Registration& r) { return r.proc == proc; });
}

bool TVaxoCustomComPort::LineHungUp() {
    return lost_ || (portState_ == State::Open && dispatcher_ && dispatcher_->DeviceHungUp());
}

void TVaxoCustomComPort::DeviceWentAway(std::uint64_t serial) {
    if (serial != openSerial_ || portState_ != State::Open) {
        return;
    }
    lostDevice_ = TVaxoWin32Dispatcher::ResolveName(DeviceName()).value_or(DeviceName());
    lost_ = true;
    // Runs from the event loop: nothing may be thrown into it.
    try {
        ClosePort();
    } catch (const std::exception& e) {
        ShowException(e);
    }
    // Whoever opens the port again makes its triggers anew: nothing armed before the loss (a
    // transfer's) may act on a device that may be another one.
    triggersSaved_ = false;
    savedTriggers_ = {};
    try {
        if (auto e = onPortLost_) {
            e(*this);
        }
    } catch (const std::exception& e) {
        ShowException(e);
    }
}

std::string TVaxoCustomComPort::DevicePath() const {
    return TVaxoWin32Dispatcher::ResolveName(DeviceName()).value_or("");
}

std::string TVaxoCustomComPort::LineNote() const {
    return NetworkSerialDevice::LineNote(DevicePath());
}

void TVaxoCustomComPort::ClearLoss() {
    lost_ = false;
    lostDevice_.clear();
}

} // namespace pellwick
