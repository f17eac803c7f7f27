// The terminal's screen buffer: a grid of character cells taller than the window, so that lines
// scrolled off the top stay available as history. It holds the cursor, the colours, the view
// (which part of the grid the window shows), the scroll region and the mouse mark, and collects
// what the window must repaint or scroll until Refresh hands it over.
//
// Units: "rows" and "columns" are buffer coordinates counted from 0 unless called page rows
// (counted from 1 at the view top row); everything named x, y, width, height or pending scroll
// is in pixels of the window's client area. Used on the GUI thread only.
#pragma once

#include "terminal/ITerminalView.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace pellwick {

// The engine's bad-argument error number ("Bad argument passed to function").
inline constexpr int ErrBadArgument = -1002;
// The code MsgTermError carries when the marked text could not be put on the clipboard.
inline constexpr int TermErrClipboard = -8;

struct CellPos {
    int column = 0;
    int row = 0;
    bool operator==(const CellPos&) const = default;
};

class TBuffer {
public:
    static constexpr int MaxColumns = 133;
    static constexpr int MaxCells = 65535;
    static constexpr int DefaultPageHeight = 25;
    static constexpr int MarkTimerMs = 50;
    static constexpr std::uint8_t AttrBlink = 1;
    using Palette = std::array<std::uint32_t, 16>; // 0x00RRGGBB per entry

    // Throws std::runtime_error("Buffer allocation failed") when the size is refused or the
    // planes cannot be allocated.
    TBuffer(ITerminalView& view, int columns, int rows, int pageHeight = DefaultPageHeight);
    TBuffer(const TBuffer&) = delete;
    TBuffer& operator=(const TBuffer&) = delete;

    // Reallocates and blanks everything. Returns 0, or ErrBadArgument (buffer unchanged) when
    // columns is outside 1..133, the page is empty, rows < pageHeight or rows x columns > 65535.
    int ResizeBuffer(int rows, int columns, int pageHeight);

    // Palette indexes (0..15; higher bits are dropped).
    void SetDefaultColors(std::uint8_t foreground, std::uint8_t background);
    void SetMarkColors(std::uint8_t foreground, std::uint8_t background);
    void SetCurrentAttribute(std::uint8_t attribute) { curAttr_ = attribute; }
    void SetPalette(const Palette& palette) { palette_ = palette; }

    // One received byte: NUL is dropped, everything else goes to WriteCell.
    void ProcessByte(std::uint8_t b);
    // The same as ProcessByte for each byte in turn, with runs of plain cells on one row
    // written at once.
    void ProcessBytes(std::span<const std::uint8_t> bytes);
    // Interprets BS, LF and CR; every other byte is stored as a cell.
    void WriteCell(std::uint8_t b);
    // Starts a fresh page below the current one (the old one stays as history).
    void ClearPage();
    // Blanks the whole buffer in the default colours and homes cursor and view.
    void ClearAll();
    // Hands the collected repaint and scroll to the window and posts the status notification.
    void Refresh();

    // Moves the view by whole columns and rows (negative = left or up), within the limits of
    // the current mode, then updates the scroll bars and refreshes.
    void ScrollView(int columns, int rows);
    void ScrollToStart(ScrollBar bar);
    void ScrollToEnd(ScrollBar bar);

    void SetScrollback(bool on) { scrollback_ = on; }
    bool Scrollback() const { return scrollback_; }
    // Cursor and view kept while the user browses history.
    void SaveCursorAndView();
    void RestoreCursorAndView();
    // The window moves the view when its size changes; both are clamped into the buffer.
    void SetViewTop(int row);
    void SetViewLeft(int column);

    // Font metrics (pixels). Resets the scroll region to the whole page.
    void SetCellSize(int width, int height);
    // The client area (pixels); recomputes the visible rows and columns.
    void SetClientSize(int width, int height);
    void SetCaretShown(bool shown) { caretShown_ = shown; }
    // With PersistentMark on, a new click leaves the old highlight on screen until the next
    // repaint instead of repainting at once.
    void SetPersistentMark(bool on) { persistentMark_ = on; }

