// The run's clock in the programs: the steady clock, and timers of the thread's event loop.
#pragma once

#include "upload/RunClock.h"

namespace pellwick {

class QtRunClock : public RunClock {
public:
    TimePoint Now() const override { return std::chrono::steady_clock::now(); }
    std::unique_ptr<RunTimer> MakeTimer(std::function<void()> fired) override;
};

} // namespace pellwick
