#include "support/VirtualDevicePort.h"

#include "link/LineProgress.h"
#include "serial/errors/ErrorToException.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pellwick::test {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// How often the dispatcher looks at its status triggers when nothing else wakes it.
constexpr milliseconds IdleWake{50};
// The line moves its bytes in steps of this length.
constexpr milliseconds LineStepLength{1};

microseconds Until(RunClock::TimePoint now, RunClock::TimePoint when) {
    return std::max(microseconds(0), std::chrono::duration_cast<microseconds>(when - now));
}

} // namespace

std::int64_t VirtualDevicePort::Pacer::Allowance(RunClock::TimePoint now, double rate) const {
    if (!busy) {
        return 0;
    }
    if (rate <= 0) {
        return std::numeric_limits<std::int32_t>::max();
    }
    const double seconds = std::chrono::duration<double>(now - from).count();
    return static_cast<std::int64_t>(std::floor(seconds * rate)) - moved;
}

void VirtualDevicePort::Pacer::Begin(RunClock::TimePoint at) {
    if (!busy) {
        busy = true;
        from = at;
        moved = 0;
    }
}

VirtualDevicePort::VirtualDevicePort(VirtualClock& clock, DriverKind driver)
    : clock_(clock), driver_(driver), worker_(clock.MakeTimer([this] { TakeIntoDriver(); })),
      line_(clock.MakeTimer([this] {
          lineDue_.reset();
          LineStep();
          ScheduleLine();
      })),
      idle_(clock.MakeTimer([this] {
          StatusPass();
          if (open_) {
              idle_->Start(IdleWake);
          }
      })),
      loss_(clock.MakeTimer([this] {
          if (open_ && hungUp_) {
              Close(true);
          }
      })),
      origin_(clock.Now()) {}

VirtualDevicePort::~VirtualDevicePort() = default;

double VirtualDevicePort::Seconds() const {
    return std::chrono::duration<double>(clock_.Now() - origin_).count();
}

void VirtualDevicePort::Note(const std::string& text) {
    journal_.push_back({Seconds(), '*', text});
}

void VirtualDevicePort::RequireOpen() const {
    if (!open_) {
        ErrorToException(ecCommNotOpen);
    }
}

// --- The device -------------------------------------------------------------------------------

void VirtualDevicePort::PlugIn(const DeviceConfig& config) {
    Unplug();
    config_ = config;
    device_ = std::make_unique<DeviceProtocol>(config_);
    received_ = 0;
    Note("device ready");
    ScheduleLine();
}

void VirtualDevicePort::Unplug() {
    if (!device_) {
        return;
    }
    Note("unplugged");
    device_.reset();
    answers_.clear();
    in_.busy = false;
    // What was on its way is lost with the line.
    driverHolds_.clear();
    out_.busy = false;
    if (open_) {
        hungUp_ = true;
        loss_->Start(milliseconds(1));
    }
    ScheduleLine();
}

void VirtualDevicePort::SetCts(bool high) {
    cts_ = high;
    out_.busy = out_.busy && !OutputHeld();
    ScheduleLine();
}

void VirtualDevicePort::ClearLoss() {
    if (!open_) {
        lost_ = false;
        hungUp_ = false;
    }
}

bool VirtualDevicePort::OutputHeld() const {
    if (driver_ == DriverKind::Uart) {
        return (flow_ & (hwfUseRTS | hwfRequireCTS)) != 0 && !cts_;
    }
    // A pseudo-terminal is emptied only by its reader.
    return !device_ ||
           (config_.stallAfter >= 0 && received_ >= static_cast<std::uint64_t>(config_.stallAfter));
}

