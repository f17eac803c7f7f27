// Tells a barcode scanner's line from typing. A scanner types like a keyboard, but its
// characters follow each other within a few milliseconds and end in Enter; a person's keys are
// tens of milliseconds apart at the fastest. Characters are held until it is clear which they
// are: a scan gives its label and never acts as keys; typing is given back, to act as keys.
// Window-free: the window feeds it the keys and their times.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace pellwick {

class ScanDetector {
public:
    using Clock = std::chrono::steady_clock;
    // The longest pause between two characters of one scan.
    static constexpr std::chrono::milliseconds MaxGap{30};
    // The shortest label: a shorter fast run is typing.
    static constexpr std::size_t MinLength = 3;

    // A character without a modifier.
    void Character(char c, Clock::time_point at);
    // Enter: the label when the characters before it were a scan; otherwise nothing, and they
    // count as typing.
    std::optional<std::string> Enter(Clock::time_point at);
    // What turned out to be typing by `now` (no character for MaxGap), in order; taken.
    std::string TakeTyped(Clock::time_point now);

private:
    std::string held_;  // the run of fast characters so far
    std::string typed_; // runs that ended without an Enter in time
    Clock::time_point last_{};
};

} // namespace pellwick
