#include "serial/TVaxoCustomComPort.h"

#include "serial/TVaxoWin32Dispatcher.h"
#include "serial/VxComWindow.h"
#include "serial/errors/ErrorNumbers.h"
#include "serial/errors/ErrorToException.h"
#include "serial/errors/OpenFailure.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace pellwick {

namespace {

std::uint16_t Percent(std::uint16_t value, int percent) {
    // Factors apply to the 16-bit value and truncate toward zero.
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) * percent / 100);
}

} // namespace

QEvent::Type PortNotifyEvent::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

std::string PortNameOf(int number) {
    return "COM" + std::to_string(number);
}

TVaxoCustomComPort::TVaxoCustomComPort(QObject* owner) : QObject(owner) {}

TVaxoCustomComPort::~TVaxoCustomComPort() {
    if (portState_ == State::Open) {
        try {
            ClosePort();
        } catch (...) {
        }
    }
    // A close that was still deferred ends here: the dispatcher stops its workers on its own.
    dispatcher_.reset();
    notifyWindow_.reset();
}

ProcessHook<TVaxoCustomComPort::PortSelector>& TVaxoCustomComPort::PortSelectorHook() {
    static ProcessHook<PortSelector> selector;
    return selector;
}

ProcessHook<TVaxoCustomComPort::ExceptionDisplay>& TVaxoCustomComPort::ExceptionDisplayHook() {
    static ProcessHook<ExceptionDisplay> display;
    return display;
}

void TVaxoCustomComPort::ShowException(const std::exception& e) {
    if (const ExceptionDisplay display = ExceptionDisplayHook().Get()) {
        display(e);
    } else {
        std::fprintf(stderr, "%s\n", e.what());
    }
}

int TVaxoCustomComPort::Check(int result) const {
    return ErrorToException(result, loading_);
}

// ---------------------------------------------------------------------------------------------
// Properties

void TVaxoCustomComPort::SetDeviceLayer(TDeviceLayer v) {
    if (portState_ == State::Closed && v == dlWin32) {
        deviceLayer_ = v;
    }
}

void TVaxoCustomComPort::SetComNumber(std::uint16_t v) {
    if (v == comNumber_) {
        return;
    }
    const bool wasOpen = open_;
    TTraceLogState tracing = tracing_, logging = logging_;
    if (wasOpen) {
        dispatcher_->SnapshotTriggers(savedTriggers_);
        triggersSaved_ = true;
        SetOpen(false);
    }
    comNumber_ = v;
    if (wasOpen) {
        // Closed at this moment: only off and on survive.
        SetTracing(tracing == tlOn ? tlOn : tlOff);
        SetLogging(logging == tlOn ? tlOn : tlOff);
        SetOpen(true);
        if (portState_ == State::Open && triggersSaved_) {
            dispatcher_->ReinstateTriggers(savedTriggers_);
        }
    }
}

void TVaxoCustomComPort::ApplyLineSettings() {
    if (portState_ == State::Open) {
        Check(dispatcher_->ConfigureLine(static_cast<std::uint32_t>(baud_), parity_, dataBits_,
                                         stopBits_));
    }
}

void TVaxoCustomComPort::SetBaud(std::int32_t v) {
    baud_ = v;
    ApplyLineSettings();
}

void TVaxoCustomComPort::SetParity(TParity v) {
    parity_ = v;
    ApplyLineSettings();
}

void TVaxoCustomComPort::SetDataBits(std::uint16_t v) {
    dataBits_ = v;
    ApplyLineSettings();
}

void TVaxoCustomComPort::SetStopBits(std::uint16_t v) {
    stopBits_ = v;
    ApplyLineSettings();
}

void TVaxoCustomComPort::SetInSize(std::uint16_t v) {
    inSize_ = v;
    if (portState_ == State::Open) {
        dispatcher_->SizeDeviceQueues(inSize_, outSize_);
    }
}

