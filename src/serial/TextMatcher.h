// The match of the port's wait for a text, one received byte at a time: a byte that differs
// sends the match back to the text's first character only (so "aab" is not found in "aaab"),
// and with ignore case only the letters a to z are upper-cased. The wait's position is a byte,
// so a text longer than 255 characters is never found. Needs no port.
#pragma once

#include <cstddef>
#include <string>

namespace pellwick {

class TextMatcher {
public:
    // An empty text is found before any byte: Found() is true at once.
    TextMatcher(std::string text, bool ignoreCase);

    // Takes one byte; true when the text has now arrived.
    bool Take(char c);
    bool Found() const { return found_; }

    // The longest text the wait can find.
    static constexpr std::size_t LongestText = 255;

private:
    char Fold(char c) const;

    std::string text_;
    bool ignoreCase_;
    std::size_t position_ = 0;
    bool found_ = false;
};

} // namespace pellwick
