#include "terminal/LineEnds.h"

#include <cctype>

namespace pellwick {

std::string_view LineEndBytes(LineEnd end) {
    switch (end) {
    case LineEnd::Lf:
        return "\n";
    case LineEnd::CrLf:
        return "\r\n";
    case LineEnd::Cr:
    default:
        return "\r";
    }
}

const char* LineEndName(LineEnd end) {
    switch (end) {
    case LineEnd::Lf:
        return "LF";
    case LineEnd::CrLf:
        return "CRLF";
    case LineEnd::Cr:
    default:
        return "CR";
    }
}

std::optional<LineEnd> LineEndFromName(std::string_view name) {
    std::string upper;
    for (const char c : name) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (const LineEnd end : {LineEnd::Cr, LineEnd::Lf, LineEnd::CrLf}) {
        if (upper == LineEndName(end)) {
            return end;
        }
    }
    return std::nullopt;
}

void MapReceived(const LineEndMapping& mapping, std::span<const std::uint8_t> in,
                 std::string& out) {
    out.reserve(out.size() + in.size());
    for (const std::uint8_t b : in) {
        if ((b == '\r' && mapping.receiveCrAsCrLf) || (b == '\n' && mapping.receiveLfAsCrLf)) {
            out += "\r\n";
        } else {
            out += static_cast<char>(b);
        }
    }
}

std::string PastedBytes(std::string_view text, LineEnd send) {
    const std::string_view end = LineEndBytes(send);
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            out += end;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace pellwick