void TVaxoCustomComPort::SetOutSize(std::uint16_t v) {
    outSize_ = v;
    if (portState_ == State::Open) {
        dispatcher_->SizeDeviceQueues(inSize_, outSize_);
    }
}

void TVaxoCustomComPort::SetOpen(bool v) {
    if (v == open_) {
        return;
    }
    if (loading_) {
        open_ = v;
        if (v) {
            openOnLoad_ = true;
        }
        return;
    }
    if (!v) {
        ClosePort();
    } else if (portState_ == State::Closed) {
        OpenPort();
    } else if (portState_ == State::Closing) {
        reopenPending_ = true;
    }
}

void TVaxoCustomComPort::DriveControlLine(bool v, bool& kept,
                                          int (TVaxoBaseDispatcher::*drive)(int)) {
    if (v == kept && !forceApply_) {
        return;
    }
    if (portState_ != State::Open) {
        kept = v;
        return;
    }
    // Under hardware flow control the dispatcher answers 1 and the line keeps its state.
    if (Check((dispatcher_.get()->*drive)(v ? 1 : 0)) == 0) {
        kept = v;
    }
}

void TVaxoCustomComPort::SetDTR(bool v) {
    DriveControlLine(v, dtr_, &TVaxoBaseDispatcher::DriveDtr);
}

void TVaxoCustomComPort::SetRTS(bool v) {
    DriveControlLine(v, rts_, &TVaxoBaseDispatcher::DriveRts);
}

void TVaxoCustomComPort::DefaultFlowLevels(int fullPercent, int resumePercent) {
    if (bufferFull_ == 0 || bufferFull_ > inSize_) {
        bufferFull_ = Percent(inSize_, fullPercent);
    }
    if (bufferResume_ == 0 || bufferResume_ > bufferFull_) {
        bufferResume_ = Percent(inSize_, resumePercent);
    }
}

void TVaxoCustomComPort::SetHWFlowOptions(THWFlowOptionSet v) {
    if (v == hwFlow_ && !forceApply_) {
        return;
    }
    if (v != 0) {
        DefaultFlowLevels(90, 10);
    }
    hwFlow_ = v;
    if (v & (hwfUseRTS | hwfRequireCTS)) {
        SetRS485Mode(false);
    }
    if (portState_ == State::Open) {
        Check(dispatcher_->ConfigureHardwareFlow(bufferFull_, bufferResume_, v));
    }
}

void TVaxoCustomComPort::SetSWFlowOptions(TSWFlowOptions v) {
    if (v == swFlow_ && !forceApply_) {
        return;
    }
    // swfReceive: the device is held back by XOFF; swfTransmit: our output obeys its XOFF.
    static const std::uint32_t kCode[] = {0, sfSendXoff, sfObeyXoff, sfSendXoff | sfObeyXoff};
    const std::uint32_t code = kCode[v];
    if (code != 0) {
        DefaultFlowLevels(75, 25);
    }
    swFlow_ = v;
    if (portState_ == State::Open) {
        Check(code != 0 ? dispatcher_->ConfigureSoftwareFlow(bufferFull_, bufferResume_, code)
                        : dispatcher_->StopSoftwareFlow());
    }
}

void TVaxoCustomComPort::ReapplyFlow() {
    const bool saved = forceApply_;
    forceApply_ = true;
    try {
        SetHWFlowOptions(hwFlow_);
        SetSWFlowOptions(swFlow_);
    } catch (...) {
        forceApply_ = saved;
        throw;
    }
    forceApply_ = saved;
}

void TVaxoCustomComPort::SetBufferFull(std::uint16_t v) {
    if (v == bufferFull_ && !forceApply_) {
        return;
    }
    // 90 % of the value given (not of InSize).
    bufferFull_ = v > inSize_ ? Percent(v, 90) : v;
    ReapplyFlow();
}

