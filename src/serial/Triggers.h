// Trigger records and the data-trigger match algorithm. The dispatcher's trigger table keeps
// them in three lists (timer, data, status).
#pragma once

#include "serial/DispatcherTypes.h"
#include "serial/TickClock.h"

#include <array>
#include <cstdint>
#include <vector>

namespace pellwick {

struct TimerTrigger {
    std::uint32_t handle = 0;
    TickTimer timer;
    std::int32_t tickCount = 0; // last requested duration in ticks
    bool active = false;
};

struct DataTrigger {
    std::uint32_t handle = 0;
    std::uint32_t length = 0;
    // Partial-match positions: each live slot is one candidate alignment of the pattern.
    std::array<std::int32_t, MaxMatchLength + 1> matchSlots{};
    bool matched = false;
    bool ignoreCase = false;
    std::array<std::uint8_t, MaxMatchLength> pattern{};

    // Feeds one input byte; sets `matched` when the pattern completes (matches may overlap).
    void Feed(std::uint8_t c);
    void ResetMatch();
};

struct StatusTrigger {
    std::uint32_t handle = 0;
    std::uint32_t kind = skNone;
    std::uint16_t value = 0;
    bool active = false;
    bool hit = false;
};

// The contents of the trigger table; a copy of them keeps the triggers across a close and
// reopen of the port.
struct TriggerSaveRecord {
    std::uint32_t availThreshold = 0;
    std::vector<TimerTrigger> timers;
    std::vector<DataTrigger> data;
    std::vector<StatusTrigger> status;
};

// Single-byte upper-casing used for ignore-case patterns (ASCII letters only).
inline std::uint8_t UpperByte(std::uint8_t c) {
    return (c >= 'a' && c <= 'z') ? static_cast<std::uint8_t>(c - 32) : c;
}

} // namespace pellwick
