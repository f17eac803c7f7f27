#include "terminal/PastePacer.h"

#include <algorithm>

namespace pellwick {

PastePacer::PastePacer(std::string bytes, Clock::time_point start, PastePacing pacing)
    : bytes_(std::move(bytes)), pacing_(std::move(pacing)), last_(start) {}

std::size_t PastePacer::BurstFor(std::int32_t baud, int ms) {
    const double perSecond = std::max<std::int32_t>(baud, 1) / 10.0;
    return std::max(MinBurst, static_cast<std::size_t>(perSecond * ms / 1000.0));
}

std::size_t PastePacer::LineLength(std::size_t from) const {
    for (std::size_t i = from; i < bytes_.size(); ++i) {
        const char b = bytes_[i];
        if (b == '\n' || (b == '\r' && (i + 1 == bytes_.size() || bytes_[i + 1] != '\n'))) {
            return i + 1 - from;
        }
    }
    return bytes_.size() - from;
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
    if (promptMissed_) {
        return {};
    }
    if (awaitingPrompt_) {
        if (now >= promptDeadline_) {
            promptMissed_ = true;
        }
        return {};
    }
    if (now < pausedUntil_ || static_cast<double>(queued) >= burst) {
        return {};
    }
    std::size_t n = std::min({static_cast<std::size_t>(credit_), room, bytes_.size() - sent_});
    if (pacing_.charDelayMs > 0) {
        n = std::min<std::size_t>(n, 1);
    }
    const bool pacedLines = pacing_.lineDelayMs > 0 || !pacing_.prompt.empty();
    const std::size_t line = LineLength(sent_);
    if (pacedLines) {
        n = std::min(n, line);
    }
    credit_ -= static_cast<double>(n);
    const std::string_view out(bytes_.data() + sent_, n);
    sent_ += n;
    if (n == 0) {
        return out;
    }
    if (pacing_.charDelayMs > 0) {
        pausedUntil_ = now + std::chrono::milliseconds(pacing_.charDelayMs);
    }
    if (n == line && pacedLines) {
        ++lines_;
        if (!Done()) {
            pausedUntil_ =
                std::max(pausedUntil_, now + std::chrono::milliseconds(pacing_.lineDelayMs));
            if (!pacing_.prompt.empty()) {
                // Only what the device sends from now on answers this line.
                awaitingPrompt_ = true;
                promptDeadline_ = now + std::chrono::milliseconds(pacing_.promptTimeoutMs);
                seen_.clear();
            }
        }
    }
    return out;
}

void PastePacer::Received(std::span<const std::uint8_t> bytes) {
    if (!awaitingPrompt_) {
        return;
    }
    const std::string& prompt = pacing_.prompt;
    seen_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (seen_.find(prompt) != std::string::npos) {
        awaitingPrompt_ = false;
        seen_.clear();
        return;
    }
    // Keep only what may still be the start of a prompt split across batches.
    if (seen_.size() >= prompt.size()) {
        seen_.erase(0, seen_.size() - (prompt.size() - 1));
    }
}

} // namespace pellwick
