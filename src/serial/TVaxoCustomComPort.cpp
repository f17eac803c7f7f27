// The port component's properties: each is stored, and pushed into the dispatcher at once while
// the port is open. Its life cycle is in ComPortLifecycle.cpp, its operations in
// ComPortOperations.cpp, its events in ComPortEvents.cpp.
#include "serial/TVaxoCustomComPort.h"

#include "serial/TVaxoWin32Dispatcher.h"
#include "serial/VxComWindow.h"
#include "serial/errors/ErrorToException.h"

#include <cstdio>

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

} // namespace pellwick
