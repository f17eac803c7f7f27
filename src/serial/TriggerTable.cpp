#include "serial/TriggerTable.h"

#include <algorithm>

namespace pellwick {

namespace {

using Lock = std::lock_guard<std::mutex>;

// Handles count up to this many eights; past it, the lowest free one is looked for.
constexpr std::uint32_t kCountedHandles = 4096;
// A status trigger's handle keeps its kind in these bits.
constexpr std::uint32_t kKindBits = 7;

} // namespace

bool TriggerTable::HandleInUseLocked(std::uint32_t handle) const {
    auto same = [handle](const auto& t) { return (t.handle & ~kKindBits) == handle; };
    return std::any_of(lists_.timers.begin(), lists_.timers.end(), same) ||
           std::any_of(lists_.status.begin(), lists_.status.end(), same) ||
           std::any_of(lists_.data.begin(), lists_.data.end(), same);
}

std::uint32_t TriggerTable::NewHandleLocked() {
    if (nextHandle_ < kCountedHandles) {
        return 8 * nextHandle_++;
    }
    std::uint32_t handle = 8;
    while (HandleInUseLocked(handle)) {
        handle += 8;
    }
    return handle;
}

int TriggerTable::AddData(const void* bytes, std::uint32_t length, bool ignoreCase) {
    if (length > MaxMatchLength) {
        return ecTriggerTooLong;
    }
    Lock lock(lock_);
    DataTrigger t;
    t.handle = NewHandleLocked();
    t.length = length;
    t.ignoreCase = ignoreCase;
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    for (std::uint32_t i = 0; i < length; ++i) {
        t.pattern[i] = ignoreCase ? UpperByte(p[i]) : p[i];
    }
    lists_.data.push_back(t);
    return static_cast<int>(t.handle);
}

int TriggerTable::AddTimer() {
    Lock lock(lock_);
    TimerTrigger t;
    t.handle = NewHandleLocked();
    lists_.timers.push_back(t);
    return static_cast<int>(t.handle);
}

int TriggerTable::AddStatus(std::uint32_t kind) {
    if (kind > skOutputSent) {
        return ecBadArgument;
    }
    Lock lock(lock_);
    StatusTrigger t;
    t.handle = NewHandleLocked() | kind;
    t.kind = kind;
    lists_.status.push_back(t);
    return static_cast<int>(t.handle);
}

int TriggerTable::ArmTimer(std::uint32_t handle, std::int32_t ticks, bool activate) {
    Lock lock(lock_);
    for (auto& t : lists_.timers) {
        if (t.handle == handle && handle > AvailTriggerHandle) {
            if (activate) {
                if (ticks != 0) {
                    t.tickCount = ticks;
                }
                t.timer.Start(t.tickCount);
            }
            t.active = activate;
            return 0;
        }
    }
    return ecBadTriggerHandle;
}

int TriggerTable::ArmStatus(std::uint32_t handle, std::uint32_t value, bool activate,
                            std::uint32_t modemBits) {
    Lock lock(lock_);
    for (auto& t : lists_.status) {
        if (t.handle != handle || handle <= AvailTriggerHandle) {
            continue;
        }
        if (activate) {
            switch (t.kind) {
            case skModem: {
                // High byte: the lines watched; low byte: their state now.
                const std::uint32_t mask = value & 0xFF;
                t.value = static_cast<std::uint16_t>((mask << 8) | (modemBits & mask));
                break;
            }
            case skLineError:
                // Error classes 1 overrun, 2 parity, 4 framing, 8 break as error bits 2..16.
                t.value = static_cast<std::uint16_t>((value & 0x0F) << 1);
                break;
            default:
                t.value = static_cast<std::uint16_t>(value);
                break;
            }
        }
        t.active = activate;
        return 0;
    }
    return ecBadTriggerHandle;
}

int TriggerTable::Drop(std::uint32_t handle) {
    Lock lock(lock_);
    if (handle == AvailTriggerHandle) {
        lists_.availThreshold = 0;
        return 0;
    }
    if (handle == 0) {
        return ecBadTriggerHandle;
    }
    auto erase = [handle](auto& list) {
        auto it = std::find_if(list.begin(), list.end(),
                               [handle](const auto& t) { return t.handle == handle; });
        if (it == list.end()) {
            return false;
        }
        list.erase(it);
        return true;
    };
    if (erase(lists_.timers) || erase(lists_.status) || erase(lists_.data)) {
        return 0;
    }
    return ecBadTriggerHandle;
}

void TriggerTable::SetAvailThreshold(std::uint32_t count) {
    Lock lock(lock_);
    lists_.availThreshold = count;
}

std::uint32_t TriggerTable::AvailThreshold() {
    Lock lock(lock_);
    return lists_.availThreshold;
}

void TriggerTable::Clear() {
    Lock lock(lock_);
    lists_ = TriggerSaveRecord{};
    nextHandle_ = 1;
}

void TriggerTable::Snapshot(TriggerSaveRecord& save) {
    Lock lock(lock_);
    save = lists_;
}

void TriggerTable::Reinstate(const TriggerSaveRecord& save) {
    Lock lock(lock_);
    lists_ = save;
    // The bytes that made or began a match went with the input of the port's last opening:
    // kept, a match nobody was told of would fire on the first byte read after the reopening.
    for (auto& t : lists_.data) {
        t.ResetMatch();
    }
    // Two triggers under one handle would make Drop and the handlers act on the wrong one.
    std::uint32_t highest = 0;
    for (const auto& t : lists_.timers) {
        highest = std::max(highest, t.handle);
    }
    for (const auto& t : lists_.status) {
        highest = std::max(highest, t.handle & ~kKindBits);
    }
    for (const auto& t : lists_.data) {
        highest = std::max(highest, t.handle);
    }
    nextHandle_ = std::max(nextHandle_, std::min<std::uint32_t>(highest / 8 + 1, kCountedHandles));
}

std::uint32_t TriggerTable::Feed(const std::uint8_t* bytes, std::uint32_t n, bool& matched,
                                 std::uint32_t& longest) {
    Lock lock(lock_);
    if (lists_.data.empty()) {
        return n;
    }
    for (std::uint32_t i = 0; i < n; ++i) {
        for (auto& t : lists_.data) {
            t.Feed(bytes[i]);
            if (t.matched) {
                matched = true;
                longest = std::max(longest, t.length);
            }
        }
        if (matched) {
            return i + 1;
        }
    }
    return n;
}

bool TriggerTable::TakeMatchFromLast(std::size_t idx, std::uint32_t& handle,
                                     std::uint32_t& length) {
    Lock lock(lock_);
    handle = 0;
    if (idx >= lists_.data.size()) {
        return false;
    }
    auto& t = lists_.data[lists_.data.size() - 1 - idx];
    if (t.matched) {
        t.matched = false;
        handle = t.handle;
        length = t.length;
    }
    return true;
}

void TriggerTable::ResetDataMatches() {
    Lock lock(lock_);
    for (auto& t : lists_.data) {
        t.ResetMatch();
    }
}

std::uint32_t TriggerTable::TakeExpiredTimer() {
    Lock lock(lock_);
    for (auto& t : lists_.timers) {
        if (t.active && t.timer.Expired()) {
            t.active = false;
            return t.handle;
        }
    }
    return 0;
}

std::uint32_t TriggerTable::TakeFiredStatus(const StatusLevels& levels,
                                            const std::function<bool()>& takeOutputSent,
                                            std::uint32_t& extra) {
    Lock lock(lock_);
    for (auto& t : lists_.status) {
        if (!t.active || t.hit) {
            continue;
        }
        bool fires = false;
        extra = 0;
        switch (t.kind) {
        case skModem:
            fires = (((t.value & 0xFF) ^ levels.modemBits) & (t.value >> 8)) != 0;
            break;
        case skLineError:
            fires = (levels.errorBits & t.value) != 0;
            break;
        case skOutputFree:
            fires = levels.outputFree >= t.value;
            extra = levels.outputFree;
            break;
        case skOutputUsed:
            fires = levels.outputUsed <= t.value;
            extra = levels.outputUsed;
            break;
        case skOutputSent:
            fires = takeOutputSent();
            break;
        default:
            break;
        }
        if (fires) {
            t.active = false;
            t.hit = true;
            statusHit_ = true;
            return t.handle;
        }
    }
    return 0;
}

void TriggerTable::BeginStatusPass() {
    Lock lock(lock_);
    statusHit_ = false;
}

bool TriggerTable::AnyStatusHit() {
    Lock lock(lock_);
    return statusHit_;
}

void TriggerTable::ClearStatusHits() {
    Lock lock(lock_);
    for (auto& t : lists_.status) {
        t.hit = false;
    }
    statusHit_ = false;
}

} // namespace pellwick
