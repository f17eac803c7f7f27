#include "upload/run/QtRunClock.h"

#include <QTimer>

namespace pellwick {

namespace {

class QtRunTimer final : public RunTimer {
public:
    explicit QtRunTimer(std::function<void()> fired) {
        timer_.setSingleShot(true);
        // A wait's looks come a millisecond apart; a coarse timer would make them up to 5 %
        // late, and a pause's end with them.
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, std::move(fired));
    }
    void Start(std::chrono::microseconds delay) override {
        // Whole milliseconds, rounded up: a wait never ends before its time.
        timer_.start(static_cast<int>((std::max<std::int64_t>(delay.count(), 0) + 999) / 1000));
    }
    void Stop() override { timer_.stop(); }
    bool Active() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

} // namespace

std::unique_ptr<RunTimer> QtRunClock::MakeTimer(std::function<void()> fired) {
    return std::make_unique<QtRunTimer>(std::move(fired));
}

} // namespace pellwick
