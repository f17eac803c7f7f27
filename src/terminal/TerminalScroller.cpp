#include "terminal/TerminalScroller.h"

#include "terminal/TBuffer.h"

#include <QAbstractScrollArea>
#include <QScrollBar>
#include <algorithm>

namespace pellwick {

TerminalScroller::TerminalScroller(QAbstractScrollArea& area, TBuffer& buffer)
    : area_(area), buffer_(buffer) {}

void TerminalScroller::SetModes(bool permanentH, bool permanentV, bool autoH, bool autoV) {
    permanentH_ = permanentH;
    permanentV_ = permanentV;
    autoH_ = autoH && !permanentH;
    autoV_ = autoV && !permanentV;
    area_.setHorizontalScrollBarPolicy(permanentH_ ? Qt::ScrollBarAlwaysOn
                                       : autoH_    ? Qt::ScrollBarAsNeeded
                                                   : Qt::ScrollBarAlwaysOff);
    area_.setVerticalScrollBarPolicy(permanentV_ ? Qt::ScrollBarAlwaysOn
                                     : autoV_    ? Qt::ScrollBarAsNeeded
                                                 : Qt::ScrollBarAlwaysOff);
    ResetRanges();
}

QSize TerminalScroller::FrameExtra() const {
    const int frame = 2 * area_.frameWidth();
    const int h = permanentH_ ? area_.horizontalScrollBar()->sizeHint().height() : 0;
    const int v = permanentV_ ? area_.verticalScrollBar()->sizeHint().width() : 0;
    return {frame + v, frame + h};
}

void TerminalScroller::EnterScrollback() {
    TBuffer& b = buffer_;
    b.SaveCursorAndView();
    fullPageOnEntry_ = b.ClientWidth() >= b.Columns() * b.CellWidth() &&
                       b.ClientHeight() >= b.PageHeight() * b.CellHeight();
    savedVMin_ = area_.verticalScrollBar()->minimum();
    savedVMax_ = area_.verticalScrollBar()->maximum();
    savedVPos_ = area_.verticalScrollBar()->value();
    scrollback_ = true;
    b.SetScrollback(true);
    const int high = b.HighestRowUsed();
    SetRange(ScrollBar::Vertical, 0, high < b.VisibleRows() ? high : high - b.VisibleRows() + 1);
    if (autoH_) {
        SetRange(ScrollBar::Horizontal, 0, std::max(b.Columns() - b.VisibleColumns(), 0));
    }
    SetPos(ScrollBar::Vertical, b.ScrollBarPosition(ScrollBar::Vertical));
    SetPos(ScrollBar::Horizontal, b.ScrollBarPosition(ScrollBar::Horizontal));
}

void TerminalScroller::LeaveScrollback() {
    TBuffer& b = buffer_;
    scrollback_ = false;
    b.SetScrollback(false);
    if (permanentV_) {
        SetRange(ScrollBar::Vertical, savedVMin_, savedVMax_);
    } else if (!autoV_ || fullPageOnEntry_) {
        SetRange(ScrollBar::Vertical, 0, 0);
    } else {
        SetRange(ScrollBar::Vertical, 0, std::max(b.PageHeight() - b.VisibleRows(), 0));
    }
    if (autoH_) {
        SetRange(ScrollBar::Horizontal, 0,
                 fullPageOnEntry_ ? 0 : std::max(b.Columns() - b.VisibleColumns(), 0));
    }
    b.RestoreCursorAndView();
    if (permanentV_) {
        SetPos(ScrollBar::Vertical, savedVPos_);
    } else {
        SetPos(ScrollBar::Vertical, b.ScrollBarPosition(ScrollBar::Vertical));
    }
    SetPos(ScrollBar::Horizontal, b.ScrollBarPosition(ScrollBar::Horizontal));
}

bool TerminalScroller::ScrollbackKey(int key) {
    TBuffer& b = buffer_;
    switch (key) {
    case Qt::Key_PageUp:
        b.ScrollView(0, -b.VisibleRows());
        return true;
    case Qt::Key_PageDown:
        b.ScrollView(0, b.VisibleRows());
        return true;
    case Qt::Key_Up:
        b.ScrollView(0, -1);
        return true;
    case Qt::Key_Down:
        b.ScrollView(0, 1);
        return true;
    case Qt::Key_Left:
        b.ScrollView(-1, 0);
        return true;
    case Qt::Key_Right:
        b.ScrollView(1, 0);
        return true;
    case Qt::Key_Home:
        b.ScrollView(-b.ViewLeft(), 0);
        return true;
    case Qt::Key_End: {
        // To just past the last non-blank character of the cursor row.
        int last = b.Columns() - 1;
        while (last >= 0 && b.CharAt(last, b.CursorRow()) == ' ') {
            --last;
        }
        b.ScrollView(last + 1 - b.CursorColumn(), 0);
        return true;
    }
    default:
        return false;
    }
}

void TerminalScroller::FollowVisibleChange(int oldRows, int oldColumns) {
    TBuffer& b = buffer_;
    if (scrollback_ || area_.isMinimized()) {
        return;
    }
    // The view follows the size: fewer rows keep the cursor in sight, more rows and columns
    // show what lies above and to the left.
    const int rowDiff = b.VisibleRows() - oldRows;
    if (rowDiff < 0) {
        b.SetViewTop(std::min(b.ViewTop() - rowDiff, b.CursorRow()));
    } else if (rowDiff > 0) {
        b.SetViewTop(std::max(b.ViewTop() - rowDiff, 0));
    }
    const int columnDiff = b.VisibleColumns() - oldColumns;
    if (columnDiff > 0) {
        b.SetViewLeft(std::max(b.ViewLeft() - columnDiff, 0));
    }
}

void TerminalScroller::ResetRanges() {
    if (scrollback_) {
        return;
    }
    const TBuffer& b = buffer_;
    if (permanentV_ || autoV_) {
        SetRange(ScrollBar::Vertical, 0, std::max(b.PageHeight() - b.VisibleRows(), 0));
    }
    if (permanentH_ || autoH_) {
        SetRange(ScrollBar::Horizontal, 0, std::max(b.Columns() - b.VisibleColumns(), 0));
    }
    SetPos(ScrollBar::Vertical, b.ScrollBarPosition(ScrollBar::Vertical));
    SetPos(ScrollBar::Horizontal, b.ScrollBarPosition(ScrollBar::Horizontal));
}

QScrollBar* TerminalScroller::Bar(ScrollBar bar) const {
    return bar == ScrollBar::Horizontal ? area_.horizontalScrollBar() : area_.verticalScrollBar();
}

void TerminalScroller::OnAction(ScrollBar bar, int action) {
    TBuffer& b = buffer_;
    const bool vertical = bar == ScrollBar::Vertical;
    const int page = b.PageHeight();
    auto step = [&](int n) {
        if (vertical) {
            b.ScrollView(0, n);
        } else {
            b.ScrollView(n, 0);
        }
    };
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
        step(1);
        break;
    case QAbstractSlider::SliderSingleStepSub:
        step(-1);
        break;
    case QAbstractSlider::SliderPageStepAdd:
        step(page);
        break;
    case QAbstractSlider::SliderPageStepSub:
        step(-page);
        break;
    case QAbstractSlider::SliderToMinimum:
        b.ScrollToStart(bar);
        b.Refresh();
        break;
    case QAbstractSlider::SliderToMaximum:
        b.ScrollToEnd(bar);
        b.Refresh();
        break;
    case QAbstractSlider::SliderMove:
        // The thumb names a position; the view moves by the difference to the one shown now.
        step(Bar(bar)->sliderPosition() - b.ScrollBarPosition(bar));
        break;
    default:
        break;
    }
    // The slider applies its own idea of the step after this signal; the buffer's wins.
    Bar(bar)->setSliderPosition(b.ScrollBarPosition(bar));
}

void TerminalScroller::SetRange(ScrollBar bar, int minimum, int maximum) {
    Bar(bar)->setRange(minimum, std::max(minimum, maximum));
}

void TerminalScroller::SetPos(ScrollBar bar, int position) {
    Bar(bar)->setValue(position);
}

} // namespace pellwick
