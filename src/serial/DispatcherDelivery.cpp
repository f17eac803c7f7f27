// The dispatcher's handler list, the delivery of its notifications and the trigger passes the
// dispatch worker runs: the part of the engine where the workers and the GUI thread meet. The
// rules are those of TVaxoBaseDispatcher.h ("Threads and locks"): the handler list is read and
// changed under StatusLock, and no dispatcher lock is held while a notification is delivered,
// since its handlers run on the GUI thread and may call any operation, closing the port too.
#include "serial/TVaxoBaseDispatcher.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace pellwick {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// A read of at least this much emptied (nearly) all of a terminal line discipline's 4 KiB
// buffer; the driver refills it from its own queue as soon as the read makes room.
constexpr std::uint32_t kFullDriverBuffer = 4000;

} // namespace

void TVaxoBaseDispatcher::AttachWindowHandler(INotificationWindow* window, bool takesInput) {
    Lock lock(statusLock_);
    windows_.push_back({window, false, takesInput, nullptr});
    deliveryNeeded_ = true;
}

void TVaxoBaseDispatcher::DetachWindowHandler(INotificationWindow* window) {
    {
        Lock lock(statusLock_);
        for (auto it = windows_.begin(); it != windows_.end();) {
            if (it->window == window) {
                if (delivering_) {
                    it->removed = true;
                    handlerRemovalPending_ = true;
                    ++it;
                } else {
                    it = windows_.erase(it);
                }
            } else {
                ++it;
            }
        }
    }
    RecountHandlers(0);
}

void TVaxoBaseDispatcher::RecountHandlers(int change) {
    Lock lock(statusLock_);
    std::size_t live = 0;
    for (const auto& w : windows_) {
        live += w.removed ? 0 : 1;
    }
    bool others = live > 1;
    switch (change) {
    case 1:
        portHandlerInstalled_ = true;
        deliveryNeeded_ = true;
        break;
    case 2:
        portHandlerInstalled_ = false;
        deliveryNeeded_ = others;
        break;
    default:
        deliveryNeeded_ = others || portHandlerInstalled_;
        break;
    }
}

bool TVaxoBaseDispatcher::AbandonCurrentDelivery() {
    return delivery_.AbandonCurrent();
}

bool TVaxoBaseDispatcher::SetWaitingForText(bool on) {
    bool was;
    {
        Lock lock(statusLock_);
        was = waitingForText_.exchange(on);
    }
    // The GUI thread now waits for text itself and cannot handle a notification posted to it:
    // left pending, that one would hold the dispatch worker (and the reading of the answer
    // being waited for) for the whole delivery limit. Given up, no handler of it runs, so the
    // wait's takes are no handler's reads: they remove the bytes at once, after what the
    // delivery's handlers have read. A wait inside a running handler reads as that handler.
    if (!on) {
        inRing_.SetDirectTakes(false);
    } else if (AbandonCurrentDelivery()) {
        inRing_.SetDirectTakes(true);
    }
    return was;
}

