#include "terminal/TerminalFeed.h"

#include "serial/DispatcherRegistry.h"
#include "serial/DispatcherTypes.h"
#include "serial/NotificationEvent.h"
#include "serial/TVaxoBaseDispatcher.h"
#include "terminal/TBuffer.h"

#include <QCoreApplication>
#include <algorithm>
#include <mutex>

namespace pellwick {

TerminalFeed::TerminalFeed(TBuffer& buffer, QObject* parent) : QObject(parent), buffer_(buffer) {}

TerminalFeed::~TerminalFeed() {
    Detach();
}

void TerminalFeed::TakeDispatcher(int portHandle) {
    std::lock_guard lock(DispatcherRegistryLock());
    dispatcher_ = FindDispatcher(portHandle);
}

bool TerminalFeed::Attach() {
    if (!dispatcher_) {
        return false;
    }
    if (!attached_) {
        dispatcher_->AttachWindowHandler(this, true);
        dispatcher_->SetAvailThreshold(1);
        attached_ = true;
    }
    return true;
}

void TerminalFeed::Detach() {
    if (attached_ && dispatcher_) {
        dispatcher_->DetachWindowHandler(this);
    }
    attached_ = false;
}

void TerminalFeed::ForgetDispatcher() {
    Detach();
    dispatcher_ = nullptr;
}

void TerminalFeed::PostNotification(std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam,
                                    std::shared_ptr<DeliveryToken> token) {
    QCoreApplication::postEvent(this, new NotificationEvent(msg, wParam, lParam, std::move(token)));
}

bool TerminalFeed::event(QEvent* e) {
    if (e->type() == NotificationEvent::EventType()) {
        auto* n = static_cast<NotificationEvent*>(e);
        n->Handle([&] {
            if (n->msg == MsgTriggerAvail) {
                HandleAvail(static_cast<int>(n->wParam));
            }
        });
        return true;
    }
    return QObject::event(e);
}

void TerminalFeed::SetHeld(bool on) {
    held_ = on;
    if (!on) {
        const std::vector<std::string> notes = std::move(heldNotes_);
        heldNotes_.clear();
        for (const std::string& note : notes) {
            ShowNote(note);
        }
    }
    if (!on && inputPending_) {
        inputPending_ = false;
        QCoreApplication::postEvent(
            this, new NotificationEvent(MsgTriggerAvail, CatchUpCount, 0, nullptr));
    }
}

void TerminalFeed::HandleAvail(int count) {
    if (held_) {
        // The bytes stay in the dispatcher's input ring until the feed is released.
        inputPending_ = true;
        return;
    }
    if (!dispatcher_) {
        return;
    }
    // Taking the waiting bytes a block at a time is the same as taking them one by one while
    // input remains, at one lock per block instead of two per byte.
    std::uint8_t chunk[CatchUpCount];
    int remaining = count;
    while (remaining > 0) {
        const int take = std::min({remaining, static_cast<int>(dispatcher_->InputUsed()),
                                   static_cast<int>(sizeof chunk)});
        if (take <= 0 || dispatcher_->TakeBlock(chunk, static_cast<std::uint32_t>(take)) < 0) {
            break;
        }
        const std::span<const std::uint8_t> bytes(chunk, static_cast<std::size_t>(take));
        if (onReceive_) {
            onReceive_(bytes);
        }
        Show(bytes);
        remaining -= take;
    }
    buffer_.Refresh();
}

void TerminalFeed::Show(std::span<const std::uint8_t> bytes) {
    if (hexView_) {
        shown_ = hex_.Feed(bytes);
    } else if (lineEnds_.WidensReceived()) {
        shown_.clear();
        MapReceived(lineEnds_, bytes, shown_);
    } else {
        buffer_.ProcessBytes(bytes);
        return;
    }
    buffer_.ProcessBytes({reinterpret_cast<const std::uint8_t*>(shown_.data()), shown_.size()});
}

void TerminalFeed::SetHexView(bool on) {
    if (on == hexView_) {
        return;
    }
    // Each view starts on a line of its own.
    if (buffer_.CursorColumn() > 0) {
        static const std::uint8_t newLine[] = {'\r', '\n'};
        buffer_.ProcessBytes(newLine);
        buffer_.Refresh();
    }
    hex_.Reset();
    hexView_ = on;
}

bool TerminalFeed::SendBytes(std::span<const std::uint8_t> bytes) {
    if (!dispatcher_ || bytes.empty()) {
        return false;
    }
    if (dispatcher_->QueueBlock(bytes.data(), static_cast<std::uint32_t>(bytes.size())) < 0) {
        return false;
    }
    if (onSend_) {
        onSend_(bytes);
    }
    if (halfDuplex_) {
        Echo(bytes);
        buffer_.Refresh();
    }
    return true;
}

void TerminalFeed::Echo(std::span<const std::uint8_t> bytes) {
    if (hexView_) {
        Show(bytes);
        return;
    }
    shown_.clear();
    for (const std::uint8_t b : bytes) {
        if (b == '\r') {
            shown_ += "\r\n";
        } else if (b != '\n') {
            shown_ += static_cast<char>(b);
        } else if (!echoAfterCr_) {
            shown_ += "\r\n";
        }
        echoAfterCr_ = b == '\r';
    }
    buffer_.ProcessBytes({reinterpret_cast<const std::uint8_t*>(shown_.data()), shown_.size()});
}

void TerminalFeed::ShowNote(std::string_view text) {
    if (held_) {
        // Scrollback keeps the cursor aside: the note waits with the received bytes.
        heldNotes_.emplace_back(text);
        return;
    }
    std::string line;
    if (buffer_.CursorColumn() > 0) {
        line += "\r\n";
    }
    line.append(text);
    line += "\r\n";
    buffer_.ProcessBytes({reinterpret_cast<const std::uint8_t*>(line.data()), line.size()});
    buffer_.Refresh();
    // A hex line in progress goes on below the note.
    hex_.Reset();
}

} // namespace pellwick
