// Paces one direction of an emulated serial line: credit grows at the line's byte rate up to a
// small burst, so a quiet line never saves up for a fast catch-up later. While bytes wait to be
// moved the line is busy: a real line carries them at its rate however late the simulator
// looks, so credit then grows up to a quarter second of the line instead (otherwise a fast
// line would run slower than its rate whenever the simulator is woken late).
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
    // Whole bytes that may move now (unpaced: effectively unlimited). busy: bytes have been
    // waiting since the last look.
    std::size_t Allowance(Clock::time_point now, bool busy = false);
    void Consume(std::size_t bytes);
    // When at least `bytes` (clamped to the burst) will be allowed.
    Clock::time_point ReadyAt(std::size_t bytes) const;
    std::size_t Burst() const { return burst_; }

private:
    void Refill(Clock::time_point now, bool busy);

    double bytesPerSecond_;
    double burst_;
    double credit_;
    Clock::time_point last_;
};

} // namespace pellwick