bool TVaxoBaseDispatcher::DeliverTriggerEvent(std::uint32_t msg, std::uint32_t param,
                                              std::uint32_t extra) {
    if (!deliveryNeeded_) {
        return true;
    }
    const bool readsInput = msg == MsgTriggerAvail || msg == MsgTriggerData;
    std::vector<INotificationWindow*> targets;
    // Windows told of new input without waiting, each with its notice's token.
    std::vector<std::pair<INotificationWindow*, std::shared_ptr<DeliveryToken>>> told;
    {
        Lock lock(statusLock_);
        delivering_ = true;
        std::size_t live = 0;
        bool inputTaken = false;
        for (const auto& w : windows_) {
            live += w.removed ? 0 : 1;
            inputTaken = inputTaken || (!w.removed && w.takesInput);
        }
        if (live > 1 || portHandlerInstalled_) {
            for (auto& w : windows_) {
                if (w.removed) {
                    continue;
                }
                if (msg == MsgTriggerAvail && inputTaken && !w.takesInput) {
                    if (!w.notice || w.notice->Settled()) {
                        w.notice = std::make_shared<DeliveryToken>();
                        told.emplace_back(w.window, w.notice);
                    }
                    continue;
                }
                targets.push_back(w.window);
            }
        }
    }
    inRing_.BeginDelivery(readsInput);
    const std::uint32_t lParam = (static_cast<std::uint32_t>(portHandle_) << 16) | (extra & 0xFFFF);
    for (auto& [window, token] : told) {
        if (!stopWorkers_ && !waitingForText_) {
            window->PostNotification(msg, param, lParam, std::move(token));
        } else {
            token->Abandon(); // not posted: the next notice may go
        }
    }
    // While the handler of an input notice runs the ring holds still: what the device sends
    // meanwhile is staged beside it instead of waiting in the driver.
    bool watchInput = true;
    const NotificationDelivery::WaitStep stageWhileHandled = [&](const TVaxoEvent& handled,
                                                                 int leftMs) {
        const int ready = DeviceAwaitInputOr(handled, watchInput, leftMs);
        if (ready < 0 || stopWorkers_) {
            return false;
        }
        if (ready & kDeviceInputReady) {
            // Not watched again in this delivery once the staging buffer is full, or when the
            // device reports input but gives none (hung up): it would wake this wait for ever.
            watchInput = inRing_.Stage([this](std::uint8_t* buffer, std::uint32_t count) {
                return DeviceRead(buffer, count);
            });
        }
        return true;
    };
    bool result = true;
    for (INotificationWindow* window : targets) {
        {
            Lock lock(statusLock_);
            auto it = std::find_if(windows_.begin(), windows_.end(),
                                   [window](const WindowHandler& w) { return w.window == window; });
            if (it == windows_.end() || it->removed) {
                continue; // detached by an earlier handler of this delivery
            }
        }
        inRing_.BeginHandler();
        // During a wait-for-text the GUI thread handles nothing: a notification posted now
        // would only time out.
        if (!stopWorkers_ && !waitingForText_) {
            delivery_.Deliver(*window, msg, param, lParam, readsInput ? stageWhileHandled : nullptr,
                              &waitingForText_);
        }
        inRing_.EndHandler();
        if (closePending_ || stopWorkers_) {
            result = false;
            break;
        }
    }
    // An availability notice whose handlers did not take just what it announced ends the
    // caller's round of scanning.
    if (inRing_.EndDelivery() != param && msg == MsgTriggerAvail) {
        result = false;
    }
    bool recount = false;
    {
        Lock lock(statusLock_);
        delivering_ = false;
        if (handlerRemovalPending_) {
            windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                          [](const WindowHandler& w) { return w.removed; }),
                           windows_.end());
            handlerRemovalPending_ = false;
            recount = true;
        }
    }
    if (recount) {
        RecountHandlers(0);
    }
    return result;
}

bool TVaxoBaseDispatcher::ScanNewInput() {
    const std::uint32_t threshold = triggers_.AvailThreshold();
    std::uint32_t longest = 0;
    // The trigger table's lock is taken once per run of bytes up to the next match, inside the
    // ring's lock (the permitted order): taken per byte, it made scanning cost more than
    // reading.
    auto feed = [&](const std::uint8_t* run, std::uint32_t n, bool& matched) {
        return triggers_.Feed(run, n, matched, longest);
    };
    bool any = false;
    std::uint32_t scanned = 0;
    const std::uint32_t p = inRing_.Scan(feed, any, scanned);
    if (any) {
        if (threshold > 0 && p != lastNotify_) {
            // Bytes from the tail through p; none when p has already been taken out.
            const std::uint32_t n = inRing_.CountThrough(p);
            if (n >= longest + threshold) {
                lastNotify_ = p;
                DeliverTriggerEvent(MsgTriggerAvail, n - longest, 0);
            }
        }
        bool result = true;
        // From the last trigger to the first; a handler may add or drop triggers meanwhile.
        std::uint32_t handle = 0;
        std::uint32_t length = 0;
        for (std::size_t idx = 0;
             !closePending_ && triggers_.TakeMatchFromLast(idx, handle, length); ++idx) {
            if (handle != 0) {
                result = DeliverTriggerEvent(MsgTriggerData, handle, length);
            }
        }
        return result;
    }
    const std::uint32_t used = inRing_.Used();
    // New bytes count even when the head has come right round to the last notice's position
    // (a read that filled the ring): otherwise a full ring would never be announced, and with
    // no room for more input nothing would ever announce it.
    if (threshold > 0 && (p != lastNotify_ || scanned > 0) && used >= threshold) {
        lastNotify_ = p;
        return DeliverTriggerEvent(MsgTriggerAvail, used, 0);
    }
    return false;
}