void TVaxoCustomComPort::SetBufferResume(std::uint16_t v) {
    if (v == bufferResume_ && !forceApply_) {
        return;
    }
    bufferResume_ = v > bufferFull_ ? Percent(bufferFull_, 10) : v;
    ReapplyFlow();
}

void TVaxoCustomComPort::SetXOnChar(char v) {
    xonChar_ = v;
    if (portState_ == State::Open) {
        Check(dispatcher_->ConfigureFlowChars(static_cast<std::uint8_t>(xonChar_),
                                              static_cast<std::uint8_t>(xoffChar_)));
    }
}

void TVaxoCustomComPort::SetXOffChar(char v) {
    xoffChar_ = v;
    if (portState_ == State::Open) {
        Check(dispatcher_->ConfigureFlowChars(static_cast<std::uint8_t>(xonChar_),
                                              static_cast<std::uint8_t>(xoffChar_)));
    }
}

// Tracing and logging stay off in this program: no trace or log is ever recorded or written.
void TVaxoCustomComPort::SetTracing(TTraceLogState v) {
    if (v == tlOff || v == tlOn) {
        tracing_ = v;
    } else if (portState_ != State::Open) {
        tracing_ = tlOff;
    }
}

void TVaxoCustomComPort::SetLogging(TTraceLogState v) {
    if (v == tlOff || v == tlOn) {
        logging_ = v;
    } else if (portState_ != State::Open) {
        logging_ = tlOff;
    }
}

void TVaxoCustomComPort::SetUseMSRShadow(bool) {}

void TVaxoCustomComPort::SetUseEventWord(bool v) {
    useEventWord_ = v;
    if (portState_ == State::Open) {
        dispatcher_->SetOptionFlag(4, v);
    }
}

void TVaxoCustomComPort::SetRS485Mode(bool v) {
    if (v == rs485Mode_ && !forceApply_) {
        return;
    }
    rs485Mode_ = v;
    if (portState_ == State::Open) {
        dispatcher_->ApplyRs485Mode(v);
    }
    if (v) {
        SetHWFlowOptions(hwFlow_ & static_cast<THWFlowOptionSet>(~(hwfUseRTS | hwfRequireCTS)));
        SetRTS(false);
    }
}

void TVaxoCustomComPort::SetWorkerPriority(std::uint8_t v) {
    workerPriority_ = v;
    if (portState_ == State::Open) {
        dispatcher_->SetWorkerPriority(v);
    }
}

