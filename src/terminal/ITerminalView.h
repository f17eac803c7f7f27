// The screen widget (TTerminal) as the screen buffer sees it. TBuffer never touches a widget: it
// asks its window, through this interface, to repaint, scroll, move the caret, set the scroll bars,
// run the mark timer and so on. The widget implements it; tests use a recording fake.
// All coordinates here are pixels of the window's client area, origin top left.
#pragma once

#include <cstdint>
#include <string>

namespace pellwick {

// Posted to the terminal window after each refresh: cursor and view position (see
// TBuffer::StatusParams for the two parameters).
inline constexpr unsigned MsgTermStatus = 0x7E50;
// Sent to the terminal window when a terminal operation fails; first parameter the error code.
inline constexpr unsigned MsgTermError = 0x7E52;

// A pixel rectangle; right and bottom are exclusive.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool IsEmpty() const { return left >= right || top >= bottom; }
    bool operator==(const PixelRect&) const = default;
};

struct PixelPoint {
    int x = 0;
    int y = 0;
    bool operator==(const PixelPoint&) const = default;
};

enum class ScrollBar { Horizontal, Vertical };

class ITerminalView {
public:
    virtual ~ITerminalView() = default;

    // Schedule a repaint of the rectangle; erase = clear it to the background first.
    virtual void InvalidateRect(const PixelRect& rect, bool erase) = 0;
    // Schedule a repaint of the whole client area (with erase).
    virtual void InvalidateAll() = 0;
    // Paint what is scheduled now.
    virtual void UpdateWindow() = 0;
    // Move the pixels inside clip by dx, dy (negative = up or left); uncovered parts of clip
    // must be repainted by the window.
    virtual void ScrollContent(int dx, int dy, const PixelRect& clip) = 0;

    virtual void SetScrollRange(ScrollBar bar, int minimum, int maximum) = 0;
    virtual void SetScrollPos(ScrollBar bar, int position) = 0;

    // Put the caret's top left corner at this pixel.
    virtual void MoveCaret(int x, int y) = 0;

    // Post MsgTermStatus: delivered later by the event loop, never handled inside this call.
    virtual void PostStatus(std::uint32_t first, std::uint32_t second) = 0;
    // Send MsgTermError with this code (handled before the call returns).
    virtual void ReportError(int code) = 0;

    // The mark timer: StartMarkTimer returns false when no timer could be created.
    virtual bool StartMarkTimer(int milliseconds) = 0;
    virtual void StopMarkTimer() = 0;
    virtual void CaptureMouse() = 0;
    virtual void ReleaseMouse() = 0;
    // The pointer's position now, relative to the client area (may lie outside it).
    virtual PixelPoint PointerPosition() const = 0;

    // Replace the clipboard content with plain text; false when the clipboard refused it.
    virtual bool SetClipboardText(const std::string& text) = 0;
};

} // namespace pellwick
