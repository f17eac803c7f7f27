#include "serial/TVaxoBaseDispatcher.h"

#include "serial/DispatcherRegistry.h"

#include <chrono>
#include <functional>
#include <thread>

namespace pellwick {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Legacy rate codes of the line block and the rates they stand for.
std::uint32_t TranslateBaud(std::uint32_t baud) {
    if (baud == 0xFEFF) {
        return 115200;
    }
    static const std::uint32_t low[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200};
    if (baud >= 0xFF10 && baud <= 0xFF18) {
        return low[baud - 0xFF10];
    }
    switch (baud) {
    case 0xFF1B:
        return 38400;
    case 0xFF1F:
        return 56000;
    case 0xFF23:
        return 128000;
    case 0xFF27:
        return 256000;
    default:
        return baud;
    }
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

TVaxoBaseDispatcher::TVaxoBaseDispatcher(void* owner) : owner_(owner) {
    portHandle_ = RegisterDispatcher(this);
}

TVaxoBaseDispatcher::~TVaxoBaseDispatcher() {
    UnregisterDispatcher(portHandle_);
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

int TVaxoBaseDispatcher::OpenDevice(const std::string& name, std::uint32_t baud, int parity,
                                    int dataBits, int stopBits, std::uint32_t inSize,
                                    std::uint32_t outSize, bool dtr, bool rts) {
    {
        Lock lock(statusLock_);
        ringSeen_ = false;
        delivering_ = false;
        waitingForText_ = false;
        handlerRemovalPending_ = false;
    }
    closePending_ = false;
    int result = DeviceOpen(name, inSize, outSize);
    if (result < 0) {
        return result;
    }
    inRing_.Allocate();
    lastNotify_ = 0;
    outRing_.Allocate(outSize);
    outputSent_ = false;
    {
        Lock lock(statusLock_);
        inSize_ = inSize;
        outSize_ = outSize;
        errorBits_ = 0;
        rs485Mode_ = false;
        rs485ByDriver_ = false;
        dtrFlow_ = rtsFlow_ = rtsFlowApplied_ = false;
        DeviceGetLine(lineBlock_);
    }
    DriveDtr(dtr ? 1 : 0);
    DriveRts(rts ? 1 : 0);
    ClearAllTriggers();
    {
        Lock lock(statusLock_);
        modemBits_ = 0;
    }
    SampleModemStatus(0xF0);
    {
        Lock lock(statusLock_);
        currentBaud_ = 115200;
    }
    result = ConfigureLine(baud, parity, dataBits, stopBits);
    if (result < 0) {
        DeviceClose();
        ReleaseBuffers();
        return result;
    }
    RefreshDeviceStatus();
    StartWorkers();
    return 0;
}

bool TVaxoBaseDispatcher::DeviceIsOpen() const {
    return DeviceOpenNow();
}

int TVaxoBaseDispatcher::CloseDevice() {
    if (DeviceOpenNow()) {
        ClearOutput();
        ClearInput();
    }
    if (Delivering() && workersStarted_) {
        // Called from inside a delivery (or while the port's wait-for-text holds the flag):
        // the dispatch worker cannot be joined from here. It ends by itself as soon as the
        // delivery returns, and closes the device and frees the rings on its way out.
        closePending_ = true;
        StopDeviceWorkers();
        return 0;
    }
    StopWorkers();
    DeviceClose();
    ReleaseBuffers();
    return 0;
}

void TVaxoBaseDispatcher::FinishPendingClose() {
    DeviceClose();
    ReleaseBuffers();
}

void TVaxoBaseDispatcher::ReleaseBuffers() {
    inRing_.Release();
    outRing_.Release();
}

// ---------------------------------------------------------------------------------------------
// Line settings

int TVaxoBaseDispatcher::SetLineBlockLocked(LineBlock& block) {
    int result = DeviceSetLine(block);
    if (result < 0) {
        return result;
    }
    currentBaud_ = block.baud;
    DeviceEscape(dtrState_ ? LineFunction::SetDtr : LineFunction::ClrDtr);
    if (!rs485Mode_) {
        if (!rtsFlow_) {
            DeviceEscape(rtsState_ ? LineFunction::SetRts : LineFunction::ClrRts);
        } else if (!rtsFlowApplied_) {
            // The handshake takes RTS over ready to receive; from then on only the driver moves
            // it (it drops RTS while its input is full). Many drivers never raise it by
            // themselves, so a line lowered here would hold the device back for good.
            DeviceEscape(LineFunction::SetRts);
        }
    }
    rtsFlowApplied_ = rtsFlow_;
    return 0;
}

int TVaxoBaseDispatcher::ConfigureLine(std::uint32_t baud, int parity, int dataBits, int stopBits) {
    std::uint8_t stopCode;
    {
        Lock lock(statusLock_);
        DeviceGetLine(lineBlock_);
        if (stopBits < 1 || stopBits > 3) {
            stopBits = stopBits != 0 ? 2 : 1;
        }
        if (baud == 0) {
            baud = lineBlock_.baud;
        }
        if (parity == 5) {
            parity = lineBlock_.parity;
        }
        if (dataBits == 9) {
            dataBits = lineBlock_.byteSize;
        }
        if (stopBits == 3) {
            stopCode = lineBlock_.stopBits;
            if (dataBits == 5) {
                stopCode = One5StopBits;
            }
        } else if (dataBits == 5) {
            stopCode = One5StopBits;
        } else {
            stopCode = stopBits == 1 ? OneStopBit : TwoStopBits;
        }
        if (baud == lineBlock_.baud && parity == lineBlock_.parity &&
            dataBits == lineBlock_.byteSize && stopCode == lineBlock_.stopBits) {
            return 0;
        }
    }
    // Not under StatusLock: draining reads the output ring.
    DrainBeforeReconfigure();
    Lock lock(statusLock_);
    DeviceGetLine(lineBlock_);
    lineBlock_.baud = baud;
    lineBlock_.parity = static_cast<std::uint8_t>(parity);
    lineBlock_.byteSize = static_cast<std::uint8_t>(dataBits);
    lineBlock_.stopBits = stopCode;
    return SetLineBlockLocked(lineBlock_);
}

void TVaxoBaseDispatcher::DrainBeforeReconfigure() {
    for (int i = 0; i < 5000 && OutputUsed() > 0; ++i) {
        SleepMs(2);
    }
    std::uint32_t baud;
    std::uint32_t bits;
    {
        Lock lock(statusLock_);
        baud = TranslateBaud(currentBaud_);
        bits = lineBlock_.byteSize + 2u + (lineBlock_.parity != 0 ? 1u : 0u) +
               (lineBlock_.stopBits != OneStopBit ? 1u : 0u);
    }
    if (baud == 0) {
        return;
    }
    // Time of 18 characters in units of 0.1 microseconds.
    std::uint64_t t = static_cast<std::uint64_t>(10000000u / baud) * bits * 18u;
    if (t < 10000) {
        t *= 2;
    }
    SleepMs(static_cast<int>((t + 9999) / 10000));
}

void TVaxoBaseDispatcher::QueryLine(std::uint32_t& baud, int& parity, int& dataBits,
                                    int& stopBits) {
    Lock lock(statusLock_);
    DeviceGetLine(lineBlock_);
    baud = TranslateBaud(lineBlock_.baud);
    parity = lineBlock_.parity;
    dataBits = lineBlock_.byteSize;
    stopBits = lineBlock_.stopBits == TwoStopBits ? 2 : 1;
}

int TVaxoBaseDispatcher::SizeDeviceQueues(std::uint32_t, std::uint32_t) {
    // The kernel sizes tty queues itself; the rings keep their size.
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Output ring

std::uint32_t TVaxoBaseDispatcher::OutputUsed() {
    return outRing_.Used();
}

std::uint32_t TVaxoBaseDispatcher::OutputFree() {
    return outRing_.Free();
}

int TVaxoBaseDispatcher::QueueByte(std::uint8_t byte) {
    return QueueBlock(&byte, 1);
}

int TVaxoBaseDispatcher::QueueBlock(const void* data, std::uint32_t count) {
    if (count == 0) {
        return 0;
    }
    {
        Lock lock(statusLock_);
        if (rs485Mode_ && !rs485ByDriver_) {
            // Without direction control by the driver there is no way to toggle RTS.
            return ecBaseAddressNotSet;
        }
    }
    if (const int result = outRing_.Put(data, count); result != 0) {
        return result;
    }
    SignalOutputPending();
    outputSent_ = true;
    // The device's error bits are collected after the output ring's lock is released; they
    // are added to the accumulated bits, not put in their place, so that an error noted before
    // is not lost before anyone has read it.
    RefreshDeviceStatus();
    return 0;
}

bool TVaxoBaseDispatcher::NextOutputRun(const std::uint8_t*& data, std::uint32_t& count) {
    return outRing_.NextRun(data, count);
}

std::uint64_t TVaxoBaseDispatcher::OutputGeneration() {
    return outRing_.Generation();
}

void TVaxoBaseDispatcher::AdvanceOutputTail(std::uint32_t n, std::uint64_t generation) {
    outRing_.Advance(n, generation);
}

long TVaxoBaseDispatcher::DriverOutputQueued() {
    return DeviceOutputQueued();
}

int TVaxoBaseDispatcher::ClearOutput() {
    outRing_.Clear();
    // Wait until the output worker has let go of the bytes it was writing, so that new output
    // never overwrites a buffer that is still being written.
    HaltOutputWorker();
    return DevicePurgeOutput();
}

// ---------------------------------------------------------------------------------------------
// Input ring

bool TVaxoBaseDispatcher::HasInput() {
    return inRing_.Available() > 0;
}

std::uint32_t TVaxoBaseDispatcher::InputUsed() {
    return inRing_.Available();
}

int TVaxoBaseDispatcher::TakeByte(std::uint8_t& byte) {
    return TakeBlock(&byte, 1) < 0 ? ecBufferIsEmpty : 0;
}

int TVaxoBaseDispatcher::TakeBlock(void* buffer, std::uint32_t count) {
    return inRing_.Take(buffer, count);
}

int TVaxoBaseDispatcher::PeekByteAt(std::uint32_t n, std::uint8_t& byte) {
    return inRing_.Peek(n, byte);
}

int TVaxoBaseDispatcher::ClearInput() {
    int result = DevicePurgeInput();
    // Outside a handler, a notification that is still waiting for the GUI thread is given up:
    // its handler would read the bytes being discarded, and deferring the discard to the end of
    // that delivery would leave them to whoever reads next (a wait for a prompt).
    inRing_.Discard(!AbandonCurrentDelivery());
    triggers_.ResetDataMatches();
    return result;
}

bool TVaxoBaseDispatcher::MoreInputPending() {
    return inRing_.MoreInputPending();
}

bool TVaxoBaseDispatcher::InputRingFull() {
    return inRing_.Full();
}

std::uint32_t TVaxoBaseDispatcher::PullDeviceInput() {
    return inRing_.Fill(
        [this] { return RefreshDeviceStatus(); },
        [this](std::uint8_t* buffer, std::uint32_t count) { return DeviceRead(buffer, count); });
}

// ---------------------------------------------------------------------------------------------
// Modem lines and line status

std::uint32_t TVaxoBaseDispatcher::RefreshDeviceStatus() {
    std::uint32_t queued = 0;
    const std::uint32_t bits = DeviceStatus(queued);
    if (bits != 0) {
        Lock lock(statusLock_);
        errorBits_ |= bits & 0x1F;
    }
    return queued;
}

int TVaxoBaseDispatcher::DriveControlLine(bool byFlow, bool& state, int on, LineFunction set,
                                          LineFunction clear) {
    if (byFlow) {
        return 1; // flow control drives the line
    }
    state = on == 1;
    DeviceEscape(state ? set : clear);
    return 0;
}

int TVaxoBaseDispatcher::DriveDtr(int on) {
    Lock lock(statusLock_);
    return DriveControlLine(dtrFlow_, dtrState_, on, LineFunction::SetDtr, LineFunction::ClrDtr);
}

int TVaxoBaseDispatcher::DriveRts(int on) {
    Lock lock(statusLock_);
    return DriveControlLine(rtsFlow_, rtsState_, on, LineFunction::SetRts, LineFunction::ClrRts);
}

int TVaxoBaseDispatcher::SendBreak() {
    // No lock: the break takes 250 ms, and the workers must not wait for it.
    return DeviceIsOpen() ? DeviceBreak() : ecCommNotOpen;
}

std::uint8_t TVaxoBaseDispatcher::SampleModemStatus(std::uint8_t mask) {
    Lock lock(statusLock_);
    std::uint8_t signals = 0;
    DeviceModemStatus(signals);
    modemBits_ = (modemBits_ & 0x0F) | (signals & 0xF0);
    if (ringSeen_) {
        ringSeen_ = false;
        modemBits_ |= 0x04;
    }
    auto before = static_cast<std::uint8_t>(modemBits_);
    modemBits_ &= mask;
    return before;
}

void TVaxoBaseDispatcher::RecordModemChange() {
    Lock lock(statusLock_);
    std::uint32_t old = modemBits_;
    SampleModemStatus(0xFF);
    modemBits_ |= ((old ^ modemBits_) >> 4) & 0x0F;
}

void TVaxoBaseDispatcher::NoteRing() {
    Lock lock(statusLock_);
    ringSeen_ = true;
}

namespace {
bool TakeSignal(std::uint32_t& bits, std::uint32_t state, std::uint32_t change) {
    bits &= ~change;
    return (bits & state) != 0;
}
} // namespace

bool TVaxoBaseDispatcher::CtsAsserted() {
    Lock lock(statusLock_);
    return TakeSignal(modemBits_, 0x10, 0x01);
}

bool TVaxoBaseDispatcher::DsrAsserted() {
    Lock lock(statusLock_);
    return TakeSignal(modemBits_, 0x20, 0x02);
}

bool TVaxoBaseDispatcher::DcdAsserted() {
    Lock lock(statusLock_);
    return TakeSignal(modemBits_, 0x80, 0x08);
}

bool TVaxoBaseDispatcher::RingAsserted() {
    Lock lock(statusLock_);
    bool changed = (modemBits_ & 0x04) != 0;
    modemBits_ &= ~0x04u;
    return changed;
}

std::uint32_t TVaxoBaseDispatcher::ModemBits() {
    Lock lock(statusLock_);
    return modemBits_;
}

std::uint32_t TVaxoBaseDispatcher::ErrorBits() {
    Lock lock(statusLock_);
    return errorBits_;
}

int TVaxoBaseDispatcher::TakeLineError() {
    Lock lock(statusLock_);
    int result = 0;
    if (errorBits_ & ceRxOver) {
        result = 1;
    } else if (errorBits_ & ceOverrun) {
        result = 2;
    } else if (errorBits_ & ceRxParity) {
        result = 3;
    } else if (errorBits_ & ceFrame) {
        result = 4;
    } else if (errorBits_ & ceBreak) {
        result = 9;
    }
    if (result != 0) {
        errorBits_ &= ceBreak;
    }
    return result;
}

bool TVaxoBaseDispatcher::TakeBreakFlag() {
    Lock lock(statusLock_);
    bool brk = (errorBits_ & ceBreak) != 0;
    errorBits_ &= ~ceBreak;
    return brk;
}

// ---------------------------------------------------------------------------------------------
// Flow control

int TVaxoBaseDispatcher::ConfigureFlow(std::uint32_t bufferFull, std::uint32_t bufferResume,
                                       const std::function<void(LineBlock&)>& set) {
    Lock lock(statusLock_);
    if (bufferFull < bufferResume || bufferFull > inSize_) {
        return ecBadArgument;
    }
    DeviceGetLine(lineBlock_);
    lineBlock_.xoffLim = static_cast<std::uint16_t>(inSize_ - bufferFull);
    lineBlock_.xonLim = static_cast<std::uint16_t>(bufferResume);
    set(lineBlock_);
    return SetLineBlockLocked(lineBlock_);
}

int TVaxoBaseDispatcher::ConfigureHardwareFlow(std::uint32_t bufferFull, std::uint32_t bufferResume,
                                               std::uint32_t options) {
    return ConfigureFlow(bufferFull, bufferResume, [&](LineBlock& b) {
        b.outxCtsFlow = b.outxDsrFlow = false;
        dtrFlow_ = rtsFlow_ = false;
        if (options & hwfUseDTR) {
            b.dtrControl = LineControl::Handshake;
            dtrFlow_ = true;
        } else {
            b.dtrControl = dtrState_ ? LineControl::Enable : LineControl::Disable;
        }
        if (options & hwfUseRTS) {
            b.rtsControl = LineControl::Handshake;
            rtsFlow_ = true;
        } else {
            b.rtsControl = rtsState_ ? LineControl::Enable : LineControl::Disable;
        }
        if (rs485Mode_ && rs485ByDriver_) {
            b.rtsControl = LineControl::Toggle;
            rtsFlow_ = true;
        }
        b.outxDsrFlow = (options & hwfRequireDSR) != 0;
        b.outxCtsFlow = (options & hwfRequireCTS) != 0;
    });
}

int TVaxoBaseDispatcher::ConfigureSoftwareFlow(std::uint32_t bufferFull, std::uint32_t bufferResume,
                                               std::uint32_t options) {
    return ConfigureFlow(bufferFull, bufferResume, [&](LineBlock& b) {
        b.inX = (options & sfSendXoff) != 0;
        b.outX = (options & sfObeyXoff) != 0;
        if (options & (sfObeyXoff | sfSendXoff)) {
            b.xonChar = 17;
            b.xoffChar = 19;
        }
    });
}

int TVaxoBaseDispatcher::StopSoftwareFlow() {
    Lock lock(statusLock_);
    DeviceGetLine(lineBlock_);
    lineBlock_.inX = lineBlock_.outX = false;
    return SetLineBlockLocked(lineBlock_);
}

int TVaxoBaseDispatcher::ConfigureFlowChars(std::uint8_t xonChar, std::uint8_t xoffChar) {
    Lock lock(statusLock_);
    DeviceGetLine(lineBlock_);
    lineBlock_.xonChar = xonChar;
    lineBlock_.xoffChar = xoffChar;
    return SetLineBlockLocked(lineBlock_);
}

void TVaxoBaseDispatcher::QueryFlow(std::uint32_t& hwOptions, std::uint32_t& swOptions,
                                    std::uint8_t& xonChar, std::uint8_t& xoffChar) {
    Lock lock(statusLock_);
    DeviceGetLine(lineBlock_);
    const LineBlock& b = lineBlock_;
    auto bit = [](bool on, std::uint32_t option) { return on ? option : 0u; };
    hwOptions = bit(b.dtrControl == LineControl::Handshake, hwfUseDTR) |
                bit(b.rtsControl == LineControl::Handshake, hwfUseRTS) |
                bit(b.outxDsrFlow, hwfRequireDSR) | bit(b.outxCtsFlow, hwfRequireCTS);
    swOptions = bit(b.outX, sfObeyXoff) | bit(b.inX, sfSendXoff);
    xonChar = b.xonChar;
    xoffChar = b.xoffChar;
}

int TVaxoBaseDispatcher::ApplyRs485Mode(bool on) {
    Lock lock(statusLock_);
    rs485Mode_ = on;
    // Linux drivers that offer RS485 toggle RTS themselves; without that support output is
    // refused in RS485 mode (there is no UART base address to drive RTS by hand).
    rs485ByDriver_ = DeviceSetRs485(on) == 0 && on;
    return 0;
}

bool TVaxoBaseDispatcher::Rs485Mode() {
    Lock lock(statusLock_);
    return rs485Mode_;
}

void TVaxoBaseDispatcher::SetOptionFlag(std::uint32_t flag, bool on) {
    Lock lock(statusLock_);
    optionFlags_ = on ? (optionFlags_ | flag) : (optionFlags_ & ~flag);
}

std::uint32_t TVaxoBaseDispatcher::OptionFlags() {
    Lock lock(statusLock_);
    return optionFlags_;
}

void TVaxoBaseDispatcher::SetWorkerPriority(int) {}

// ---------------------------------------------------------------------------------------------
// Triggers

int TVaxoBaseDispatcher::AddDataMatchTrigger(const void* bytes, std::uint32_t length,
                                             bool ignoreCase) {
    return triggers_.AddData(bytes, length, ignoreCase);
}

int TVaxoBaseDispatcher::AddTickTrigger() {
    return triggers_.AddTimer();
}

int TVaxoBaseDispatcher::AddStatusWatch(std::uint32_t kind) {
    return triggers_.AddStatus(kind);
}

int TVaxoBaseDispatcher::ArmTickTrigger(std::uint32_t handle, std::int32_t ticks, bool activate) {
    return triggers_.ArmTimer(handle, ticks, activate);
}

int TVaxoBaseDispatcher::ArmStatusWatch(std::uint32_t handle, std::uint32_t value, bool activate) {
    return triggers_.ArmStatus(handle, value, activate, ModemBits());
}

int TVaxoBaseDispatcher::DeleteTrigger(std::uint32_t handle) {
    return triggers_.Drop(handle);
}

void TVaxoBaseDispatcher::SetAvailThreshold(std::uint32_t count) {
    triggers_.SetAvailThreshold(count);
}

void TVaxoBaseDispatcher::ClearAllTriggers() {
    triggers_.Clear();
}

void TVaxoBaseDispatcher::SnapshotTriggers(TriggerSaveRecord& save) {
    triggers_.Snapshot(save);
}

void TVaxoBaseDispatcher::ReinstateTriggers(const TriggerSaveRecord& save) {
    triggers_.Reinstate(save);
}

} // namespace pellwick
