#include "terminal/HexFormatter.h"

namespace pellwick {

char HexFormatter::Shown(std::uint8_t b) {
    const bool control = b < 0x20 || b == 0x7F || (b >= 0x80 && b < 0xA0);
    return control ? '.' : static_cast<char>(b);
}

void HexFormatter::AppendLine(std::string& out) const {
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < BytesPerLine; ++i) {
        if (i < static_cast<int>(line_.size())) {
            const auto b = static_cast<std::uint8_t>(line_[static_cast<std::size_t>(i)]);
            out += digits[b >> 4];
            out += digits[b & 15];
        } else {
            out += "  ";
        }
        out += ' ';
    }
    out += ' ';
    for (const char c : line_) {
        out += Shown(static_cast<std::uint8_t>(c));
    }
}

std::string HexFormatter::Feed(std::span<const std::uint8_t> bytes) {
    std::string out;
    if (bytes.empty()) {
        return out;
    }
    if (drawn_) {
        out += '\r';
    }
    for (const std::uint8_t b : bytes) {
        line_ += static_cast<char>(b);
        if (static_cast<int>(line_.size()) == BytesPerLine) {
            AppendLine(out);
            out += "\r\n";
            line_.clear();
        }
    }
    drawn_ = !line_.empty();
    if (drawn_) {
        AppendLine(out);
    }
    return out;
}

void HexFormatter::Reset() {
    line_.clear();
    drawn_ = false;
}

} // namespace pellwick