void VirtualDevicePort::Collect() {
    const auto now = clock_.Now();
    for (DeviceProtocol::Chunk& chunk : device_->TakeOutput()) {
        if (config_.silent) {
            Note("silent: withheld " + std::to_string(chunk.bytes.size()) + " bytes");
            continue;
        }
        // Kept in order, each held back as the simulator holds it.
        auto due = chunk.answer ? now + milliseconds(config_.answerDelayMs) : now;
        if (!answers_.empty()) {
            due = std::max(due, answers_.back().due);
        }
        if (chunk.pauseMs > 0) {
            due = std::max(due, answers_.empty() ? now : answers_.back().due) +
                  milliseconds(chunk.pauseMs);
        }
        answers_.push_back({std::move(chunk.bytes), due});
    }
    for (const std::string& note : device_->TakeNotes()) {
        Note(note);
    }
}

// --- The line ---------------------------------------------------------------------------------

void VirtualDevicePort::LineStep() {
    const auto now = clock_.Now();
    const double rate = BytesPerSecond();
    if (!driverHolds_.empty() && !OutputHeld()) {
        out_.Begin(now);
        std::size_t n = std::min<std::size_t>(
            driverHolds_.size(),
            static_cast<std::size_t>(std::max<std::int64_t>(out_.Allowance(now, rate), 0)));
        std::size_t read = n;
        if (device_ && config_.stallAfter >= 0) {
            read =
                std::min<std::size_t>(n, static_cast<std::size_t>(config_.stallAfter) -
                                             std::min<std::size_t>(received_, config_.stallAfter));
            // A stalled reader empties no pseudo-terminal.
            if (driver_ == DriverKind::PseudoTerminal) {
                n = read;
            }
        }
        if (n > 0) {
            const std::string bytes = driverHolds_.substr(0, n);
            driverHolds_.erase(0, n);
            out_.moved += static_cast<std::int64_t>(n);
            lastMove_ = now;
            if (device_ && read > 0) {
                received_ += read;
                device_->Receive(std::string_view(bytes).substr(0, read), now);
                Collect();
                if (config_.hangupAfter >= 0 &&
                    received_ >= static_cast<std::uint64_t>(config_.hangupAfter)) {
                    Note("hanging up after " + std::to_string(received_) + " bytes");
                    Unplug();
                }
            }
        }
    }
    if (driverHolds_.empty() || OutputHeld()) {
        out_.busy = false;
    }
    if (device_) {
        device_->Tick(now);
        Collect();
    }
    std::string arrived;
    while (!answers_.empty() && answers_.front().due <= now) {
        Answer& answer = answers_.front();
        in_.Begin(answer.due);
        if (!answer.journaled) {
            journal_.push_back({Seconds(), '>', answer.bytes});
            answer.journaled = true;
        }
        const auto n = std::min<std::size_t>(
            answer.bytes.size(),
            static_cast<std::size_t>(std::max<std::int64_t>(in_.Allowance(now, rate), 0)));
        arrived += answer.bytes.substr(0, n);
        answer.bytes.erase(0, n);
        in_.moved += static_cast<std::int64_t>(n);
        if (!answer.bytes.empty()) {
            break;
        }
        answers_.pop_front();
    }
    if (answers_.empty() || answers_.front().due > now) {
        in_.busy = false;
    }
    // Room in the driver lets the ring move on.
    TakeIntoDriver();
    if (arrived.empty() || !open_) {
        return;
    }
    input_ += arrived;
    unscanned_ += arrived;
    StatusPass();
    ScanArrived();
    if (InputReader && open_ && !awaiting_ && !input_.empty()) {
        InputReader();
    }
}

void VirtualDevicePort::ScheduleLine() {
    const auto now = clock_.Now();
    std::optional<RunClock::TimePoint> next;
    const auto at = [&next](RunClock::TimePoint when) {
        next = next ? std::min(*next, when) : when;
    };
    if (!driverHolds_.empty() && !OutputHeld()) {
        at(now + LineStepLength);
    }
    if (!answers_.empty()) {
        at(answers_.front().due > now ? answers_.front().due : now + LineStepLength);
    }
    if (device_) {
        if (const auto deadline = device_->NextDeadline()) {
            at(std::max(*deadline, now));
        }
    }
    if (!next) {
        return;
    }
    if (lineDue_ && line_->Active() && *lineDue_ <= *next) {
        return;
    }
    lineDue_ = *next;
    line_->Start(Until(now, *next));
}

