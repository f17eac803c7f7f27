#include "station/ScanDetector.h"

#include <utility>

namespace pellwick {

void ScanDetector::Character(char c, Clock::time_point at) {
    if (!held_.empty() && at - last_ > MaxGap) {
        typed_ += std::exchange(held_, {});
    }
    held_ += c;
    last_ = at;
}

std::optional<std::string> ScanDetector::Enter(Clock::time_point at) {
    std::string run = std::exchange(held_, {});
    if (run.size() >= MinLength && at - last_ <= MaxGap) {
        return run;
    }
    typed_ += run;
    return std::nullopt;
}

std::string ScanDetector::TakeTyped(Clock::time_point now) {
    if (!held_.empty() && now - last_ > MaxGap) {
        typed_ += std::exchange(held_, {});
    }
    return std::exchange(typed_, {});
}

} // namespace pellwick