    // Status notification parameters: first = page row + 256 x column (both counted from 1,
    // both 0 in scrollback mode), second = (view top row + 1) + 65536 x (view left column + 1).
    std::pair<std::uint32_t, std::uint32_t> StatusParams() const;
    void PostStatus();
    // The scroll-bar position the buffer reports for this bar.
    int ScrollBarPosition(ScrollBar bar) const;

    // Marking with the left mouse button; x, y are client pixels.
    void BeginMark(int x, int y, bool shift);
    void MarkMove(int x, int y);
    void ExtendMark(int x, int y);
    void EndMark();
    // The window's timer tick: while the pointer is outside during a drag, scroll towards it.
    void MarkTimerTick();
    void ClearMark();
    // Puts the marked text on the clipboard, each row without its trailing blanks and ended
    // by CR LF. False when there is no
    // finished mark or the copy failed (the window then got MsgTermError -8).
    bool CopyMark();
    // The text CopyMark would copy; false (text empty) without a finished mark or memory.
    bool MarkedText(std::string& text) const;
    bool IsMarked(int column, int row) const;
    // The cell under a client pixel; a coordinate on a cell boundary belongs to the cell
    // before it.
    CellPos CellAt(int x, int y) const;

    // One blink step over the visible rows: hides or restores blinking cells and repaints
    // them. Returns the number of cells changed.
    int BlinkPass();

    // Planes, row-major, Rows() x Columns() bytes each.
    std::span<const std::uint8_t> Characters() const { return chars_; }
    std::span<const std::uint8_t> Colors() const { return colors_; }
    std::span<const std::uint8_t> ShadowColors() const { return shadow_; }
    std::span<const std::uint8_t> Attributes() const { return attrs_; }
    int CellIndex(int column, int row) const { return row * cols_ + column; }
    std::uint8_t CharAt(int column, int row) const { return chars_[CellIndex(column, row)]; }
    std::uint8_t ColorAt(int column, int row) const { return colors_[CellIndex(column, row)]; }
    const Palette& Colours() const { return palette_; }

    int Rows() const { return rows_; }
    int Columns() const { return cols_; }
    int PageHeight() const { return page_; }
    int CellWidth() const { return cellW_; }
    int CellHeight() const { return cellH_; }
    int ClientWidth() const { return clientW_; }
    int ClientHeight() const { return clientH_; }
    int VisibleRows() const { return visRows_; }
    int VisibleColumns() const { return visCols_; }
    int PreviousVisibleRows() const { return prevVisRows_; }
    int PreviousVisibleColumns() const { return prevVisCols_; }
    int CursorColumn() const { return curCol_; }
    int CursorRow() const { return curRow_; }
    int HighestRowUsed() const { return highestRow_; }
    int ViewLeft() const { return viewLeft_; }
    int ViewTop() const { return viewTop_; }
    int RegionTop() const { return regionTop_; }
    int RegionBottom() const { return regionBottom_; }
    std::uint8_t CurrentForeground() const { return curFg_; }
    std::uint8_t CurrentBackground() const { return curBg_; }
    std::uint8_t DefaultForeground() const { return defFg_; }
    std::uint8_t DefaultBackground() const { return defBg_; }
    std::uint8_t MarkForeground() const { return markFg_; }
    std::uint8_t MarkBackground() const { return markBg_; }
    std::uint8_t CurrentAttribute() const { return curAttr_; }
    bool BlinkHidden() const { return blinkHidden_; }
    int PendingScrollX() const { return pendingDx_; }
    int PendingScrollY() const { return pendingDy_; }
    PixelRect DirtyRect() const { return dirty_; }
    bool Marking() const { return marking_; }
    bool MarkMade() const { return markMade_; }
    bool DragOutside() const { return dragOutside_; }
    CellPos MarkAnchor() const { return anchor_; }
    CellPos MarkStart() const { return markStart_; }
    CellPos MarkEnd() const { return markEnd_; }

private:
    // One plane of R x C bytes, row-major. Dropping the oldest row moves the plane's start
    // forward into spare rows kept behind it; only when those are used up are the bytes moved
    // back, so a line feed at the buffer's end costs one row instead of the whole plane.
    class Plane {
    public:
        static constexpr int SpareRows = 256;
        Plane() = default;
        Plane(std::size_t cells, int columns, std::uint8_t value);
        void swap(Plane& other) noexcept;
        std::uint8_t* data() { return store_.data() + base_; }
        const std::uint8_t* data() const { return store_.data() + base_; }
        std::uint8_t* begin() { return data(); }
        std::uint8_t* end() { return data() + cells_; }
        std::uint8_t& operator[](std::size_t i) { return store_[base_ + i]; }
        std::uint8_t operator[](std::size_t i) const { return store_[base_ + i]; }
        operator std::span<const std::uint8_t>() const { return {data(), cells_}; }
        // Drops the first row; the new last row holds whatever was there (the caller fills it).
        void DropFirstRow(int columns);

