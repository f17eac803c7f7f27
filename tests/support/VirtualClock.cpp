#include "support/VirtualClock.h"

#include <algorithm>

namespace pellwick::test {

class VirtualClock::Timer final : public RunTimer {
public:
    Timer(VirtualClock& clock, std::function<void()> fired)
        : clock_(clock), fired_(std::move(fired)) {
        clock_.timers_.push_back(this);
    }
    ~Timer() override {
        auto& timers = clock_.timers_;
        timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
    }
    void Start(std::chrono::microseconds delay) override {
        due_ = clock_.now_ + std::max(delay, std::chrono::microseconds(0));
        order_ = clock_.nextOrder_++;
        active_ = true;
    }
    void Stop() override { active_ = false; }
    bool Active() const override { return active_; }

    VirtualClock& clock_;
    std::function<void()> fired_;
    TimePoint due_{};
    std::uint64_t order_ = 0;
    bool active_ = false;
};

// The clock begins far from its epoch, as a steady clock does, so that tick arithmetic sees an
// ordinary moment.
VirtualClock::VirtualClock() : now_(TimePoint(std::chrono::hours(1000))) {}

VirtualClock::~VirtualClock() = default;

std::unique_ptr<RunTimer> VirtualClock::MakeTimer(std::function<void()> fired) {
    return std::make_unique<Timer>(*this, std::move(fired));
}

std::optional<RunClock::TimePoint> VirtualClock::NextDue() const {
    std::optional<TimePoint> due;
    for (const Timer* timer : timers_) {
        if (timer->active_ && (!due || timer->due_ < *due)) {
            due = timer->due_;
        }
    }
    return due;
}

bool VirtualClock::FireNext(TimePoint limit) {
    Timer* next = nullptr;
    for (Timer* timer : timers_) {
        if (timer->active_ && timer->due_ <= limit &&
            (next == nullptr || timer->due_ < next->due_ ||
             (timer->due_ == next->due_ && timer->order_ < next->order_))) {
            next = timer;
        }
    }
    if (next == nullptr) {
        return false;
    }
    now_ = std::max(now_, next->due_);
    next->active_ = false;
    // The callback may stop, start or destroy timers, this one too.
    const std::function<void()> fired = next->fired_;
    fired();
    return true;
}

void VirtualClock::Advance(std::chrono::microseconds span) {
    const TimePoint until = now_ + span;
    while (FireNext(until)) {
    }
    now_ = std::max(now_, until);
}

int VirtualClock::RunFor(std::chrono::microseconds span, int limit) {
    const TimePoint until = now_ + span;
    int fired = 0;
    while (fired < limit && FireNext(until)) {
        ++fired;
    }
    return fired;
}

} // namespace pellwick::test
