#include "devsim/LinePacer.h"

#include <algorithm>
#include <limits>

namespace pellwick {

LinePacer::LinePacer(std::uint32_t baud, std::size_t burst, Clock::time_point now)
    : bytesPerSecond_(baud / 10.0), burst_(static_cast<double>(std::max<std::size_t>(burst, 1))),
      credit_(burst_), last_(now) {}

void LinePacer::Refill(Clock::time_point now, bool busy) {
    if (now <= last_) {
        return;
    }
    const double seconds = std::chrono::duration<double>(now - last_).count();
    const double cap = busy ? std::max(burst_, bytesPerSecond_ / 4) : burst_;
    credit_ = std::min(cap, credit_ + seconds * bytesPerSecond_);
    last_ = now;
}

std::size_t LinePacer::Allowance(Clock::time_point now, bool busy) {
    if (!Paced()) {
        return std::numeric_limits<std::size_t>::max();
    }
    Refill(now, busy);
    return static_cast<std::size_t>(credit_);
}

void LinePacer::Consume(std::size_t bytes) {
    if (Paced()) {
        credit_ -= static_cast<double>(bytes);
    }
}

LinePacer::Clock::time_point LinePacer::ReadyAt(std::size_t bytes) const {
    if (!Paced()) {
        return last_;
    }
    const double wanted = std::min(burst_, static_cast<double>(bytes));
    if (credit_ >= wanted) {
        return last_;
    }
    const double seconds = (wanted - credit_) / bytesPerSecond_;
    return last_ +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)) +
           std::chrono::microseconds(1);
}

} // namespace pellwick
