// The hex view's lines: 16 received bytes a line, each as two upper-case hex digits and a
// blank, then a blank and the bytes' characters ('.' for control bytes). Feed turns received
// bytes into what the screen buffer is given: finished lines end with CR LF; an unfinished
// line is drawn as far as it goes and redrawn from its start (after a CR) when more bytes
// come, so the screen always shows every byte received. Needs no window.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace pellwick {

class HexFormatter {
public:
    static constexpr int BytesPerLine = 16;
    // Column of the first character beside the hex pairs.
    static constexpr int CharColumn = 3 * BytesPerLine + 1;

    std::string Feed(std::span<const std::uint8_t> bytes);
    // Forgets the unfinished line: the next byte starts a new one.
    void Reset();
    // Bytes of the unfinished line (0 when the last line was finished).
    int Pending() const { return static_cast<int>(line_.size()); }

    // The character shown for a byte: the byte itself, '.' for the control bytes (below 32,
    // 127, and 128 to 159).
    static char Shown(std::uint8_t b);

private:
    void AppendLine(std::string& out) const;

    std::string line_;
    bool drawn_ = false; // the unfinished line is on screen
};

} // namespace pellwick
