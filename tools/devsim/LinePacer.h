// Paces one direction of an emulated serial line: credit grows at the line's byte rate up to a
// small burst, so a quiet line never saves up for a fast catch-up later.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace pellwick {

class LinePacer {
public:
    using Clock = std::chrono::steady_clock;

    // baud 0 means an unpaced line; 8N1 framing puts 10 bits on the line per byte.
    LinePacer(std::uint32_t baud, std::size_t burst, Clock::time_point now);

    bool Paced() const { return bytesPerSecond_ > 0; }
    // Whole bytes that may move now (unpaced: effectively unlimited).
    std::size_t Allowance(Clock::time_point now);
    void Consume(std::size_t bytes);
    // When at least `bytes` (clamped to the burst) will be allowed.
    Clock::time_point ReadyAt(std::size_t bytes) const;
    std::size_t Burst() const { return burst_; }

private:
    void Refill(Clock::time_point now);

    double bytesPerSecond_;
    double burst_;
    double credit_;
    Clock::time_point last_;
};

} // namespace pellwick
