// Paces a paste onto the line: bytes are handed out at the line's rate (10 bits a byte), in
// small bursts, and never more than the port's output ring has room for, so nothing is lost
// at any baud rate and the ring holds no more than a tenth of a second of line time; Esc then
// stops a paste at once. Needs no window: the caller asks on each tick of its own timer.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pellwick {

class PastePacer {
public:
    using Clock = std::chrono::steady_clock;
    // Line time the ring may hold ahead of the line, and the smallest burst.
    static constexpr int BacklogMs = 100;
    static constexpr std::size_t MinBurst = 16;

    PastePacer(std::string bytes, Clock::time_point start);

    // The next bytes to queue now: what the line has carried since the last call at `baud`,
    // up to a burst of BacklogMs of line time, never more than `room`, and nothing while the
    // ring still holds a full burst (the line runs slower than its rate, e.g. under flow
    // control). The view stays valid until the next call.
    std::string_view Next(Clock::time_point now, std::int32_t baud, std::size_t queued,
                          std::size_t room);

    std::size_t Sent() const { return sent_; }
    std::size_t Total() const { return bytes_.size(); }
    bool Done() const { return sent_ == bytes_.size(); }

    // Bytes the line carries in `ms` milliseconds at `baud`, at least MinBurst.
    static std::size_t BurstFor(std::int32_t baud, int ms = BacklogMs);

private:
    std::string bytes_;
    std::size_t sent_ = 0;
    double credit_ = -1; // bytes the line could take now; negative until the first call
    Clock::time_point last_;
};

} // namespace pellwick
