#include "terminal/LineEnds.h"

#include <cctype>

namespace pellwick {

namespace {

// Each line end with its bytes and its name in loader.ini; a value outside the enum reads as
// the first, CR.
struct LineEndForm {
    LineEnd end;
    std::string_view bytes;
    const char* name;
};
constexpr LineEndForm LineEndForms[] = {
    {LineEnd::Cr, "\r", "CR"}, {LineEnd::Lf, "\n", "LF"}, {LineEnd::CrLf, "\r\n", "CRLF"}};

const LineEndForm& FormOf(LineEnd end) {
    for (const LineEndForm& form : LineEndForms) {
        if (form.end == end) {
            return form;
        }
    }
    return LineEndForms[0];
}

} // namespace

std::string_view LineEndBytes(LineEnd end) {
    return FormOf(end).bytes;
}

const char* LineEndName(LineEnd end) {
    return FormOf(end).name;
}

std::optional<LineEnd> LineEndFromName(std::string_view name) {
    std::string upper;
    for (const char c : name) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (const LineEndForm& form : LineEndForms) {
        if (upper == form.name) {
            return form.end;
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
