// A run's clock for tests and soaks: time stands still until the test moves it, and moving it
// fires the timers that fall due on the way, earliest first (those due at the same moment in the
// order they were started). A script's minutes of waits pass in microseconds.
#pragma once

#include "upload/RunClock.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace pellwick::test {

class VirtualClock : public RunClock {
public:
    VirtualClock();
    ~VirtualClock() override;

    TimePoint Now() const override { return now_; }
    std::unique_ptr<RunTimer> MakeTimer(std::function<void()> fired) override;

    // When the earliest started timer falls due; none when no timer runs.
    std::optional<TimePoint> NextDue() const;
    // Moves the clock to the earliest timer due by `limit` and fires it: false when none is.
    bool FireNext(TimePoint limit = TimePoint::max());
    // Moves the clock on by `span`, firing every timer that falls due meanwhile.
    void Advance(std::chrono::microseconds span);
    // Fires timers until none is due within `span` of now or `limit` have fired; how many fired.
    int RunFor(std::chrono::microseconds span, int limit = 1000000);

private:
    class Timer;
    friend class Timer;

    TimePoint now_;
    std::uint64_t nextOrder_ = 0;
    std::vector<Timer*> timers_;
};

} // namespace pellwick::test
