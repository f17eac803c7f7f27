// A terminal window that records what the screen buffer asks of it.
#pragma once

#include "terminal/ITerminalView.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pellwick::test {

struct FakeTerminalView : ITerminalView {
    struct Invalidation {
        PixelRect rect;
        bool erase;
    };
    struct Scroll {
        int dx;
        int dy;
        PixelRect clip;
    };
    struct Status {
        std::uint32_t first;
        std::uint32_t second;
    };

    void InvalidateRect(const PixelRect& rect, bool erase) override {
        invalidations.push_back({rect, erase});
    }
    void InvalidateAll() override { ++invalidateAllCount; }
    void UpdateWindow() override { ++updateCount; }
    void ScrollContent(int dx, int dy, const PixelRect& clip) override {
        scrolls.push_back({dx, dy, clip});
    }
    void SetScrollRange(ScrollBar bar, int minimum, int maximum) override {
        (bar == ScrollBar::Vertical ? vRange : hRange) = std::pair{minimum, maximum};
    }
    void SetScrollPos(ScrollBar bar, int position) override {
        (bar == ScrollBar::Vertical ? vPos : hPos) = position;
    }
    void MoveCaret(int x, int y) override { caret = PixelPoint{x, y}; }
    void PostStatus(std::uint32_t first, std::uint32_t second) override {
        statuses.push_back({first, second});
    }
    void ReportError(int code) override { errors.push_back(code); }
    bool StartMarkTimer(int milliseconds) override {
        timerMs = milliseconds;
        timerRunning = timerAvailable;
        return timerAvailable;
    }
    void StopMarkTimer() override { timerRunning = false; }
    void CaptureMouse() override { captured = true; }
    void ReleaseMouse() override { captured = false; }
    PixelPoint PointerPosition() const override { return pointer; }
    bool SetClipboardText(const std::string& text) override {
        if (!clipboardWorks) {
            return false;
        }
        clipboard = text;
        return true;
    }

    std::vector<Invalidation> invalidations;
    int invalidateAllCount = 0;
    int updateCount = 0;
    std::vector<Scroll> scrolls;
    std::optional<std::pair<int, int>> vRange, hRange;
    std::optional<int> vPos, hPos;
    std::optional<PixelPoint> caret;
    std::vector<Status> statuses;
    std::vector<int> errors;
    bool timerAvailable = true;
    bool timerRunning = false;
    int timerMs = 0;
    bool captured = false;
    PixelPoint pointer;
    bool clipboardWorks = true;
    std::optional<std::string> clipboard;
};

} // namespace pellwick::test
