#include "link/LinkOperations.h"

#include "link/LineProgress.h"
#include "serial/errors/OpenFailure.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <thread>
#include <utility>

namespace pellwick {

namespace {

// 1-based position of needle in text, 0 when absent; an empty needle is never found.
std::size_t PositionOf(const std::string& needle, const std::string& text) {
    if (needle.empty())
        return 0;
    const auto at = text.find(needle);
    return at == std::string::npos ? 0 : at + 1;
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Runs change, then tell; tell runs also when change throws, and the exception goes on.
template <class Change, class Tell> void ThenTell(Change change, Tell tell) {
    try {
        change();
    } catch (...) {
        tell();
        throw;
    }
    tell();
}

} // namespace

LinkOperations::LinkOperations(ILinkPort& port, IMessageBoxes& boxes)
    : port_(port), boxes_(boxes), now_([] { return Clock::now(); }) {
    LinkPortHandlers handlers;
    handlers.WaitChar = [this](char c) { VaxoComPort1WaitChar(c); };
    handlers.TriggerData = [this](std::uint16_t handle) { VaxoComPort1TriggerData(handle); };
    handlers.OutbuffFree = [this] { VaxoComPort1TriggerOutbuffFree(); };
    handlers.OutbuffUsed = [this] { VaxoComPort1TriggerOutbuffUsed(); };
    port_.SetHandlers(std::move(handlers));
}

LinkOperations::~LinkOperations() {
    if (answer_) {
        EndCommand();
    }
    port_.SetHandlers({});
}

void LinkOperations::ShowError(const char* text) {
    boxes_.Show(MsgKind::Error, text, MbOk);
}

// --- Sending -----------------------------------------------------------------------------------

void LinkOperations::SendDataByte(std::uint8_t byte) {
    while (port_.OutputRoom() < 10)
        SleepMs(5);
    port_.WriteChar(static_cast<char>(byte));
}

bool LinkOperations::RoomFor(std::size_t length) {
    return port_.OutputRoom() >= length + 10;
}

void LinkOperations::WriteString(const std::string& text) {
    // What came before a command is not part of what follows it.
    dropped_.clear();
    port_.WriteText(text);
}

bool LinkOperations::SendBlock(const std::uint8_t* bytes, std::uint16_t count) {
    if (count >= port_.OutputRoom())
        return false;
    port_.WriteBlock(bytes, count);
    return true;
}

bool LinkOperations::GetBuffer(void* buffer, std::uint16_t count) {
    try {
        if (port_.InputCount() < count)
            SleepMs(100);
        port_.ReadBlock(buffer, count);
        return port_.PendingLineError() == 0;
    } catch (const std::exception&) {
        return false;
    }
}

std::uint8_t LinkOperations::PreviewChar(std::uint16_t n) {
    try {
        if (port_.InputCount() < n)
            SleepMs(10);
        return static_cast<std::uint8_t>(port_.PeekInput(n));
    } catch (const std::exception&) {
        return 0;
    }
}

void LinkOperations::FlushAll() {
    port_.DiscardInput();
    port_.DiscardOutput();
}

void LinkOperations::FlushInput() {
    port_.DiscardInput();
}

std::chrono::milliseconds LinkOperations::QuietFor(double bytesPerSecond) {
    if (bytesPerSecond <= 0)
        return QuietShortest;
    const auto characters = std::chrono::milliseconds(
        static_cast<std::int64_t>(std::ceil(64 * 1000.0 / bytesPerSecond)));
    return std::max(QuietShortest, characters);
}

void LinkOperations::BeginTakeInput() {
    // The bytes reach ReplyText through the WaitChar handler; no trigger is delivered meanwhile.
    state_.ReplyText.clear();
    port_.BeginInputWait();
}

InputLook LinkOperations::TakeArrived(std::size_t& taken) {
    return port_.TakeWaitingInput([&taken](char) {
        ++taken;
        return false;
    });
}

std::string LinkOperations::EndTakeInput() {
    port_.EndInputWait();
    std::string taken = std::exchange(dropped_, std::string()) + state_.ReplyText;
    state_.ReplyText.clear();
    if (port_.Open()) {
        port_.DiscardInput();
    }
    return taken;
}

// --- Command exchange --------------------------------------------------------------------------

std::string LinkOperations::ClassifyReply(const std::string& reply, const std::string& resultMarker,
                                          const std::string& activeError,
                                          const std::string& activePrompt) {
    if (const auto p = PositionOf(resultMarker, reply); p != 0) {
        // The value runs from after a one-character marker up to the three characters that end
        // the answer (line end and a one-character prompt).
        const auto count = static_cast<long long>(reply.size()) - static_cast<long long>(p) - 3;
        if (count <= 0)
            return {};
        return reply.substr(p, static_cast<std::size_t>(count));
    }
    if (PositionOf(activeError, reply) != 0)
        return "ERROR";
    if (PositionOf(activePrompt, reply) != 0)
        return "OK";
    return "ERROR";
}

void LinkOperations::ShowBusy(bool busy) {
    if (busyShown_ != busy && busyCursor_) {
        busyCursor_(busy);
    }
    busyShown_ = busy;
}

void LinkOperations::BeginCommand(const std::string& text) {
    if (answer_) {
        EndCommand();
    }
    dropped_.clear();
    state_.ReplyText.clear();
    // An empty prompt is found at once, as the port's wait for text finds it.
    answer_ = std::make_unique<TextMatcher>(state_.ActivePrompt, true);
    commandFailed_ = false;
    ShowBusy(true);
    try {
        // The wait begins before the command goes out: an answer that comes at once is the
        // wait's, never the prompt trigger's, which would throw it away.
        if (!answer_->Found()) {
            port_.BeginInputWait();
        }
        port_.WriteText(text);
    } catch (const std::exception&) {
        commandFailed_ = true;
        ShowBusy(false);
        ShowError("Error Accessing Comm Port !");
    }
}

InputLook LinkOperations::TakeAnswer() {
    if (!answer_ || commandFailed_) {
        return InputLook::Gone;
    }
    if (answer_->Found()) {
        return InputLook::Done;
    }
    try {
        return port_.TakeWaitingInput([this](char c) { return answer_->Take(c); });
    } catch (const std::exception&) {
        commandFailed_ = true;
        ShowBusy(false);
        ShowError("Error Accessing Comm Port !");
        return InputLook::Gone;
    }
}

std::string LinkOperations::EndCommand() {
    const bool failed = commandFailed_ || !answer_;
    answer_.reset();
    commandFailed_ = false;
    port_.EndInputWait();
    ShowBusy(false);
    // Whether the prompt came or the time ran out is not looked at: the reply says it.
    if (failed) {
        return "ERROR";
    }
    return ClassifyReply(state_.ReplyText, state_.ResultMarker, state_.ActiveError,
                         state_.ActivePrompt);
}

// --- Block transfer ----------------------------------------------------------------------------

int LinkOperations::GaugePercent(std::int32_t total, std::int32_t remaining) {
    return TransferGaugePercent(total, remaining);
}

void LinkOperations::SendBuffer(const std::uint8_t* bytes, std::uint32_t count) {
    // A stop asked for during an earlier transfer, or left by an error string that came with
    // its last block, must not cut this one short.
    state_.StopRequest = false;
    state_.DeviceErrorAt = -1;
    state_.DeviceErrorQueued = -1;
    state_.BlockRemaining = static_cast<std::int32_t>(count);
    state_.BlockTotal = static_cast<std::int32_t>(count);
    state_.BlockCursor = bytes;
    transfer_ = {};
    onLineShown_ = 0;
    transfer_.BytesPerSecond = port_.BytesPerSecond();
    // Output queued ahead of the transfer (its header) goes to the driver first. Read in this
    // order, a byte of it that the driver takes between the two readings is counted in neither:
    // the transfer's count can come out a few bytes high, never low, and what the transfer
    // queued caps it.
    transfer_.HandedBase = port_.OutputHanded();
    transfer_.HandedBase += port_.OutputCount();
    port_.SetTag(PhaseSending);
    try {
        ArmTransferTrigger(state_.RoomTrigger, state_.BlockSize);
    } catch (...) {
        // No room notice will come: the transfer never started, and its bytes are free again.
        port_.SetTag(PhaseNone);
        throw;
    }
}

void LinkOperations::ArmTransferTrigger(std::uint16_t handle, std::uint16_t value) {
    // A closed port says so itself; an open one without the trigger could not make it when it
    // opened, which was reported then.
    if (handle == 0 && port_.Open())
        throw std::runtime_error("The upload triggers of the port could not be created: the "
                                 "port must be opened again (Save in the settings).");
    port_.ArmStatusTrigger(handle, value, true);
}

void LinkOperations::VaxoComPort1TriggerOutbuffFree() {
    if (port_.Tag() == PhaseSending && port_.HungUp()) {
        // Output into a hung-up line is dropped, so room keeps coming: without this the rest
        // of the file would go nowhere before the verification found no device.
        port_.SetTag(PhaseDeviceError);
        state_.StopRequest = false;
        state_.BlockRemaining = 0;
        ArmTransferTrigger(state_.DrainTrigger, 0);
        return;
    }
    if (state_.BlockSize < state_.BlockRemaining) {
        QueueTransferBlock(state_.BlockSize);
        state_.BlockCursor += state_.BlockSize;
        state_.BlockRemaining -= state_.BlockSize;
        if (state_.StopRequest) {
            // The gauge keeps the share really on the line, not the 100 % of a stopped count.
            if (host_)
                host_->SetUploadGauge(Progress().OnLinePercent());
            state_.StopRequest = false;
            state_.BlockRemaining = 0;
            ArmTransferTrigger(state_.DrainTrigger, 0);
            return;
        }
        ArmTransferTrigger(state_.RoomTrigger, state_.BlockSize);
    } else {
        // A transfer of 0 bytes queues nothing but still ends through the drain trigger.
        if (state_.BlockRemaining > 0)
            QueueTransferBlock(static_cast<std::uint16_t>(state_.BlockRemaining));
        state_.BlockCursor += state_.BlockRemaining;
        state_.BlockRemaining = 0;
        ArmTransferTrigger(state_.DrainTrigger, 0);
    }
    // What the line has carried, not what went into the buffer: at a low rate the driver
    // holds many seconds of output.
    if (host_)
        host_->SetUploadGauge(Progress().OnLinePercent());
}

void LinkOperations::QueueTransferBlock(std::uint16_t count) {
    if (!transfer_.Started) {
        transfer_.Started = true;
        transfer_.FirstQueued = now_();
    }
    port_.WriteBlock(state_.BlockCursor, count);
    transfer_.Queued += count;
}

bool LinkOperations::DriverStillSending() {
    // A stop, the device's error string (its discard emptied the driver too) and a gone line
    // end the transfer at once, as before.
    if (transfer_.Ended || state_.StopRequest || port_.Tag() != PhaseSending || port_.HungUp())
        return false;
    const std::int32_t held = port_.DriverOutputCount();
    if (held <= 0) {
        transfer_.LineTold = held == 0;
        return false;
    }
    const auto now = now_();
    if (transfer_.DriverLeast < 0 || held < transfer_.DriverLeast) {
        transfer_.DriverLeast = held;
        transfer_.DriverMovedAt = now;
        return true;
    }
    // A flow-control line that holds the output is for TransferHeld to tell; a count that
    // stands still for no reason ends the transfer as if the driver had not told.
    return now - transfer_.DriverMovedAt < DriverStallLimit || !FlowLineHolding().empty();
}

std::string LinkOperations::FlowLineHolding() {
    // Either flag switches the driver's RTS/CTS handshake on, and output then waits for CTS;
    // DSR holds nothing back on this system.
    const std::uint8_t flow = port_.HWFlowOptions();
    try {
        if ((flow & 10) != 0 && !port_.CtsSignal())
            return (flow & 8) != 0 ? "CTS is low and Require CTS is on."
                                   : "CTS is low and Use RTS is on (its handshake waits for CTS).";
    } catch (const std::exception&) {
        // A port that cannot read its lines says nothing of them.
    }
    return {};
}

std::string LinkOperations::TransferHeld() {
    if (port_.Tag() != PhaseSending || transfer_.Ended)
        return {};
    const auto now = now_();
    const std::uint64_t handed = port_.OutputHanded();
    const std::int32_t driver = port_.DriverOutputCount();
    const bool moved = !transfer_.Watched || handed != transfer_.WatchHanded ||
                       (driver >= 0 && driver < transfer_.WatchDriver);
    transfer_.WatchHanded = handed;
    transfer_.WatchDriver = driver;
    if (moved) {
        transfer_.Watched = true;
        transfer_.MovedAt = now;
        return {};
    }
    if (now - transfer_.MovedAt < TransferHeldLimit)
        return {};
    const std::string prefix =
        "Nothing left for " + std::to_string(TransferHeldLimit.count() / 1000) + " s: ";
    // Only a driver that tells its queue shows its lines truly (a pseudo-terminal reads them
    // all as off, and takes no notice of them).
    if (driver >= 0) {
        if (std::string line = FlowLineHolding(); !line.empty())
            return prefix + line;
    }
    // Output waiting in the program's own buffer shows that nothing takes it; what stands
    // only in the driver is left to the end of the transfer, which waits for it.
    if (state_.BlockRemaining > 0 || port_.OutputCount() > 0)
        return prefix + (driver >= 0 ? "the driver takes no more bytes."
                                     : "the device takes no more bytes.");
    return {};
}

void LinkOperations::StopTransfer() {
    if (port_.Tag() == PhaseNone)
        return;
    FreezeProgress();
    state_.StopRequest = true;
    state_.BlockRemaining = 0;
    // No room notice may queue another block after the discard: only the drain is waited for,
    // and it comes at once with nothing left.
    port_.ArmStatusTrigger(state_.RoomTrigger, 0, false);
    port_.DiscardOutput();
    ArmTransferTrigger(state_.DrainTrigger, 0);
}

void LinkOperations::DiscardOutput() {
    if (port_.Open())
        port_.DiscardOutput();
}

void LinkOperations::FreezeProgress() {
    if (transfer_.Frozen || !transfer_.Started)
        return;
    const TransferProgress now = Progress();
    transfer_.Frozen = true;
    transfer_.FrozenOnLine = now.OnLine;
    transfer_.FrozenAt = now_();
}

bool LinkOperations::TriggersReady() {
    if (!port_.Open())
        return false;
    const bool data = dataTriggersWanted_ || runActive_;
    return state_.RoomTrigger != 0 && state_.DrainTrigger != 0 &&
           (!dataTriggersWanted_ || state_.PromptTrigger != 0) &&
           (!data || state_.ErrorTrigger != 0);
}

void LinkOperations::EndTransfer(bool drained) {
    if (transfer_.Ended)
        return;
    transfer_.HandedAtEnd = TransferHanded();
    transfer_.Ended = true;
    transfer_.Drained = drained;
    transfer_.EndedAt = now_();
}

std::int64_t LinkOperations::TransferHanded() const {
    if (transfer_.Ended)
        return transfer_.HandedAtEnd;
    const std::uint64_t handed = port_.OutputHanded();
    if (handed <= transfer_.HandedBase)
        return 0;
    return std::min(static_cast<std::int64_t>(handed - transfer_.HandedBase), transfer_.Queued);
}

TransferProgress LinkOperations::Progress() const {
    TransferProgress progress;
    progress.Total = state_.BlockTotal;
    progress.Started = transfer_.Started;
    progress.Drained = transfer_.Drained;
    if (!transfer_.Started)
        return progress;
    const auto seconds = [this](Clock::time_point until) {
        return std::chrono::duration<double>(until - transfer_.FirstQueued).count();
    };
    LineMoment moment;
    // The handed count first: a block the driver takes before its queue is read then only
    // makes the estimate low for a moment.
    moment.Handed = TransferHanded();
    if (transfer_.Ended)
        moment.DriverQueued = transfer_.LineTold ? 0 : -1;
    else
        moment.DriverQueued = port_.DriverOutputCount();
    moment.Drained = transfer_.Drained && transfer_.LineTold;
    moment.Seconds = seconds(now_());
    // A driver that does not tell what it holds, but holds no more than it can take: the peer
    // has read the rest, and at least as fast as it did so. A peer faster than the port's rate
    // (a board emulator, a bridge) is then not taken for a slow line.
    double rate = transfer_.BytesPerSecond;
    std::int64_t readAtLeast = 0;
    const bool bounded = moment.DriverQueued < 0 && port_.UntoldQueueBounded();
    if (bounded && moment.Handed > UntoldDriverHolds) {
        readAtLeast = moment.Handed - UntoldDriverHolds;
        const double shown = seconds(transfer_.Ended ? transfer_.EndedAt : now_());
        if (shown > 0 && rate > 0)
            rate = std::max(rate, static_cast<double>(readAtLeast) / shown);
    }
    // Once drained, all it took is out when the line had time for the most it holds.
    double emptiedBy = -1;
    if (transfer_.Drained && !transfer_.LineTold && bounded) {
        emptiedBy = seconds(transfer_.EndedAt) +
                    WireSeconds(std::min(UntoldDriverHolds, moment.Handed), rate);
        moment.Drained = moment.Seconds >= emptiedBy;
    }
    progress.Handed = moment.Handed;
    if (transfer_.Frozen) {
        // A file that failed counts what had gone when it failed: bytes that still leave after
        // that (at most a block) are not what the device had when it answered.
        progress.Frozen = true;
        progress.OnLine = transfer_.FrozenOnLine;
        progress.Seconds =
            std::max(seconds(transfer_.FrozenAt), WireSeconds(progress.OnLine, rate));
        return progress;
    }
    onLineShown_ = std::max({onLineShown_, BytesOnLine(moment, rate), readAtLeast});
    progress.OnLine = onLineShown_;
    progress.Seconds = moment.Seconds;
    if (transfer_.Ended) {
        // The line cannot have carried the bytes faster than its rate, whatever the buffers did.
        const double wire = WireSeconds(progress.Handed, rate);
        progress.Seconds = std::max(seconds(transfer_.EndedAt), wire);
        if (emptiedBy >= 0) {
            progress.Seconds = std::min(progress.Seconds, emptiedBy);
        }
        if (transfer_.Drained && !transfer_.LineTold) {
            progress.SecondsLeft =
                std::max(0.0, (emptiedBy >= 0 ? std::min(emptiedBy, wire) : wire) - moment.Seconds);
        }
    }
    return progress;
}

void LinkOperations::VaxoComPort1TriggerOutbuffUsed() {
    // Our buffer is empty. Where the driver tells what it still holds, the transfer goes on
    // until that has left too: the notice comes again at the dispatcher's next look.
    if (DriverStillSending()) {
        ArmTransferTrigger(state_.DrainTrigger, 0);
        return;
    }
    EndTransfer(true);
    // The transfer is over before the host hears of it, so that the host may release its bytes.
    const int phase = port_.Tag();
    port_.SetTag(PhaseNone);
    if (phase == PhaseDeviceError) {
        if (host_)
            host_->SetULError();
    } else if (state_.UploadMode) {
        if (host_)
            host_->EnableScriptTimer();
    }
}

// --- Data triggers -----------------------------------------------------------------------------

void LinkOperations::VaxoComPort1WaitChar(char c) {
    state_.ReplyText.push_back(c);
}

void LinkOperations::VaxoComPort1TriggerData(std::uint16_t triggerHandle) {
    if (triggerHandle == state_.ErrorTrigger) {
        if (port_.Tag() == PhaseSending) {
            // What the device can have had when it answered: the bytes on the line by then.
            FreezeProgress();
            state_.DeviceErrorAt = Progress().OnLine;
            state_.DeviceErrorQueued = transfer_.Queued;
            port_.SetTag(PhaseDeviceError);
            state_.StopRequest = true;
            port_.DiscardOutput();
        } else if (port_.Tag() == PhaseDeviceError) {
            // The device repeats its refusal while the stopped transfer drains: the drain
            // reports it once.
        } else if (state_.UploadMode) {
            if (host_)
                host_->SetScriptError();
        }
        return;
    }
    // The prompt that ended an exchange: what is left of that answer is not wanted. A prompt
    // that a wait took is noticed only with the next byte after it, so what is thrown away here
    // may have come after the prompt: the start of the device's error string during a transfer.
    // It is kept for the verification's TakeInput.
    KeepDroppedInput();
    port_.DiscardInput();
    state_.ReplyText.clear();
}

void LinkOperations::KeepDroppedInput() {
    const auto kept = static_cast<std::size_t>(DroppedKept);
    try {
        const int waiting = port_.InputCount();
        // The last bytes are the ones that can begin an error string.
        for (int n = std::max(1, waiting - DroppedKept + 1); n <= waiting; ++n)
            dropped_.push_back(port_.PeekInput(static_cast<std::uint16_t>(n)));
    } catch (const std::exception&) {
        // A port that cannot show its input discards it all the same.
    }
    if (dropped_.size() > kept)
        dropped_.erase(0, dropped_.size() - kept);
}

// Trigger handles: 0 stands for "no such trigger". A handle is cleared before it is dropped,
// so that a drop that fails is never tried again, and every trigger is created only where none
// is held; whatever happened before, switching on or off twice does no harm.

void LinkOperations::CreateTrigger(std::uint16_t& handle,
                                   const std::function<std::uint16_t()>& make,
                                   std::exception_ptr& failure) {
    if (handle != 0)
        return;
    try {
        handle = make();
    } catch (...) {
        handle = 0;
        if (!failure)
            failure = std::current_exception();
    }
}

void LinkOperations::DropTrigger(std::uint16_t& handle) {
    const std::uint16_t held = std::exchange(handle, 0);
    // A closed port took its triggers with it.
    if (held != 0 && port_.Open())
        port_.DropTrigger(held);
}

void LinkOperations::CreateDataTriggers() {
    if (!port_.Open())
        return;
    const bool up = state_.UploadMode;
    const std::string prompt = up ? state_.UlPromptText : state_.PromptText;
    const std::string error = up ? state_.UlErrorText : state_.ErrorText;
    std::exception_ptr failure;
    if (dataTriggersWanted_) {
        CreateTrigger(
            state_.PromptTrigger, [&] { return port_.NewTextTrigger(prompt, false); }, failure);
    }
    if (dataTriggersWanted_ || runActive_) {
        CreateTrigger(
            state_.ErrorTrigger, [&] { return port_.NewTextTrigger(error, true); }, failure);
    }
    if (failure)
        std::rethrow_exception(failure);
}

void LinkOperations::DropDataTriggers() {
    std::exception_ptr failure;
    for (std::uint16_t* handle : {&state_.PromptTrigger, &state_.ErrorTrigger}) {
        try {
            DropTrigger(*handle);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

void LinkOperations::TellTriggers() {
    if (host_)
        host_->TriggersChanged();
}

void LinkOperations::SetUploadMode(bool on) {
    state_.UploadMode = on;
    // The active strings follow the mode even when a trigger of the new mode cannot be made.
    state_.ActivePrompt = on ? state_.UlPromptText : state_.PromptText;
    state_.ActiveError = on ? state_.UlErrorText : state_.ErrorText;
    // Only the triggers wanted now are made again, with the strings of the new mode.
    if (!port_.Open())
        return;
    ThenTell(
        [this] {
            DropDataTriggers();
            CreateDataTriggers();
        },
        [this] { TellTriggers(); });
}

void LinkOperations::DataTriggerEnabled(bool on) {
    dataTriggersWanted_ = on;
    ThenTell(
        [this, on] {
            if (on) {
                CreateDataTriggers();
            } else {
                DropTrigger(state_.PromptTrigger);
                if (!runActive_)
                    DropTrigger(state_.ErrorTrigger);
            }
        },
        [this] { TellTriggers(); });
}

void LinkOperations::SetRunActive(bool on) {
    runActive_ = on;
    try {
        if (on)
            CreateDataTriggers();
        else if (!dataTriggersWanted_)
            DropTrigger(state_.ErrorTrigger);
    } catch (const std::exception&) {
        // A string the port refuses was reported when the port opened; a closed port makes
        // its triggers when it opens.
    }
}

// --- Port set-up -------------------------------------------------------------------------------

void LinkOperations::ApplyLinkSettings(const LinkSettings& link) {
    state_.PromptText = link.PromptText;
    state_.ErrorText = link.ErrorText;
    state_.UlPromptText = link.UlPromptText;
    state_.UlErrorText = link.UlErrorText;
    state_.ResultMarker = link.ResultMarker;
    state_.ActivePrompt = link.PromptText;
    state_.ActiveError = link.ErrorText;
    state_.BufferSize = std::max(link.BufferSize, Rs232SettingsFile::MinBufferSize);
    // A block of 0 bytes never moves the transfer, one above the buffer never finds room.
    state_.BlockSize = std::clamp<std::uint16_t>(link.BlockSize, 1, state_.BufferSize);
}

void LinkOperations::ApplyFlowAndLines(const Rs232Settings& settings) {
    std::uint8_t flow = 0;
    if (settings.UseDtr)
        flow |= 1;
    if (settings.UseRts)
        flow |= 2;
    if (settings.RequireDsr)
        flow |= 4;
    if (settings.RequireCts)
        flow |= 8;
    port_.SetHWFlowOptions(0);
    port_.SetHWFlowOptions(flow);
    port_.SetDTR(settings.DtrOn);
    port_.SetRTS(settings.RtsOn);
}

void LinkOperations::ApplyLineSettings(const Rs232Settings& settings) {
    port_.SetBaud(settings.PortBaud());
    port_.SetComNumber(settings.PortNumber);
    port_.SetDataBits(settings.DataBitCount);
    port_.SetParityCode(settings.ParityCode);
    port_.SetStopBits(settings.StopBitCount);
}

void LinkOperations::ConfigurePort(const Rs232Settings& settings) {
    port_.SetOpen(false);
    ApplyLineSettings(settings);
    ApplyFlowAndLines(settings);
    port_.SetOutSize(state_.BufferSize);
}

bool LinkOperations::OpenPortWithTriggers() {
    try {
        OpenWithTriggers();
        openFailure_.clear();
        if (host_)
            host_->SetComBtnState(true);
        return true;
    } catch (const std::exception&) {
        if (host_)
            host_->SetComBtnState(false);
        // The device layer's note names the device and why (no permission, who holds it).
        openFailure_ = WithOpenFailure("Error Opening Selected Comm Port !");
        ShowError(openFailure_.c_str());
        return false;
    }
}

void LinkOperations::OpenWithTriggers() {
    if (!port_.Open()) {
        // Whatever was held went with the port's previous opening.
        ForgetTriggers();
        port_.SetOpen(true);
    }
    std::exception_ptr failure;
    // Every trigger is tried, so that one string the port refuses (longer than a data trigger
    // takes) leaves the others working.
    try {
        CreateDataTriggers();
    } catch (...) {
        failure = std::current_exception();
    }
    CreateTrigger(
        state_.RoomTrigger, [this] { return port_.NewStatusTrigger(StatusKindOutputFree); },
        failure);
    CreateTrigger(
        state_.DrainTrigger, [this] { return port_.NewStatusTrigger(StatusKindOutputUsed); },
        failure);
    TellTriggers();
    if (failure)
        std::rethrow_exception(failure);
}

void LinkOperations::ForgetTriggers() {
    state_.PromptTrigger = 0;
    state_.ErrorTrigger = 0;
    state_.RoomTrigger = 0;
    state_.DrainTrigger = 0;
}

void LinkOperations::CloseAndDropTriggers() {
    // A transfer under way would wait for a drain notice that the closed port never sends.
    const bool transferring = AbandonTransfer();
    if (port_.Open()) {
        for (std::uint16_t* handle : {&state_.RoomTrigger, &state_.DrainTrigger,
                                      &state_.PromptTrigger, &state_.ErrorTrigger}) {
            // Closing takes every trigger with it; a drop that fails changes nothing.
            try {
                DropTrigger(*handle);
            } catch (const std::exception&) {
            }
        }
        port_.SetOpen(false);
    }
    ForgetTriggers();
    TellTriggers();
    if (transferring && host_)
        host_->SetULError();
}

bool LinkOperations::AbandonTransfer() {
    const bool transferring = port_.Tag() != PhaseNone;
    if (transferring)
        EndTransfer(false);
    port_.SetTag(PhaseNone);
    state_.StopRequest = false;
    state_.BlockRemaining = 0;
    return transferring;
}

void LinkOperations::LineLost() {
    ForgetTriggers();
    const bool transferring = AbandonTransfer();
    if (host_ == nullptr)
        return;
    host_->SetComBtnState(false);
    if (transferring)
        host_->SetULError();
}

bool LinkOperations::OpenWithSettings(const Rs232Settings& settings, const LinkSettings& link) {
    state_.StopRequest = false;
    ApplyLinkSettings(link);
    ConfigurePort(settings);
    return OpenPortWithTriggers();
}

} // namespace pellwick