    private:
        std::vector<std::uint8_t> store_;
        std::size_t base_ = 0;
        std::size_t cells_ = 0;
    };

    std::uint8_t CurrentColorByte() const {
        return static_cast<std::uint8_t>(curBg_ << 4 | curFg_);
    }
    void LineFeed();
    // Writes `count` plain cells (no BS, LF, CR or NUL) starting at the cursor; they must fit
    // on the cursor's row.
    void WriteRun(const std::uint8_t* cells, int count);
    void AdvanceCursor();
    void DropOldestRow();
    // Moves the mark with the text when the oldest row is dropped.
    void ShiftMarkUp();
    void BlankCells(int first, int count, std::uint8_t color);
    void MarkCellDirty(int column, int row);
    PixelRect CellRect(int column, int row) const;
    void MoveCaretToCursor();
    void SetScrollBarPositions();
    void RecomputeVisible();

    ITerminalView& view_;

    Plane chars_;
    Plane colors_;
    Plane shadow_;
    Plane attrs_;

    int rows_ = 0;
    int cols_ = 0;
    int page_ = 0;
    int cellW_ = 0; // pixels
    int cellH_ = 0; // pixels
    bool scrollback_ = false;

    int curCol_ = 0;
    int curRow_ = 0;
    int highestRow_ = 0; // largest cursor row reached
    int viewLeft_ = 0;   // first buffer column at the window's left edge
    int viewTop_ = 0;    // buffer row at the window's top; also the page's first row
    bool cursorInRegion_ = false;

    struct SavedView {
        int column = 0;
        int row = 0;
        int left = 0;
        int top = 0;
    } saved_;

    std::uint8_t curFg_ = 7;
    std::uint8_t curBg_ = 0;
    std::uint8_t defFg_ = 7;
    std::uint8_t defBg_ = 0;
    Palette palette_{};
    std::uint8_t curAttr_ = 0;
    bool blinkHidden_ = false;

    int visRows_ = 1;
    int visCols_ = 1;
    int clientW_ = 0; // pixels
    int clientH_ = 0; // pixels
    int prevVisRows_ = 0;
    int prevVisCols_ = 0;
    int regionTop_ = 1;    // page rows, from 1
    int regionBottom_ = 0; // page rows, from 1

    int pendingDy_ = 0; // pixels still to scroll, negative = content moves up
    int pendingDx_ = 0; // pixels still to scroll, negative = content moves left
    PixelRect dirty_;
    bool caretShown_ = false;
    bool persistentMark_ = false;

    bool marking_ = false;
    bool markMade_ = false;
    bool dragOutside_ = false;
    CellPos anchor_;
    CellPos markStart_; // first marked cell
    CellPos markEnd_;   // first cell after the mark
    bool markTimer_ = false;

    std::uint8_t markFg_ = 0;
    std::uint8_t markBg_ = 7;
};

} // namespace pellwick
