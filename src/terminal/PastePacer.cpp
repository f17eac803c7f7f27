#include "terminal/PastePacer.h"

#include <algorithm>

namespace pellwick {

PastePacer::PastePacer(std::string bytes, Clock::time_point start)
    : bytes_(std::move(bytes)), last_(start) {}

std::size_t PastePacer::BurstFor(std::int32_t baud, int ms) {
    const double perSecond = std::max<std::int32_t>(baud, 1) / 10.0;
    return std::max(MinBurst, static_cast<std::size_t>(perSecond * ms / 1000.0));
}

std::string_view PastePacer::Next(Clock::time_point now, std::int32_t baud, std::size_t queued,
                                  std::size_t room) {
    const auto burst = static_cast<double>(BurstFor(baud));
    if (credit_ < 0) {
        credit_ = burst; // the first burst goes at once
    } else {
        const double seconds = std::chrono::duration<double>(now - last_).count();
        credit_ = std::min(burst, credit_ + std::max(seconds, 0.0) * std::max(baud, 1) / 10.0);
    }
    last_ = now;
    if (static_cast<double>(queued) >= burst) {
        return {};
    }
    const std::size_t n = std::min({static_cast<std::size_t>(credit_), room,
                                    bytes_.size() - sent_});
    credit_ -= static_cast<double>(n);
    const std::string_view out(bytes_.data() + sent_, n);
    sent_ += n;
    return out;
}

} // namespace pellwick