bool TVaxoBaseDispatcher::TestStatusTriggers() {
    StatusLevels levels;
    std::uint32_t size = 0;
    outRing_.Levels(levels.outputUsed, size);
    levels.outputFree = size - std::min(size, levels.outputUsed);
    {
        Lock lock(statusLock_);
        levels.modemBits = modemBits_;
        levels.errorBits = errorBits_;
    }
    std::uint32_t extra = 0;
    const std::uint32_t handle = triggers_.TakeFiredStatus(
        levels, [this] { return outputSent_.exchange(false); }, extra);
    if (handle == 0) {
        return false;
    }
    return DeliverTriggerEvent(MsgTriggerStatus, handle, extra);
}

bool TVaxoBaseDispatcher::TestTimerTriggers() {
    const std::uint32_t handle = triggers_.TakeExpiredTimer();
    if (handle == 0) {
        return false;
    }
    return DeliverTriggerEvent(MsgTriggerTimer, handle, 0);
}

bool TVaxoBaseDispatcher::StatusPass() {
    triggers_.BeginStatusPass();
    while (!closePending_ && !stopWorkers_ && TestStatusTriggers()) {
    }
    return triggers_.AnyStatusHit();
}

void TVaxoBaseDispatcher::ServiceIdleTriggers() {
    if (closePending_ || Delivering()) {
        return;
    }
    triggers_.BeginStatusPass();
    while (!closePending_ && !stopWorkers_ && (TestStatusTriggers() || TestTimerTriggers())) {
    }
    if (triggers_.AnyStatusHit()) {
        triggers_.ClearStatusHits();
    }
}

void TVaxoBaseDispatcher::ServiceDeviceEvents(std::uint32_t mask) {
    if (mask & evModemMask) {
        RecordModemChange();
        if (!Delivering() && StatusPass()) {
            triggers_.ClearStatusHits();
        }
    }
    if (mask & (evBreak | evErr)) {
        RefreshDeviceStatus();
        if (!Delivering() && StatusPass()) {
            triggers_.ClearStatusHits();
        }
    }
    if (mask & evRxChar) {
        // While input keeps coming, read the next piece right after the last one was handled
        // instead of going back to the event worker for each piece (a few rounds at most, so
        // that line and modem events are not held up).
        for (int round = 0; round < 16; ++round) {
            // A read that emptied a full driver buffer lets the driver refill it: what it has
            // refilled by now goes into the same notification. It is not waited for; the bytes
            // that come while the notification is handled are staged and carried by the next.
            while (PullDeviceInput() >= kFullDriverBuffer && !InputRingFull()) {
            }
            if (Delivering()) {
                break;
            }
            bool hit = StatusPass();
            // A wait-for-text that begins meanwhile takes the rest; it is scanned afterwards.
            while (!closePending_ && !stopWorkers_ && !waitingForText_ && ScanNewInput()) {
            }
            if (hit) {
                triggers_.ClearStatusHits();
            }
            if (closePending_ || stopWorkers_ || !DeviceInputWaiting()) {
                break;
            }
        }
    }
}

bool TVaxoBaseDispatcher::DeviceInputWaiting() {
    // Only the dispatch worker fills the ring: it cannot become full meanwhile.
    if (!inRing_.Allocated() || inRing_.Full()) {
        return false;
    }
    return inRing_.HasStagedInput() || RefreshDeviceStatus() > 0;
}

} // namespace pellwick
