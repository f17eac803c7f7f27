// The serial engine's time unit: a tick is 55 ms of the millisecond clock.
#pragma once

#include <cstdint>

namespace pellwick {

constexpr std::uint32_t TickLength = 55;
// Half the range of the tick clock: the longest span a timer can be armed for.
constexpr std::int32_t MaxTicks = 39045157;

// Milliseconds of a monotonic clock, wrapping at 2^32 like the platform's tick count.
std::uint32_t MillisecondClock();
// The tick clock: the millisecond clock divided (unsigned) by TickLength.
std::int32_t TickNow();

struct TickTimer {
    std::int32_t start = 0;
    std::int32_t expiry = 0;

    void Start(std::int32_t ticks);
    bool Expired() const;
};

} // namespace pellwick
