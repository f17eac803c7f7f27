// The port component's operations on an open port: the signals and counts, sending and
// receiving, triggers, and the wait for a text in the input.
#include "serial/TVaxoCustomComPort.h"

#include "serial/TVaxoWin32Dispatcher.h"
#include "serial/TextMatcher.h"
#include "serial/TickClock.h"
#include "serial/errors/ErrorNumbers.h"
#include "serial/errors/ErrorToException.h"

#include <QCoreApplication>
#include <chrono>
#include <thread>

namespace pellwick {

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

bool TVaxoCustomComPort::AwaitText(const std::string& text, std::int32_t ticks, bool yield,
                                   bool ignoreCase) {
    if (text.empty() || portState_ == State::Closing) {
        return true;
    }
    TickTimer timer;
    timer.Start(ticks);
    TextMatcher matcher(text, ignoreCase);
    const WaitEnd end = WaitForInput([&](char c) { return matcher.Take(c); },
                                     [&] { return timer.Expired(); }, yield);
    return end != WaitEnd::Lost && (end == WaitEnd::Terminating || !timer.Expired());
}

std::size_t TVaxoCustomComPort::AwaitQuiet(std::chrono::milliseconds quiet,
                                           std::chrono::milliseconds limit) {
    if (portState_ == State::Closing) {
        return 0;
    }
    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    auto lastByte = begin;
    std::size_t taken = 0;
    const auto take = [&](char) {
        ++taken;
        lastByte = Clock::now();
        return false;
    };
    const auto over = [&] {
        const auto now = Clock::now();
        return now - lastByte >= quiet || now - begin >= limit;
    };
    WaitForInput(take, over, false);
    return taken;
}

TVaxoCustomComPort::WaitEnd TVaxoCustomComPort::WaitForInput(const std::function<bool(char)>& done,
                                                             const std::function<bool()>& expired,
                                                             bool yield) {
    BeginInputWait();
    WaitEnd end = WaitEnd::Expired;
    try {
        for (;;) {
            const InputWaitState state = TakeWaitingInput(done);
            if (state == InputWaitState::Found) {
                end = WaitEnd::Found;
                break;
            }
            if (expired() || portState_ != State::Open) {
                break;
            }
            if (state == InputWaitState::Lost) {
                end = WaitEnd::Lost;
                break;
            }
            if (QCoreApplication::closingDown()) {
                end = WaitEnd::Terminating;
                break;
            }
            if (yield) {
                QCoreApplication::processEvents();
            } else {
                // Nothing waits: sleep a little instead of spinning the thread.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    } catch (...) {
        EndInputWait();
        throw;
    }
    EndInputWait();
    return end;
}

void TVaxoCustomComPort::BeginInputWait() {
    TVaxoWin32Dispatcher* d = RequireDispatcher();
    if (awaiting_) {
        return;
    }
    // While the flag is set the dispatcher neither tests nor delivers triggers: no event
    // handler runs on the bytes the wait takes, and they are scanned afterwards.
    waitWasDelivering_ = d->SetWaitingForText(true);
    awaiting_ = true;
}

TVaxoCustomComPort::InputWaitState
TVaxoCustomComPort::TakeWaitingInput(const std::function<bool(char)>& done) {
    if (!awaiting_ || portState_ != State::Open) {
        return InputWaitState::Lost;
    }
    TVaxoWin32Dispatcher* d = dispatcher_.get();
    while (portState_ == State::Open && d->HasInput()) {
        std::uint8_t b = 0;
        if (d->TakeByte(b) < 0) {
            break;
        }
        const char c = static_cast<char>(b);
        FireWaitChar(c);
        if (done(c)) {
            return InputWaitState::Found;
        }
    }
    if (portState_ != State::Open) {
        return InputWaitState::Lost;
    }
    // A device that has hung up will not answer: the wait ends once its last bytes are taken.
    if (d->DeviceHungUp() && !d->HasInput()) {
        return InputWaitState::Lost;
    }
    return InputWaitState::Open;
}

void TVaxoCustomComPort::EndInputWait() {
    if (!awaiting_) {
        return;
    }
    awaiting_ = false;
    if (!waitWasDelivering_ && dispatcher_) {
        dispatcher_->SetWaitingForText(false);
    }
}

} // namespace pellwick
