// The terminal window's scroll bars and its scrollback view: which bars show (permanent ones,
// and auto ones while the window is smaller than the page), their ranges and positions, what
// their actions and the keys do while the user browses history, and how the view follows a
// change in the number of visible cells. The screen buffer moves the view and reports the bar
// positions; this class tells it how far and sets the bars. GUI thread only; the window owns it.
#pragma once

#include "terminal/ITerminalView.h"

#include <QSize>

class QAbstractScrollArea;
class QScrollBar;

namespace pellwick {

class TBuffer;

class TerminalScroller {
public:
    // area: the window whose scroll bars and frame these are.
    TerminalScroller(QAbstractScrollArea& area, TBuffer& buffer);
    TerminalScroller(const TerminalScroller&) = delete;
    TerminalScroller& operator=(const TerminalScroller&) = delete;

    // Permanent bars always show; auto bars show while the window is smaller than the page.
    void SetModes(bool permanentH, bool permanentV, bool autoH, bool autoV);
    // Client-area pixels around which the frame and the permanent scroll bars sit.
    QSize FrameExtra() const;

    void SetRange(ScrollBar bar, int minimum, int maximum);
    void SetPos(ScrollBar bar, int position);
    // The live view's ranges (the page less what is shown) and the buffer's positions; nothing
    // in scrollback mode.
    void ResetRanges();
    // After the visible rows or columns changed: fewer rows keep the cursor in sight, more rows
    // and columns show what lies above and to the left (not in scrollback, not minimized).
    void FollowVisibleChange(int oldRows, int oldColumns);
    // A bar's QAbstractSlider::SliderAction.
    void OnAction(ScrollBar bar, int action);

    bool Scrollback() const { return scrollback_; }
    // Cursor, view and the vertical bar are kept on entering and given back on leaving; the
    // bars get the history's range meanwhile. The window repaints and reports.
    void EnterScrollback();
    void LeaveScrollback();
    // A key in scrollback mode moves the view: Page Up/Down, the arrows, Home, End. False for
    // any other key.
    bool ScrollbackKey(int key);

private:
    QScrollBar* Bar(ScrollBar bar) const;

    QAbstractScrollArea& area_;
    TBuffer& buffer_;
    bool scrollback_ = false;
    bool permanentH_ = false;
    bool permanentV_ = false;
    bool autoH_ = false;
    bool autoV_ = false;
    // Kept on entering scrollback, used on leaving it.
    bool fullPageOnEntry_ = false;
    int savedVMin_ = 0;
    int savedVMax_ = 0;
    int savedVPos_ = 0;
};

} // namespace pellwick
