// The wait for text's match: letters only fold with ignore case, a mismatch goes back to the
// text's first character only, and a text too long for the wait's byte-wide position is never
// found (not found early by a position that wrapped round).
#include "serial/TextMatcher.h"

#include <gtest/gtest.h>

#include <string>

namespace pellwick {
namespace {

TEST(TextMatcherTest, FindsTheTextAtTheByteThatCompletesIt) {
    const std::string a255(255, 'a');
    const std::string a256(256, 'a');
    const struct {
        std::string text;
        bool ignoreCase;
        std::string input;
        int foundAt; // index of the byte that completes the text; -1: never found
    } cases[] = {
        {"#", true, "VER=2.10\r\n#tail", 10},
        {"ok>", true, "xOK>", 3},
        {"OK", false, "ok", -1},
        {"\xe4", true, "\xc4\xe4", 1}, // beyond a to z nothing folds
        {"aab", false, "aaab", -1},    // no backtracking past the first character
        {"aab", false, "aabx", 2},
        {a255, false, a255, 254},
        {a256, false, a256 + a256, -1},
        {a256 + "b", false, std::string(600, 'a') + "b", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 8) + " / " + c.input.substr(0, 8));
        TextMatcher matcher(c.text, c.ignoreCase);
        int at = -1;
        for (std::size_t i = 0; i < c.input.size() && at < 0; ++i) {
            if (matcher.Take(c.input[i])) {
                at = static_cast<int>(i);
            }
        }
        EXPECT_EQ(at, c.foundAt);
        EXPECT_EQ(matcher.Found(), c.foundAt >= 0);
    }
    EXPECT_TRUE(TextMatcher("", false).Found()); // found before any byte
}

} // namespace
} // namespace pellwick