void VirtualDevicePort::TakeIntoDriver() {
    if (!open_ || ring_.empty()) {
        return;
    }
    const auto now = clock_.Now();
    if (hungUp_) {
        // Writes to a line that has gone fail: what is queued goes nowhere.
        ring_.clear();
    } else {
        const std::size_t holds = driver_ == DriverKind::Uart ? UartHolds : PseudoTerminalHolds;
        const std::size_t n = std::min(ring_.size(), holds - driverHolds_.size());
        if (n == 0) {
            return;
        }
        driverHolds_ += ring_.substr(0, n);
        ring_.erase(0, n);
        handed_ += n;
        lastMove_ = now;
        if (!OutputHeld()) {
            out_.Begin(now);
        }
        ScheduleLine();
    }
    // The dispatcher looks at its triggers whenever output has made progress.
    StatusPass();
}

void VirtualDevicePort::StatusPass() {
    if (!open_) {
        return;
    }
    triggers_.BeginStatusPass();
    while (open_) {
        StatusLevels levels;
        levels.outputUsed = static_cast<std::uint32_t>(ring_.size());
        levels.outputFree = outSize_ - std::min<std::uint32_t>(outSize_, levels.outputUsed);
        std::uint32_t extra = 0;
        const std::uint32_t handle = triggers_.TakeFiredStatus(
            levels, [] { return false; }, extra);
        if (handle == 0) {
            break;
        }
        if ((handle & 7) == skOutputFree && handlers_.OutbuffFree) {
            handlers_.OutbuffFree();
        } else if ((handle & 7) == skOutputUsed && handlers_.OutbuffUsed) {
            handlers_.OutbuffUsed();
        }
    }
    triggers_.ClearStatusHits();
}

void VirtualDevicePort::ScanArrived() {
    while (open_ && !awaiting_ && !unscanned_.empty()) {
        bool matched = false;
        std::uint32_t longest = 0;
        const std::uint32_t took =
            triggers_.Feed(reinterpret_cast<const std::uint8_t*>(unscanned_.data()),
                           static_cast<std::uint32_t>(unscanned_.size()), matched, longest);
        unscanned_.erase(0, took);
        if (!matched) {
            break;
        }
        // From the last trigger to the first, as the dispatcher delivers them.
        std::uint32_t handle = 0, length = 0;
        for (std::size_t idx = 0; open_ && triggers_.TakeMatchFromLast(idx, handle, length);
             ++idx) {
            if (handle != 0 && handlers_.TriggerData) {
                handlers_.TriggerData(static_cast<std::uint16_t>(handle));
            }
        }
    }
}

// --- The port ---------------------------------------------------------------------------------

void VirtualDevicePort::SetOpen(bool open) {
    if (open == open_) {
        return;
    }
    if (!open) {
        Close(false);
        return;
    }
    if (!device_) {
        ErrorToException(dr::DeviceNotFound);
    }
    open_ = true;
    hungUp_ = lost_ = awaiting_ = false;
    ClearLine();
    loss_->Stop();
    idle_->Start(IdleWake);
    if (OnOpenClose) {
        OnOpenClose(true);
    }
}

void VirtualDevicePort::ClearLine() {
    ring_.clear();
    driverHolds_.clear();
    input_.clear();
    unscanned_.clear();
    triggers_.Clear();
    out_.busy = false;
}

void VirtualDevicePort::Close(bool lost) {
    open_ = false;
    awaiting_ = false;
    lost_ = lost;
    hungUp_ = hungUp_ && lost;
    ClearLine();
    worker_->Stop();
    idle_->Stop();
    loss_->Stop();
    if (OnOpenClose) {
        OnOpenClose(false);
    }
    if (lost && OnLost) {
        OnLost();
    }
}

