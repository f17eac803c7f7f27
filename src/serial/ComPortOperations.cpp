// The port component's operations on an open port: the signals and counts, sending and
// receiving, triggers, and the wait for a text in the input.
#include "serial/TVaxoCustomComPort.h"

#include "serial/TVaxoWin32Dispatcher.h"
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
    auto upper = [ignoreCase](char c) {
        return ignoreCase && c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    };
    const char first = upper(text[0]);
    std::uint8_t position = 0; // byte-wide: texts longer than 255 characters never match
    const auto matched = [&](char c) {
        ++position;
        if (position <= text.size() && upper(c) == upper(text[position - 1])) {
            return position == text.size();
        }
        position = upper(c) == first ? 1 : 0;
        return false;
    };
    const WaitEnd end = TakeInputUntil(
        matched, [&] { return timer.Expired(); }, yield);
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
    TakeInputUntil(take, over, false);
    return taken;
}

TVaxoCustomComPort::WaitEnd
TVaxoCustomComPort::TakeInputUntil(const std::function<bool(char)>& done,
                                   const std::function<bool()>& expired, bool yield) {
    TVaxoWin32Dispatcher* d = RequireDispatcher();
    // While the flag is set the dispatcher neither tests nor delivers triggers: no event
    // handler runs during the wait, and the bytes taken here are scanned afterwards.
    const bool wasDelivering = d->SetWaitingForText(true);
    awaiting_ = true;
    WaitEnd end = WaitEnd::Expired;
    try {
        for (;;) {
            bool found = false;
            while (portState_ == State::Open && d->HasInput()) {
                std::uint8_t b = 0;
                if (d->TakeByte(b) < 0) {
                    break;
                }
                const char c = static_cast<char>(b);
                FireWaitChar(c);
                if (done(c)) {
                    found = true;
                    break;
                }
            }
            if (found) {
                end = WaitEnd::Found;
                break;
            }
            // A device that has hung up will not answer: the wait ends once its last bytes
            // have been taken instead of running out the time.
            if (expired() || portState_ != State::Open) {
                break;
            }
            if (d->DeviceHungUp() && !d->HasInput()) {
                end = WaitEnd::Lost;
                break;
            }
            if (QCoreApplication::closingDown()) {
                end = WaitEnd::Terminating;
                break;
            }
            if (yield) {
                QCoreApplication::processEvents();
            } else if (awaitPause_) {
                awaitPause_();
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
    return end;
}

} // namespace pellwick
