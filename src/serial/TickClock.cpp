#include "serial/TickClock.h"

#include <algorithm>
#include <chrono>

namespace pellwick {

std::uint32_t MillisecondClock() {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now().time_since_epoch())
                  .count();
    return static_cast<std::uint32_t>(ms);
}

std::int32_t TickNow() {
    return static_cast<std::int32_t>(MillisecondClock() / TickLength);
}

void TickTimer::Start(std::int32_t ticks) {
    start = TickNow();
    expiry = start + std::min(ticks, MaxTicks);
}

bool TickTimer::Expired() const {
    std::int32_t now = TickNow();
    if (now > expiry) {
        return true;
    }
    // After the tick clock wrapped, the time since the start is counted across the wrap.
    return now < start && now + MaxTicks > expiry;
}

} // namespace pellwick