void VirtualDevicePort::SetHWFlowOptions(std::uint8_t options) {
    flow_ = options;
    out_.busy = out_.busy && !OutputHeld();
    ScheduleLine();
}

std::uint16_t VirtualDevicePort::OutputRoom() {
    return open_ ? static_cast<std::uint16_t>(outSize_ -
                                              std::min<std::size_t>(outSize_, ring_.size()))
                 : outSize_;
}

std::uint16_t VirtualDevicePort::OutputCount() {
    return open_ ? static_cast<std::uint16_t>(ring_.size()) : 0;
}

std::int32_t VirtualDevicePort::DriverOutputCount() {
    return open_ && driver_ == DriverKind::Uart ? static_cast<std::int32_t>(driverHolds_.size())
                                                : -1;
}

double VirtualDevicePort::BytesPerSecond() const {
    return LineByteRate(baud_, dataBits_, parity_ != 0, stopBits_);
}

void VirtualDevicePort::Queue(const char* bytes, std::size_t count) {
    RequireOpen();
    if (count > OutputRoom()) {
        ErrorToException(ecOutputBufferTooSmall);
    }
    if (count == 0) {
        return;
    }
    ring_.append(bytes, count);
    worker_->Start(microseconds(0));
}

std::uint16_t VirtualDevicePort::InputCount() {
    return open_ ? static_cast<std::uint16_t>(std::min<std::size_t>(input_.size(), 65535)) : 0;
}

void VirtualDevicePort::ReadBlock(void* buffer, std::uint16_t length) {
    RequireOpen();
    if (length > input_.size()) {
        ErrorToException(ecBufferIsEmpty);
    }
    std::copy_n(input_.begin(), length, static_cast<char*>(buffer));
    input_.erase(0, length);
}

char VirtualDevicePort::PeekInput(std::uint16_t index) {
    RequireOpen();
    if (index == 0 || index > input_.size()) {
        ErrorToException(ecBufferIsEmpty);
    }
    return input_[index - 1u];
}

void VirtualDevicePort::DiscardInput() {
    RequireOpen();
    input_.clear();
    triggers_.ResetDataMatches();
}

void VirtualDevicePort::DiscardOutput() {
    RequireOpen();
    // The driver's queue is purged with the ring.
    ring_.clear();
    driverHolds_.clear();
    out_.busy = false;
}

std::uint16_t VirtualDevicePort::NewTextTrigger(const std::string& text, bool ignoreCase) {
    RequireOpen();
    const std::string s = text.substr(0, 255);
    return static_cast<std::uint16_t>(ErrorToException(
        triggers_.AddData(s.data(), static_cast<std::uint32_t>(s.size()), ignoreCase)));
}

std::uint16_t VirtualDevicePort::NewStatusTrigger(std::uint16_t kind) {
    RequireOpen();
    return static_cast<std::uint16_t>(ErrorToException(triggers_.AddStatus(kind)));
}

void VirtualDevicePort::DropTrigger(std::uint16_t handle) {
    if (open_) {
        ErrorToException(triggers_.Drop(handle));
    }
}

void VirtualDevicePort::ArmStatusTrigger(std::uint16_t handle, std::uint16_t value, bool activate) {
    RequireOpen();
    ErrorToException(triggers_.ArmStatus(handle, value, activate, 0));
}

void VirtualDevicePort::BeginInputWait() {
    RequireOpen();
    awaiting_ = true;
}

InputLook VirtualDevicePort::TakeWaitingInput(const std::function<bool(char)>& done) {
    if (!awaiting_ || !open_) {
        return InputLook::Gone;
    }
    while (!input_.empty()) {
        const char c = input_.front();
        input_.erase(0, 1);
        if (handlers_.WaitChar) {
            handlers_.WaitChar(c);
        }
        if (done(c)) {
            return InputLook::Done;
        }
    }
    // A device that has hung up will not answer: the wait ends once its last bytes are taken.
    return hungUp_ ? InputLook::Gone : InputLook::Waiting;
}

} // namespace pellwick::test
