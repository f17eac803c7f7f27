#include "terminal/TBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

namespace pellwick {

namespace {

constexpr TBuffer::Palette DefaultPalette = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

constexpr std::uint8_t Blank = ' ';

// Bytes that do something other than fill a cell: NUL (dropped), BS, LF and CR.
bool IsControlCell(std::uint8_t b) {
    return b == 0 || b == 8 || b == 10 || b == 13;
}

// Pixel coordinate to cell index along one axis. A coordinate exactly on a boundary belongs to
// the cell before it, so the right or bottom edge of the client area still names the last
// whole cell.
int PixelToCell(int pixel, int cellSize) {
    if (pixel <= 0 || cellSize <= 0) {
        return 0;
    }
    int cell = pixel / cellSize;
    if (pixel % cellSize == 0) {
        --cell;
    }
    return cell;
}

PixelRect Unite(const PixelRect& a, const PixelRect& b) {
    if (a.IsEmpty()) {
        return b;
    }
    if (b.IsEmpty()) {
        return a;
    }
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

// Position of a cell in reading order.
int Linear(const CellPos& p, int columns) {
    return p.row * columns + p.column;
}

} // namespace

TBuffer::Plane::Plane(std::size_t cells, int columns, std::uint8_t value)
    : store_(cells + static_cast<std::size_t>(SpareRows) * columns, value), cells_(cells) {}

void TBuffer::Plane::swap(Plane& other) noexcept {
    store_.swap(other.store_);
    std::swap(base_, other.base_);
    std::swap(cells_, other.cells_);
}

void TBuffer::Plane::DropFirstRow(int columns) {
    const auto row = static_cast<std::size_t>(columns);
    if (base_ + cells_ + row > store_.size()) {
        // The spare rows are used up: bring the plane back to the start of the storage.
        std::memmove(store_.data(), store_.data() + base_ + row, cells_ - row);
        base_ = 0;
        return;
    }
    base_ += row;
}

TBuffer::TBuffer(ITerminalView& view, int columns, int rows, int pageHeight)
    : view_(view), palette_(DefaultPalette) {
    int result = ErrBadArgument;
    try {
        result = ResizeBuffer(rows, columns, pageHeight);
    } catch (const std::bad_alloc&) {
        result = ErrBadArgument;
    }
    if (result != 0) {
        throw std::runtime_error("Buffer allocation failed");
    }
}

int TBuffer::ResizeBuffer(int rows, int columns, int pageHeight) {
    // Zero columns or an empty page would make every cell computation below address memory
    // outside the planes, so they are refused like the other out-of-range sizes.
    if (columns < 1 || columns > MaxColumns || pageHeight < 1 || rows < pageHeight ||
        static_cast<long long>(rows) * columns > MaxCells) {
        return ErrBadArgument;
    }
    const auto cells = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
    // Build the new planes first, so that a failed allocation leaves the old buffer intact.
    Plane chars(cells, columns, Blank);
    Plane colors(cells, columns, 0);
    Plane attrs(cells, columns, 0);
    // The first page is blank in the current background; rows below start at 0 and take the
    // current colours when a line feed reaches them.
    const auto pageCells = static_cast<std::size_t>(pageHeight) * columns;
    std::fill_n(colors.begin(), pageCells, static_cast<std::uint8_t>(curBg_ << 4 | curBg_));
    Plane shadow(colors);

    chars_.swap(chars);
    colors_.swap(colors);
    shadow_.swap(shadow);
    attrs_.swap(attrs);
    rows_ = rows;
    cols_ = columns;
    page_ = pageHeight;
    curCol_ = curRow_ = 0;
    viewLeft_ = viewTop_ = 0;
    // A cursor and view saved for scrollback mode may lie outside the new size: leaving that
    // mode finds them homed, as the rest of the buffer is.
    saved_ = {};
    highestRow_ = page_ - 1;
    regionBottom_ = page_;
    pendingDx_ = pendingDy_ = 0;
    dirty_ = {};
    // A mark from the old size could name cells that no longer exist.
    ClearMark();
    return 0;
}

void TBuffer::SetDefaultColors(std::uint8_t foreground, std::uint8_t background) {
    defFg_ = curFg_ = foreground & 0x0F;
    defBg_ = curBg_ = background & 0x0F;
}

void TBuffer::SetMarkColors(std::uint8_t foreground, std::uint8_t background) {
    markFg_ = foreground & 0x0F;
    markBg_ = background & 0x0F;
}

void TBuffer::ProcessByte(std::uint8_t b) {
    if (b != 0) {
        WriteCell(b);
    }
}

void TBuffer::ProcessBytes(std::span<const std::uint8_t> bytes) {
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    while (p < end) {
        const std::uint8_t* run = p;
        const std::uint8_t* const rowEnd =
            run + std::min<std::ptrdiff_t>(end - run, cols_ - curCol_);
        while (p < rowEnd && !IsControlCell(*p)) {
            ++p;
        }
        if (p > run) {
            WriteRun(run, static_cast<int>(p - run));
        } else {
            ProcessByte(*p++);
        }
    }
}

void TBuffer::WriteRun(const std::uint8_t* cells, int count) {
    const int pageRow = curRow_ - viewTop_ + 1;
    cursorInRegion_ = pageRow >= regionTop_ && pageRow <= regionBottom_;
    const int i = CellIndex(curCol_, curRow_);
    const std::uint8_t color = CurrentColorByte();
    const std::uint8_t shown = (curAttr_ & AttrBlink) && blinkHidden_
                                   ? static_cast<std::uint8_t>(curBg_ << 4 | curBg_)
                                   : color;
    std::memcpy(&chars_[i], cells, static_cast<std::size_t>(count));
    std::memset(&shadow_[i], color, static_cast<std::size_t>(count));
    std::memset(&colors_[i], shown, static_cast<std::size_t>(count));
    std::memset(&attrs_[i], curAttr_, static_cast<std::size_t>(count));
    // The cells' rectangles share a row, so their union is one strip; a row below the client
    // area moves the caret instead, and only its last position counts.
    const PixelRect first = CellRect(curCol_, curRow_);
    curCol_ += count - 1;
    if (first.bottom > clientH_) {
        MoveCaretToCursor();
    } else {
        dirty_ = Unite(dirty_, {first.left, first.top, first.left + count * cellW_, first.bottom});
    }
    AdvanceCursor();
}

void TBuffer::AdvanceCursor() {
    if (curCol_ < cols_ - 1) {
        ++curCol_;
    } else {
        curCol_ = 0;
        LineFeed();
    }
}

void TBuffer::WriteCell(std::uint8_t b) {
    const int pageRow = curRow_ - viewTop_ + 1;
    cursorInRegion_ = pageRow >= regionTop_ && pageRow <= regionBottom_;
    switch (b) {
    case 8: // BS
        if (curCol_ > 0) {
            --curCol_;
            chars_[CellIndex(curCol_, curRow_)] = Blank;
            MarkCellDirty(curCol_, curRow_);
        }
        return;
    case 10:
        LineFeed();
        return;
    case 13:
        curCol_ = 0;
        MoveCaretToCursor();
        return;
    default:
        break;
    }
    const int i = CellIndex(curCol_, curRow_);
    const std::uint8_t color = CurrentColorByte();
    chars_[i] = b;
    shadow_[i] = color;
    // The shadow keeps the real colours; a blinking cell written while hidden shows its
    // background only until the blink pass restores it.
    colors_[i] = (curAttr_ & AttrBlink) && blinkHidden_
                     ? static_cast<std::uint8_t>(curBg_ << 4 | curBg_)
                     : color;
    attrs_[i] = curAttr_;
    MarkCellDirty(curCol_, curRow_);
    AdvanceCursor();
}

void TBuffer::LineFeed() {
    ++curRow_;
    if (curRow_ > highestRow_ && curRow_ != rows_) {
        highestRow_ = curRow_;
        if (scrollback_) {
            const int maximum = curRow_ < visRows_ ? curRow_ : curRow_ - visRows_ + 1;
            view_.SetScrollRange(ScrollBar::Vertical, 0, maximum);
        }
    }
    if (page_ - regionBottom_ + curRow_ == rows_) {
        // The cursor ran off the last buffer row.
        DropOldestRow();
        --curRow_;
        pendingDy_ -= cellH_;
    } else if (cursorInRegion_) {
        if (curRow_ >= viewTop_ + regionBottom_) {
            const int top = curRow_ - regionBottom_ + 1;
            pendingDy_ -= (top - viewTop_) * cellH_;
            viewTop_ = top;
        }
    } else if (curRow_ >= viewTop_ + visRows_) {
        // Below the region at the window's bottom edge the line feed does not move the cursor.
        --curRow_;
    }
    // The view follows the cursor vertically.
    if (curRow_ >= viewTop_ + visRows_) {
        const int top = curRow_ - visRows_ + 1;
        pendingDy_ -= (top - viewTop_) * cellH_;
        viewTop_ = top;
    } else if (curRow_ < viewTop_) {
        pendingDy_ += (viewTop_ - curRow_) * cellH_;
        viewTop_ = curRow_;
    }
    // A row that has just scrolled in at the page's bottom takes the current colours.
    if (curRow_ + 1 >= viewTop_ + regionBottom_ && pendingDy_ < 0) {
        const int first = CellIndex(0, curRow_);
        std::fill_n(colors_.begin() + first, cols_, CurrentColorByte());
        std::fill_n(shadow_.begin() + first, cols_, CurrentColorByte());
        std::fill_n(attrs_.begin() + first, cols_, curAttr_);
    }
}

void TBuffer::DropOldestRow() {
    for (auto* plane : {&chars_, &colors_, &shadow_, &attrs_}) {
        plane->DropFirstRow(cols_);
    }
    const int last = CellIndex(0, rows_ - 1);
    std::fill_n(chars_.begin() + last, cols_, Blank);
    std::fill_n(colors_.begin() + last, cols_, CurrentColorByte());
    std::fill_n(shadow_.begin() + last, cols_, CurrentColorByte());
    std::fill_n(attrs_.begin() + last, cols_, curAttr_);
    ShiftMarkUp();
}

void TBuffer::ShiftMarkUp() {
    if (!marking_ && !markMade_) {
        return;
    }
    // The mark belongs to the text, which has just moved up one row.
    --anchor_.row;
    --markStart_.row;
    --markEnd_.row;
    if (Linear(markEnd_, cols_) <= 0) {
        // Everything marked has left the buffer.
        ClearMark();
        return;
    }
    if (markStart_.row < 0) {
        markStart_ = {};
    }
    if (anchor_.row < 0) {
        anchor_ = {};
    }
}

void TBuffer::BlankCells(int first, int count, std::uint8_t color) {
    std::fill_n(chars_.begin() + first, count, Blank);
    std::fill_n(colors_.begin() + first, count, color);
    std::fill_n(shadow_.begin() + first, count, color);
    std::fill_n(attrs_.begin() + first, count, curAttr_);
}

PixelRect TBuffer::CellRect(int column, int row) const {
    const int x = (column - viewLeft_) * cellW_;
    const int y = (row - viewTop_) * cellH_;
    return {x, y, x + cellW_, y + cellH_};
}

void TBuffer::MarkCellDirty(int column, int row) {
    const PixelRect r = CellRect(column, row);
    if (r.bottom > clientH_) {
        MoveCaretToCursor();
    } else {
        dirty_ = Unite(dirty_, r);
    }
}

void TBuffer::MoveCaretToCursor() {
    if (caretShown_) {
        view_.MoveCaret((curCol_ - viewLeft_) * cellW_, (curRow_ - viewTop_) * cellH_);
    }
}

void TBuffer::ClearPage() {
    curCol_ = 0;
    if (2 * page_ + viewTop_ < rows_) {
        viewTop_ += page_;
    } else {
        // Near the end of the buffer: push a page's worth of rows into history instead.
        curRow_ = rows_ - 1;
        for (int i = 0; i < page_; ++i) {
            WriteCell(10);
        }
        viewTop_ = rows_ - page_;
    }
    curRow_ = viewTop_;
    BlankCells(CellIndex(0, viewTop_), page_ * cols_, CurrentColorByte());
    view_.InvalidateAll();
    view_.UpdateWindow();
}

void TBuffer::ClearAll() {
    curCol_ = curRow_ = 0;
    viewLeft_ = viewTop_ = 0;
    highestRow_ = page_ - 1;
    const auto color = static_cast<std::uint8_t>(defBg_ << 4 | defFg_);
    std::fill(chars_.begin(), chars_.end(), Blank);
    std::fill(colors_.begin(), colors_.end(), color);
    std::fill(shadow_.begin(), shadow_.end(), color);
    std::fill(attrs_.begin(), attrs_.end(), 0);
    curFg_ = defFg_;
    curBg_ = defBg_;
    // The marked text is gone; a mark left behind would paint a slab and copy blanks.
    ClearMark();
    view_.InvalidateAll();
    PostStatus();
}

void TBuffer::Refresh() {
    if (!dirty_.IsEmpty()) {
        view_.InvalidateRect(dirty_, false);
        dirty_ = {};
    }
    if (pendingDx_ != 0 || pendingDy_ != 0) {
        PixelRect clip{0, 0, clientW_, clientH_};
        if (!scrollback_) {
            // Only the scroll region moves.
            clip.top = std::max(clip.top, cellH_ * (regionTop_ - 1));
            clip.bottom = std::min(clip.bottom, cellH_ * regionBottom_);
        }
        view_.ScrollContent(pendingDx_, pendingDy_, clip);
        if (pendingDy_ < 0) {
            view_.InvalidateRect(
                {clip.left, clip.bottom + pendingDy_ - cellH_, clip.right, clip.bottom}, true);
        }
        if (pendingDy_ != 0) {
            view_.SetScrollPos(ScrollBar::Vertical, ScrollBarPosition(ScrollBar::Vertical));
        }
        if (pendingDx_ != 0) {
            view_.SetScrollPos(ScrollBar::Horizontal, ScrollBarPosition(ScrollBar::Horizontal));
        }
        pendingDx_ = pendingDy_ = 0;
        view_.UpdateWindow();
    }
    PostStatus();
}

int TBuffer::ScrollBarPosition(ScrollBar bar) const {
    if (bar == ScrollBar::Horizontal) {
        return viewLeft_;
    }
    if (scrollback_) {
        return viewTop_;
    }
    const int below = highestRow_ - viewTop_;
    return (page_ >= below ? page_ - below : below) - 1;
}

void TBuffer::SetScrollBarPositions() {
    view_.SetScrollPos(ScrollBar::Horizontal, ScrollBarPosition(ScrollBar::Horizontal));
    view_.SetScrollPos(ScrollBar::Vertical, ScrollBarPosition(ScrollBar::Vertical));
}

std::pair<std::uint32_t, std::uint32_t> TBuffer::StatusParams() const {
    std::uint32_t pageRow = 0;
    std::uint32_t column = 0;
    if (!scrollback_) {
        pageRow = static_cast<std::uint32_t>(curRow_ - viewTop_ + 1) & 0xFF;
        column = static_cast<std::uint32_t>(curCol_ + 1) & 0xFF;
    }
    const auto top = static_cast<std::uint32_t>(viewTop_ + 1) & 0xFFFF;
    const auto left = static_cast<std::uint32_t>(viewLeft_ + 1) & 0xFFFF;
    return {pageRow | column << 8, top | left << 16};
}

void TBuffer::PostStatus() {
    const auto [first, second] = StatusParams();
    view_.PostStatus(first, second);
}

void TBuffer::ScrollView(int columns, int rows) {
    int dr = 0;
    if (rows < 0) {
        int limit = 0;
        if (scrollback_) {
            limit = viewTop_;
        } else if (page_ > visRows_) {
            // Up only as far as keeps the highest row used on the page.
            limit = std::min(viewTop_, viewTop_ + page_ - highestRow_ - 1);
        }
        dr = -std::min(-rows, std::max(limit, 0));
    } else if (rows > 0 && (scrollback_ || page_ > visRows_)) {
        // Down until the highest row used sits at the window's bottom.
        const int limit = highestRow_ - visRows_ + 1 - viewTop_;
        dr = std::min(rows, std::max(limit, 0));
    }
    int dc = 0;
    if (columns < 0) {
        dc = -std::min(-columns, viewLeft_);
    } else if (columns > 0) {
        dc = std::min(columns, std::max(cols_ - visCols_ - viewLeft_, 0));
    }
    viewTop_ += dr;
    pendingDy_ -= dr * cellH_;
    viewLeft_ += dc;
    pendingDx_ -= dc * cellW_;
    SetScrollBarPositions();
    Refresh();
}

void TBuffer::ScrollToStart(ScrollBar bar) {
    if (bar == ScrollBar::Horizontal) {
        viewLeft_ = 0;
        view_.InvalidateAll();
    } else if (scrollback_) {
        viewTop_ = 0;
        view_.InvalidateAll();
    } else {
        const int up = std::min(viewTop_, viewTop_ + page_ - highestRow_ - 1);
        if (up > 0) {
            viewTop_ -= up;
            pendingDy_ += up * cellH_;
        }
    }
    SetScrollBarPositions();
    PostStatus();
}

void TBuffer::ScrollToEnd(ScrollBar bar) {
    if (bar == ScrollBar::Horizontal) {
        viewLeft_ = std::max(cols_ - visCols_, 0);
        view_.InvalidateAll();
    } else if (scrollback_) {
        // The last window-full, so that the highest row used is the bottom row shown.
        viewTop_ = std::max(highestRow_ - visRows_ + 1, 0);
        view_.InvalidateAll();
    } else {
        const int down = highestRow_ - visRows_ + 1 - viewTop_;
        if (down > 0) {
            viewTop_ += down;
            pendingDy_ -= down * cellH_;
        }
    }
    SetScrollBarPositions();
    PostStatus();
}

void TBuffer::SaveCursorAndView() {
    saved_ = {curCol_, curRow_, viewLeft_, viewTop_};
}

void TBuffer::RestoreCursorAndView() {
    curCol_ = saved_.column;
    curRow_ = saved_.row;
    viewLeft_ = saved_.left;
    viewTop_ = saved_.top;
}

void TBuffer::SetViewTop(int row) {
    viewTop_ = std::clamp(row, 0, rows_ - 1);
}

void TBuffer::SetViewLeft(int column) {
    viewLeft_ = std::clamp(column, 0, cols_ - 1);
}

void TBuffer::SetCellSize(int width, int height) {
    cellW_ = std::max(width, 0);
    cellH_ = std::max(height, 0);
    regionTop_ = 1;
    regionBottom_ = page_;
    RecomputeVisible();
}

void TBuffer::SetClientSize(int width, int height) {
    clientW_ = std::max(width, 0);
    clientH_ = std::max(height, 0);
    RecomputeVisible();
}

void TBuffer::RecomputeVisible() {
    prevVisRows_ = visRows_;
    prevVisCols_ = visCols_;
    // At least one row and column: with none, a minimised window would push the view past the
    // cursor on every line feed and the cursor would stop advancing.
    visRows_ = std::max(cellH_ > 0 ? clientH_ / cellH_ : 0, 1);
    visCols_ = std::max(cellW_ > 0 ? clientW_ / cellW_ : 0, 1);
}

CellPos TBuffer::CellAt(int x, int y) const {
    const int column = PixelToCell(x, cellW_) + viewLeft_;
    const int row = PixelToCell(y, cellH_) + viewTop_;
    return {std::clamp(column, 0, cols_ - 1), std::clamp(row, 0, rows_ - 1)};
}

void TBuffer::ClearMark() {
    if (markTimer_) {
        view_.StopMarkTimer();
    }
    marking_ = markMade_ = dragOutside_ = false;
    anchor_ = markStart_ = markEnd_ = {};
    markTimer_ = false;
}

void TBuffer::BeginMark(int x, int y, bool shift) {
    if (shift) {
        marking_ = true;
        markMade_ = false;
        ExtendMark(x, y);
    } else {
        ClearMark();
        marking_ = true;
        anchor_ = markStart_ = markEnd_ = CellAt(x, y);
        if (!persistentMark_) {
            ExtendMark(x, y);
        }
    }
    if (!markTimer_) {
        markTimer_ = view_.StartMarkTimer(MarkTimerMs);
    }
    if (markTimer_) {
        view_.CaptureMouse();
    }
}

void TBuffer::MarkMove(int x, int y) {
    if (!marking_) {
        return;
    }
    if (y < 0 || y > clientH_) {
        dragOutside_ = true;
    } else {
        dragOutside_ = false;
        ExtendMark(x, y);
    }
}

void TBuffer::ExtendMark(int x, int y) {
    const CellPos cell = CellAt(std::clamp(x, 0, clientW_), std::clamp(y, 0, clientH_));
    const int at = Linear(cell, cols_);
    const int anchor = Linear(anchor_, cols_);
    if (at > anchor) {
        markStart_ = anchor_;
        markEnd_ = cell;
    } else if (at < anchor) {
        markStart_ = cell;
        markEnd_ = anchor_;
    } else {
        // Back on the anchor: nothing is marked, however far the pointer went before.
        markStart_ = markEnd_ = anchor_;
    }
    view_.InvalidateAll();
}

void TBuffer::EndMark() {
    view_.ReleaseMouse();
    if (markTimer_) {
        view_.StopMarkTimer();
        markTimer_ = false;
    }
    dragOutside_ = false;
    marking_ = false;
    markMade_ = true;
}

void TBuffer::MarkTimerTick() {
    if (!dragOutside_) {
        return;
    }
    PixelPoint p = view_.PointerPosition();
    if (p.y < 0) {
        ScrollView(0, p.y < -20 ? -3 : -1);
        p.y = 0;
    } else if (p.y > clientH_) {
        ScrollView(0, p.y - clientH_ <= 20 ? 1 : 3);
        p.y = clientH_;
    }
    ExtendMark(p.x, p.y);
}

bool TBuffer::IsMarked(int column, int row) const {
    const int at = row * cols_ + column;
    return at >= Linear(markStart_, cols_) && at < Linear(markEnd_, cols_);
}

bool TBuffer::MarkedText(std::string& text) const {
    text.clear();
    if (!markMade_) {
        return false;
    }
    try {
        text.reserve(static_cast<std::size_t>(Linear(markEnd_, cols_) - Linear(markStart_, cols_)) +
                     2 * static_cast<std::size_t>(markEnd_.row - markStart_.row + 1));
        for (int row = markStart_.row; row <= markEnd_.row; ++row) {
            const int from = row == markStart_.row ? markStart_.column : 0;
            int to = row == markEnd_.row ? markEnd_.column : cols_;
            // The blanks that pad a row to the buffer's width are not part of the text.
            while (to > from && chars_[CellIndex(to - 1, row)] == ' ') {
                --to;
            }
            if (to > from) {
                const auto* first = chars_.data() + CellIndex(from, row);
                text.append(reinterpret_cast<const char*>(first), to - from);
            }
            text += "\r\n";
        }
    } catch (const std::bad_alloc&) {
        text.clear();
        return false;
    }
    return true;
}

bool TBuffer::CopyMark() {
    if (!markMade_) {
        return false;
    }
    std::string text;
    if (!MarkedText(text) || !view_.SetClipboardText(text)) {
        view_.ReportError(TermErrClipboard);
        return false;
    }
    return true;
}

int TBuffer::BlinkPass() {
    PixelRect changed;
    int count = 0;
    const int lastRow = std::min(viewTop_ + visRows_, rows_);
    for (int row = viewTop_; row < lastRow; ++row) {
        for (int column = 0; column < cols_; ++column) {
            const int i = CellIndex(column, row);
            if (!(attrs_[i] & AttrBlink)) {
                continue;
            }
            const std::uint8_t bg = colors_[i] >> 4;
            colors_[i] = blinkHidden_ ? shadow_[i] : static_cast<std::uint8_t>(bg << 4 | bg);
            changed = Unite(changed, CellRect(column, row));
            ++count;
        }
    }
    blinkHidden_ = !blinkHidden_;
    if (!changed.IsEmpty()) {
        view_.InvalidateRect(changed, false);
    }
    return count;
}

} // namespace pellwick
