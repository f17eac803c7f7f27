#include "serial/TextMatcher.h"

#include <utility>

namespace pellwick {

TextMatcher::TextMatcher(std::string text, bool ignoreCase)
    : text_(std::move(text)), ignoreCase_(ignoreCase), found_(text_.empty()) {}

char TextMatcher::Fold(char c) const {
    return ignoreCase_ && c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool TextMatcher::Take(char c) {
    if (found_) {
        return true;
    }
    if (text_.size() > LongestText) {
        return false;
    }
    if (Fold(c) == Fold(text_[position_])) {
        found_ = ++position_ == text_.size();
        return found_;
    }
    position_ = Fold(c) == Fold(text_[0]) ? 1 : 0;
    found_ = position_ == text_.size();
    return found_;
}

} // namespace pellwick
