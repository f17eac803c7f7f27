// Data triggers: a pattern fed byte by byte fires exactly where a plain search over the same bytes
// finds it. A match may share only its completing byte with the next one (the byte that completes
// a match can open the next candidate, the partial candidates before it are dropped); a reset of
// the match state, as when the input is cleared, forgets everything before it.
#include "Oracle.h"

#include "serial/Triggers.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

using pellwick::DataTrigger;
using pellwick::MaxMatchLength;
using pellwick::UpperByte;
using pellwick::fuzz::Expect;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto length = input.ConsumeIntegralInRange<std::uint32_t>(1, MaxMatchLength);
    const bool ignoreCase = input.ConsumeBool();
    // A reset of the match state before this input position (none when beyond the input).
    const auto resetAt = input.ConsumeIntegral<std::uint16_t>();
    DataTrigger trigger;
    trigger.length = length;
    trigger.ignoreCase = ignoreCase;
    const std::vector<std::uint8_t> pattern = input.ConsumeBytes<std::uint8_t>(length);
    if (pattern.size() != length) {
        return 0;
    }
    for (std::uint32_t i = 0; i < length; ++i) {
        // The port component upper-cases an ignore-case pattern once, when the trigger is made.
        trigger.pattern[i] = ignoreCase ? UpperByte(pattern[i]) : pattern[i];
    }
    const std::vector<std::uint8_t> bytes = input.ConsumeRemainingBytes<std::uint8_t>();

    const auto same = [&](std::uint8_t a, std::uint8_t b) {
        return ignoreCase ? UpperByte(a) == UpperByte(b) : a == b;
    };
    std::size_t earliestStart = 0; // a match must not start before this position
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == resetAt) {
            trigger.ResetMatch();
            earliestStart = i;
        }
        trigger.Feed(bytes[i]);
        bool expected = i + 1 >= length && i + 1 - length >= earliestStart;
        for (std::uint32_t k = 0; expected && k < length; ++k) {
            expected = same(bytes[i + 1 - length + k], pattern[k]);
        }
        Expect(trigger.matched == expected, std::string(expected ? "missed" : "false") +
                                                " match ending at byte " + std::to_string(i));
        if (expected) {
            earliestStart = i;
            // The dispatcher clears the flag when it delivers the match.
            trigger.matched = false;
        }
    }
    return 0;
}
