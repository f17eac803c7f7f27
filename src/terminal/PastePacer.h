// Paces a paste onto the line: bytes are handed out at the line's rate (10 bits a byte), in
// small bursts, and never more than the port's output ring has room for, so nothing is lost
// at any baud rate and the ring holds no more than a tenth of a second of line time; Esc then
// stops a paste at once. Slow devices get more: a pause after each character, a pause after
// each line, and a wait for the device's prompt before each further line (ended when the prompt
// arrives; a prompt that does not come in time ends the paste). A line ends with an LF, or
// with a CR that no LF follows. Needs no window: the caller asks on each tick of its own timer
// and hands over what the device sends.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace pellwick {

struct PastePacing {
    int charDelayMs = 0; // pause after each byte
    int lineDelayMs = 0; // pause after each line end
    std::string prompt;  // empty: no wait
    int promptTimeoutMs = 5000;

    bool operator==(const PastePacing&) const = default;
    // Only line-rate pacing.
    bool Plain() const { return charDelayMs <= 0 && lineDelayMs <= 0 && prompt.empty(); }
};

class PastePacer {
public:
    using Clock = std::chrono::steady_clock;
    // Line time the ring may hold ahead of the line, and the smallest burst.
    static constexpr int BacklogMs = 100;
    static constexpr std::size_t MinBurst = 16;

    PastePacer(std::string bytes, Clock::time_point start, PastePacing pacing = {});

    // The next bytes to queue now: what the line has carried since the last call at `baud`,
    // up to a burst of BacklogMs of line time, never more than `room`, and nothing while the
    // ring still holds a full burst (the line runs slower than its rate, e.g. under flow
    // control), during a pause or while the prompt is awaited. A burst never runs past the
    // end of a line when lines are paced. The view stays valid until the next call.
    std::string_view Next(Clock::time_point now, std::int32_t baud, std::size_t queued,
                          std::size_t room);
    // What the device sent: ends the wait for the prompt once the prompt is among it.
    void Received(std::span<const std::uint8_t> bytes);

    std::size_t Sent() const { return sent_; }
    std::size_t Total() const { return bytes_.size(); }
    bool Done() const { return sent_ == bytes_.size(); }
    bool AwaitingPrompt() const { return awaitingPrompt_; }
    // The prompt did not come within its time: nothing more is handed out.
    bool PromptMissed() const { return promptMissed_; }
    // Lines handed out completely.
    std::size_t LinesSent() const { return lines_; }

    // Bytes the line carries in `ms` milliseconds at `baud`, at least MinBurst.
    static std::size_t BurstFor(std::int32_t baud, int ms = BacklogMs);

private:
    // The bytes up to and including the end of the line that begins at `from`.
    std::size_t LineLength(std::size_t from) const;

    std::string bytes_;
    PastePacing pacing_;
    std::size_t sent_ = 0;
    double credit_ = -1; // bytes the line could take now; negative until the first call
    Clock::time_point last_;
    Clock::time_point pausedUntil_{};
    bool awaitingPrompt_ = false;
    bool promptMissed_ = false;
    Clock::time_point promptDeadline_{};
    std::string seen_; // the received tail that may still begin the prompt
    std::size_t lines_ = 0;
};

} // namespace pellwick
