#include "upload/RunClock.h"

#include "serial/TickClock.h"

#include <algorithm>

namespace pellwick {

RunClock::TimePoint TickDeadline(RunClock::TimePoint start, std::int32_t ticks) {
    using std::chrono::milliseconds;
    const auto ms = std::chrono::duration_cast<milliseconds>(start.time_since_epoch()).count();
    const auto tick = ms / static_cast<std::int64_t>(TickLength);
    const std::int64_t expiry = tick + std::min<std::int64_t>(ticks, MaxTicks);
    return RunClock::TimePoint(milliseconds((expiry + 1) * TickLength));
}

} // namespace pellwick
