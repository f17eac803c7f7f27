// Line ends between the terminal and the device: what Enter and a pasted line end send, and
// which received line ends are widened to CR LF for display. Needs no window.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pellwick {

enum class LineEnd { Cr, Lf, CrLf };

struct LineEndMapping {
    LineEnd send = LineEnd::Cr;
    bool receiveCrAsCrLf = false;
    bool receiveLfAsCrLf = false;

    bool operator==(const LineEndMapping&) const = default;
    bool WidensReceived() const { return receiveCrAsCrLf || receiveLfAsCrLf; }
};

// The bytes of one line end: "\r", "\n" or "\r\n".
std::string_view LineEndBytes(LineEnd end);
// "CR", "LF" or "CRLF" as loader.ini keeps it; a name read back gives its line end, case
// ignored, anything else none.
const char* LineEndName(LineEnd end);
std::optional<LineEnd> LineEndFromName(std::string_view name);

// Received bytes as the screen shows them: a CR, or an LF, becomes CR LF where the mapping
// says so; every other byte is kept. Appends to out.
void MapReceived(const LineEndMapping& mapping, std::span<const std::uint8_t> in, std::string& out);

// Pasted text as sent: each line end of the text (CR LF, a lone LF or a lone CR) becomes one
// `send` line end; every other byte is kept.
std::string PastedBytes(std::string_view text, LineEnd send);

} // namespace pellwick