void TVaxoCustomComPort::SetAvailLength(std::uint16_t v) {
    availLength_ = v;
    if (portState_ == State::Open) {
        dispatcher_->SetAvailThreshold(v);
    }
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

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
    dispatcher_->CloseDevice();
    if (dispatcher_->Delivering()) {
        // Closed from inside an event handler or during AwaitText: the dispatch worker is
        // still in the middle of its work; the window and dispatcher go when it has ended.
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

// ---------------------------------------------------------------------------------------------
// Operations

TVaxoWin32Dispatcher* TVaxoCustomComPort::CurrentDispatcher() {
    if (!dispatcher_ && !loading_ && !open_ && autoOpen_) {
        SetOpen(true);
    }
    return portState_ == State::Open ? dispatcher_.get() : nullptr;
}

TVaxoWin32Dispatcher* TVaxoCustomComPort::RequireDispatcher() {
    TVaxoWin32Dispatcher* d = CurrentDispatcher();
    if (d == nullptr) {
        ErrorToException(ecCommNotOpen);
    }
    return d;
}

bool TVaxoCustomComPort::CtsSignal() {
    return portState_ == State::Open && dispatcher_->CtsAsserted();
}
bool TVaxoCustomComPort::DsrSignal() {
    return portState_ == State::Open && dispatcher_->DsrAsserted();
}
bool TVaxoCustomComPort::DcdSignal() {
    return portState_ == State::Open && dispatcher_->DcdAsserted();
}
bool TVaxoCustomComPort::RingSignal() {
    return portState_ == State::Open && dispatcher_->RingAsserted();
}

std::uint16_t TVaxoCustomComPort::PendingLineError() {
    if (portState_ != State::Open) {
        return 0;
    }
    return static_cast<std::uint16_t>(Check(dispatcher_->TakeLineError()));
}

bool TVaxoCustomComPort::PendingBreak() {
    return portState_ == State::Open && dispatcher_->TakeBreakFlag();
}

std::uint16_t TVaxoCustomComPort::InputCount() {
    return portState_ == State::Open ? static_cast<std::uint16_t>(dispatcher_->InputUsed()) : 0;
}

std::uint16_t TVaxoCustomComPort::OutputCount() {
    return portState_ == State::Open ? static_cast<std::uint16_t>(dispatcher_->OutputUsed()) : 0;
}

std::uint16_t TVaxoCustomComPort::OutputRoom() {
    return portState_ == State::Open ? static_cast<std::uint16_t>(dispatcher_->OutputFree())
                                     : outSize_;
}

std::int32_t TVaxoCustomComPort::DriverOutputCount() {
    return portState_ == State::Open ? static_cast<std::int32_t>(dispatcher_->DriverOutputQueued())
                                     : -1;
}

std::uint64_t TVaxoCustomComPort::OutputHanded() const {
    return handedBefore_ + (dispatcher_ ? dispatcher_->OutputHanded() : 0);
}

void TVaxoCustomComPort::DiscardInput() {
    if (portState_ != State::Closing) {
        Check(RequireDispatcher()->ClearInput());
    }
}

void TVaxoCustomComPort::DiscardOutput() {
    if (portState_ != State::Closing) {
        Check(RequireDispatcher()->ClearOutput());
    }
}

void TVaxoCustomComPort::SendBreak() {
    Check(RequireDispatcher()->SendBreak());
}

std::uint16_t TVaxoCustomComPort::NewTextTrigger(const std::string& text, bool ignoreCase) {
    if (portState_ == State::Closing) {
        return 0;
    }
    // Trigger strings are short strings: at most 255 characters reach the dispatcher.
    const std::string s = text.substr(0, 255);
    return static_cast<std::uint16_t>(Check(RequireDispatcher()->AddDataMatchTrigger(
        s.data(), static_cast<std::uint32_t>(s.size()), ignoreCase)));
}

std::uint16_t TVaxoCustomComPort::NewTimerTrigger() {
    if (portState_ == State::Closing) {
        return 0;
    }
    return static_cast<std::uint16_t>(Check(RequireDispatcher()->AddTickTrigger()));
}

std::uint16_t TVaxoCustomComPort::NewStatusTrigger(std::uint16_t kind) {
    if (portState_ == State::Closing) {
        return 0;
    }
    return static_cast<std::uint16_t>(Check(RequireDispatcher()->AddStatusWatch(kind)));
}

void TVaxoCustomComPort::DropTrigger(std::uint16_t handle) {
    if (portState_ == State::Open) {
        Check(dispatcher_->DeleteTrigger(handle));
    }
}

void TVaxoCustomComPort::ArmTimerTrigger(std::uint16_t handle, std::int32_t ticks, bool activate) {
    if (portState_ != State::Closing) {
        Check(RequireDispatcher()->ArmTickTrigger(handle, ticks, activate));
    }
}

void TVaxoCustomComPort::ArmStatusTrigger(std::uint16_t handle, std::uint16_t value,
                                          bool activate) {
    if (portState_ != State::Closing) {
        Check(RequireDispatcher()->ArmStatusWatch(handle, value, activate));
    }
}

bool TVaxoCustomComPort::InputWaiting() {
    if (portState_ == State::Closing) {
        return false;
    }
    return RequireDispatcher()->HasInput();
}

char TVaxoCustomComPort::PeekInput(std::uint16_t index) {
    if (portState_ == State::Closing) {
        return 0;
    }
    std::uint8_t b = 0;
    if (Check(RequireDispatcher()->PeekByteAt(index, b)) < 0) {
        return 0;
    }
    return static_cast<char>(b);
}

char TVaxoCustomComPort::ReadChar() {
    if (portState_ == State::Closing) {
        return 0;
    }
    std::uint8_t b = 0;
    if (Check(RequireDispatcher()->TakeByte(b)) < 0) {
        return 0;
    }
    return static_cast<char>(b);
}

void TVaxoCustomComPort::ReadBlock(void* buffer, std::uint16_t length) {
    if (portState_ != State::Closing) {
        Check(RequireDispatcher()->TakeBlock(buffer, length));
    }
}

void TVaxoCustomComPort::WriteChar(char c) {
    if (portState_ != State::Closing) {
        Check(RequireDispatcher()->QueueByte(static_cast<std::uint8_t>(c)));
    }
}

void TVaxoCustomComPort::WriteText(const std::string& text) {
    if (portState_ != State::Closing) {
        Check(
            RequireDispatcher()->QueueBlock(text.data(), static_cast<std::uint32_t>(text.size())));
    }
}

void TVaxoCustomComPort::WriteBlock(const void* buffer, std::uint16_t length) {
    if (portState_ != State::Closing) {
        Check(RequireDispatcher()->QueueBlock(buffer, length));
    }
}

void TVaxoCustomComPort::YieldToDevice() {
    std::this_thread::yield();
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

void TVaxoCustomComPort::ClearLoss() {
    lost_ = false;
    lostDevice_.clear();
}

bool TVaxoCustomComPort::AwaitText(const std::string& text, std::int32_t ticks, bool yield,
                                   bool ignoreCase) {
    if (text.empty() || portState_ == State::Closing) {
        return true;
    }
    TVaxoWin32Dispatcher* d = RequireDispatcher();
    // While the flag is set the dispatcher neither tests nor delivers triggers: no event
    // handler runs during the wait, and the bytes taken here are scanned afterwards.
    const bool wasDelivering = d->SetWaitingForText(true);
    awaiting_ = true;
    TickTimer timer;
    timer.Start(ticks);
    auto upper = [ignoreCase](char c) {
        return ignoreCase && c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    };
    const char first = upper(text[0]);
    std::uint8_t position = 0; // byte-wide: texts longer than 255 characters never match
    bool terminating = false;
    bool lost = false;
    try {
        for (;;) {
            bool found = false;
            while (portState_ == State::Open && d->HasInput()) {
                std::uint8_t b = 0;
                if (d->TakeByte(b) < 0) {
                    break;
                }
                const char c = static_cast<char>(b);
                ++position;
                FireWaitChar(c);
                if (position <= text.size() && upper(c) == upper(text[position - 1])) {
                    if (position == text.size()) {
                        found = true;
                        break;
                    }
                } else {
                    position = upper(c) == first ? 1 : 0;
                }
            }
            // A device that has hung up will not answer: the wait ends once its last bytes
            // have been taken instead of running out the time.
            if (found || timer.Expired() || portState_ != State::Open) {
                break;
            }
            if (d->DeviceHungUp() && !d->HasInput()) {
                lost = true;
                break;
            }
            if (QCoreApplication::closingDown()) {
                terminating = true;
                break;
            }
            if (yield) {
                QCoreApplication::processEvents();
            } else {
                // Nothing waits: sleep a little instead of spinning the GUI thread.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    } catch (...) {
        awaiting_ = false;
        if (!wasDelivering && dispatcher_.get() == d) {
            d->SetWaitingForText(false);
        }
        throw;
    }
    awaiting_ = false;
    if (!wasDelivering && dispatcher_.get() == d) {
        d->SetWaitingForText(false);
    }
    return !lost && (terminating || !timer.Expired());
}

} // namespace pellwick
