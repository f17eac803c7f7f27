#include "serial/Triggers.h"

namespace pellwick {

void DataTrigger::ResetMatch() {
    matchSlots.fill(0);
    matched = false;
}

void DataTrigger::Feed(std::uint8_t c) {
    if (length == 0 || matched) {
        return;
    }
    if (ignoreCase) {
        c = UpperByte(c);
    }
    const auto L = static_cast<std::int32_t>(length);
    bool started = false;
    bool result = false;
    bool examine = true; // slot 0 is always examined
    for (std::int32_t i = 0; i < L; ++i) {
        if (examine) {
            std::int32_t pos = matchSlots[i];
            if (pattern[pos] == c) {
                if (pos == L - 1) {
                    result = true;
                    matchSlots.fill(0);
                } else {
                    matchSlots[i] = pos + 1;
                }
            } else if (pattern[0] == c) {
                matchSlots[i] = 1;
                started = true;
            } else {
                matchSlots[i] = 0;
            }
            if (matchSlots[i] == 1) {
                started = true;
            }
        }
        // Every live candidate advances; a byte equal to the first pattern byte opens at most
        // one new candidate, in the first free slot.
        std::int32_t next = matchSlots[i + 1];
        examine = started ? next != 0 : (next != 0 || c == pattern[0]);
    }
    if (result) {
        matched = true;
        // A match drops every partial candidate, but the byte that completed it may start the
        // next one, whichever slot opened that candidate. The reset above wipes a candidate
        // opened in a slot before the completing one and keeps one opened after it, so without
        // this "aa" would fire on the second and third byte of "aaaa" and miss the fourth.
        matchSlots.fill(0);
        if (L > 1 && pattern[0] == c) {
            matchSlots[0] = 1;
        }
    }
}

} // namespace pellwick
