// The time a run goes by, and the timers it sets. The programs run on the steady clock and the
// event loop's timers (upload/run/QtRunClock); tests and soaks on a virtual clock that jumps from
// one timer to the next, so that a script's minutes pass in milliseconds.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace pellwick {

class RunTimer {
public:
    virtual ~RunTimer() = default;
    // Fires once, `delay` from now (0: as soon as the thread is free); a start replaces the
    // one before.
    virtual void Start(std::chrono::microseconds delay) = 0;
    virtual void Stop() = 0;
    virtual bool Active() const = 0;
};

class RunClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~RunClock() = default;
    virtual TimePoint Now() const = 0;
    // A timer that calls `fired` on the clock's thread; it must not outlive the clock.
    virtual std::unique_ptr<RunTimer> MakeTimer(std::function<void()> fired) = 0;
};

// The first moment at which a wait of `ticks` serial ticks (55 ms of the millisecond clock)
// begun at `start` has run out: the tick count has passed the start's by more than `ticks`, so
// the wait lasts between `ticks` and `ticks` + 1 ticks.
RunClock::TimePoint TickDeadline(RunClock::TimePoint start, std::int32_t ticks);

} // namespace pellwick
