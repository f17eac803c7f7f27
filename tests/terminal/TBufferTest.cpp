#include "terminal/TBuffer.h"

#include "FakeTerminalView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <vector>

namespace pellwick {
namespace {

constexpr int CellW = 8;
constexpr int CellH = 16;

// An 80 x 200 buffer with a 25-row page, shown whole-width, `visibleRows` rows high.
class TBufferFixture : public ::testing::Test {
protected:
    void Show(int visibleRows, int visibleColumns = 80) {
        buf.SetCellSize(CellW, CellH);
        buf.SetClientSize(visibleColumns * CellW, visibleRows * CellH);
    }
    void SetUp() override { Show(25); }
    void Write(const std::string& s) {
        for (char c : s) {
            buf.ProcessByte(static_cast<std::uint8_t>(c));
        }
    }
    // The cursor as {column, row}.
    CellPos Cursor() const { return {buf.CursorColumn(), buf.CursorRow()}; }
    std::string Row(int row, int from = 0, int count = 80) const {
        std::string s;
        for (int c = from; c < from + count; ++c) {
            s += static_cast<char>(buf.CharAt(c, row));
        }
        return s;
    }
    // Puts the cursor on `row` by line feeds, writing the row number's last digit on each row.
    void FillRows(int rows) {
        for (int r = 0; r < rows; ++r) {
            Write(std::string(1, static_cast<char>('0' + r % 10)) + "\r\n");
        }
    }

    test::FakeTerminalView view;
    TBuffer buf{view, 80, 200};
};

using TBufferWriteTest = TBufferFixture;

TEST_F(TBufferWriteTest, EightyBytesFillTheRowAndWrapToColumnZeroOfTheNext) {
    Write(std::string(79, 'a') + "z");
    EXPECT_EQ(buf.CharAt(79, 0), 'z');
    EXPECT_EQ(Cursor(), (CellPos{0, 1}));
    EXPECT_EQ(buf.CharAt(0, 1), ' ');
}

TEST_F(TBufferWriteTest, BackspaceBlanksThePreviousCellKeepingItsColoursAndStopsAtColumnZero) {
    buf.SetDefaultColors(2, 4);
    Write("xy");
    buf.SetDefaultColors(7, 0);
    Write("\b");
    EXPECT_EQ(Row(0, 0, 2), "x ");
    EXPECT_EQ(buf.ColorAt(1, 0), 0x42);
    EXPECT_EQ(buf.CursorColumn(), 1);
    Write("\b\b\b");
    EXPECT_EQ(buf.CursorColumn(), 0);
    EXPECT_EQ(Row(0, 0, 2), "  ");
    EXPECT_EQ(buf.ColorAt(0, 0), 0x42);
}

TEST_F(TBufferWriteTest, NulByteChangesNothing) {
    Write("ab");
    const std::vector<std::uint8_t> chars(buf.Characters().begin(), buf.Characters().end());
    const std::vector<std::uint8_t> colors(buf.Colors().begin(), buf.Colors().end());
    const PixelRect dirty = buf.DirtyRect();
    buf.ProcessByte(0);
    EXPECT_TRUE(std::equal(chars.begin(), chars.end(), buf.Characters().begin()));
    EXPECT_TRUE(std::equal(colors.begin(), colors.end(), buf.Colors().begin()));
    EXPECT_EQ(buf.DirtyRect(), dirty);
    EXPECT_EQ(buf.CursorColumn(), 2);
}

TEST_F(TBufferWriteTest, EscTabBelAndFormFeedAreStoredAsOneCellEach) {
    Write("\x1b\t\a\f!");
    EXPECT_EQ(Row(0, 0, 5), "\x1b\t\a\f!");
    EXPECT_EQ(Cursor(), (CellPos{5, 0}));
}

TEST_F(TBufferWriteTest, CellsCollectIntoOneDirtyRectThatRefreshPaintsWithoutErase) {
    buf.SetDefaultColors(10, 1);
    Write("ab\r\nc");
    EXPECT_EQ(buf.ColorAt(0, 0), 0x1A);
    EXPECT_EQ(buf.ShadowColors()[0], 0x1A);
    EXPECT_EQ(buf.DirtyRect(), (PixelRect{0, 0, 2 * CellW, 2 * CellH}));
    buf.Refresh();
    ASSERT_EQ(view.invalidations.size(), 1u);
    EXPECT_EQ(view.invalidations[0].rect, (PixelRect{0, 0, 2 * CellW, 2 * CellH}));
    EXPECT_FALSE(view.invalidations[0].erase);
    EXPECT_TRUE(buf.DirtyRect().IsEmpty());
    EXPECT_TRUE(view.scrolls.empty());
    EXPECT_EQ(view.statuses.size(), 1u);
}

TEST_F(TBufferWriteTest, CellBelowTheClientAreaOnlyMovesTheCaret) {
    Show(2);
    buf.SetCaretShown(true);
    FillRows(1);
    view.caret.reset();
    buf.ProcessByte('q'); // row 1 is the last visible row: painted
    EXPECT_FALSE(view.caret.has_value());
    buf.SetClientSize(80 * CellW, CellH + 3); // row 1 now reaches below the client area
    buf.ProcessByte('r');
    ASSERT_TRUE(view.caret.has_value());
    EXPECT_EQ(*view.caret, (PixelPoint{CellW, CellH}));
    EXPECT_EQ(buf.DirtyRect(), (PixelRect{0, 0, CellW, 2 * CellH})); // without the 'r'
}

using TBufferLineFeedTest = TBufferFixture;

TEST_F(TBufferLineFeedTest, BufferKeepsTwoHundredRowsThenDropsTheOldest) {
    Write("A\r\nB");
    for (int i = 1; i < 199; ++i) {
        Write("\n");
    }
    EXPECT_EQ(buf.CursorRow(), 199);
    EXPECT_EQ(buf.HighestRowUsed(), 199);
    EXPECT_EQ(buf.CharAt(0, 0), 'A');
    buf.Refresh();
    buf.SetDefaultColors(3, 5);
    Write("\n");
    EXPECT_EQ(buf.CursorRow(), 199);
    EXPECT_EQ(buf.HighestRowUsed(), 199);
    EXPECT_EQ(buf.CharAt(0, 0), 'B');
    EXPECT_EQ(buf.PendingScrollY(), -CellH);
    EXPECT_EQ(Row(199), std::string(80, ' '));
    EXPECT_EQ(buf.ColorAt(0, 199), 0x53);
    EXPECT_EQ(buf.ViewTop(), 175);
}

TEST_F(TBufferLineFeedTest, HistoryHoldsTheNewestRowsAfterManyMoreLinesThanTheBufferHas) {
    // Far more lines than rows: dropped rows pass the plane's spare rows several times.
    constexpr int Lines = 1500;
    for (int i = 0; i < Lines; ++i) {
        buf.SetDefaultColors(static_cast<std::uint8_t>(i % 16), 0);
        Write("line " + std::to_string(i) + "\r\n");
    }
    EXPECT_EQ(buf.CursorRow(), 199);
    for (int row = 0; row < 199; ++row) {
        const int line = Lines - 199 + row;
        const std::string text = "line " + std::to_string(line);
        EXPECT_EQ(Row(row, 0, static_cast<int>(text.size())), text) << "row " << row;
        EXPECT_EQ(buf.ColorAt(0, row) & 15, line % 16) << "row " << row;
        EXPECT_EQ(buf.Characters()[buf.CellIndex(0, row)], 'l');
    }
    EXPECT_EQ(Row(199), std::string(80, ' '));
}

TEST_F(TBufferLineFeedTest, PageFollowsTheCursorAndNewBottomRowTakesCurrentColours) {
    FillRows(24);
    EXPECT_EQ(buf.ViewTop(), 0);
    EXPECT_EQ(buf.ColorAt(0, 25), 0); // beyond the first page: not yet coloured
    buf.SetDefaultColors(6, 2);
    Write("\n");
    EXPECT_EQ(buf.CursorRow(), 25);
    EXPECT_EQ(buf.ViewTop(), 1);
    EXPECT_EQ(buf.PendingScrollY(), -CellH);
    EXPECT_EQ(buf.ColorAt(79, 25), 0x26);
    EXPECT_EQ(buf.CharAt(0, 23), '3');
}

TEST_F(TBufferLineFeedTest, ViewFollowsCursorInASmallWindow) {
    Show(10);
    FillRows(12);
    EXPECT_EQ(buf.CursorRow(), 12);
    EXPECT_EQ(buf.ViewTop(), 3);
    EXPECT_EQ(buf.PendingScrollY(), -3 * CellH);
}

using TBufferResizeTest = TBufferFixture;

TEST_F(TBufferResizeTest, RefusedSizesReturnBadArgumentAndKeepTheContent) {
    Write("keep\r\nme");
    for (auto [rows, cols, page] : std::vector<std::tuple<int, int, int>>{
             {200, 134, 25}, {24, 80, 25}, {600, 110, 25}, {200, 0, 25}, {0, 80, 0}}) {
        EXPECT_EQ(buf.ResizeBuffer(rows, cols, page), ErrBadArgument)
            << rows << "x" << cols << " page " << page;
    }
    EXPECT_EQ(buf.Rows(), 200);
    EXPECT_EQ(buf.Columns(), 80);
    EXPECT_EQ(Row(0, 0, 4), "keep");
    EXPECT_EQ(Cursor(), (CellPos{2, 1}));
}

TEST_F(TBufferResizeTest, ResizeBlanksAndColoursOnlyTheFirstPage) {
    buf.SetDefaultColors(7, 3);
    Write("x\r\n\n\n");
    ASSERT_EQ(buf.ResizeBuffer(65535 / 133, 133, 10), 0);
    EXPECT_EQ(buf.Rows(), 492);
    EXPECT_EQ(buf.CharAt(0, 0), ' ');
    EXPECT_EQ(buf.ColorAt(132, 9), 0x33);
    EXPECT_EQ(buf.ColorAt(0, 10), 0);
    EXPECT_EQ(buf.CursorRow(), 0);
    EXPECT_EQ(buf.HighestRowUsed(), 9);
    EXPECT_EQ(buf.RegionBottom(), 10);
    EXPECT_TRUE(buf.DirtyRect().IsEmpty());
}

TEST_F(TBufferResizeTest, CursorAndViewSavedBeforeAResizeComeBackHomed) {
    buf.SetViewTop(150);
    Write("\r\n\n\n  ");
    buf.SaveCursorAndView();
    ASSERT_EQ(buf.ResizeBuffer(30, 20, 10), 0);
    buf.RestoreCursorAndView();
    EXPECT_EQ(buf.ViewTop(), 0);
    EXPECT_EQ(Cursor(), (CellPos{0, 0}));
    Write("ok"); // written inside the new buffer
    EXPECT_EQ(Row(0, 0, 2), "ok");
}

TEST(TBufferCreateTest, RefusedSizeAtCreationThrowsBufferAllocationFailed) {
    test::FakeTerminalView view;
    try {
        TBuffer b(view, 134, 200);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Buffer allocation failed");
    }
}

using TBufferClearTest = TBufferFixture;

TEST_F(TBufferClearTest, ClearPageWithRoomStartsANewPageBelowTheOldOne) {
    Write("old\r\nxy");
    buf.ClearPage();
    EXPECT_EQ(buf.ViewTop(), 25);
    EXPECT_EQ(Cursor(), (CellPos{0, 25}));
    EXPECT_EQ(Row(0, 0, 3), "old");
    EXPECT_EQ(view.invalidateAllCount, 1);
    EXPECT_EQ(view.updateCount, 1);
}

TEST_F(TBufferClearTest, ClearPageNearTheEndPushesAPageIntoHistory) {
    FillRows(180); // view top 156: 2 x 25 + 156 >= 200
    buf.SetDefaultColors(1, 6);
    buf.ClearPage();
    EXPECT_EQ(buf.ViewTop(), 175);
    EXPECT_EQ(Cursor(), (CellPos{0, 175}));
    // Rows moved up by a page: what was row 179 ('9') is now row 154.
    EXPECT_EQ(buf.CharAt(0, 154), '9');
    EXPECT_EQ(buf.CharAt(0, 155), ' ');
    for (int r = 175; r < 200; ++r) {
        ASSERT_EQ(Row(r), std::string(80, ' ')) << r;
        ASSERT_EQ(buf.ColorAt(40, r), 0x61) << r;
    }
}

TEST_F(TBufferClearTest, ClearAllBlanksInDefaultColoursAndHomes) {
    buf.SetDefaultColors(14, 4);
    FillRows(30);
    view.statuses.clear();
    buf.ClearAll();
    EXPECT_EQ(buf.CursorRow(), 0);
    EXPECT_EQ(buf.ViewTop(), 0);
    EXPECT_EQ(buf.HighestRowUsed(), 24);
    EXPECT_EQ(buf.CharAt(0, 3), ' ');
    EXPECT_EQ(buf.ColorAt(79, 199), 0x4E);
    EXPECT_EQ(buf.ShadowColors()[0], 0x4E);
    EXPECT_EQ(view.statuses.size(), 1u);
}

using TBufferRefreshTest = TBufferFixture;

TEST_F(TBufferRefreshTest, PendingScrollMovesTheRegionAndRepaintsTheUncoveredStrip) {
    FillRows(26);
    view.invalidations.clear();
    buf.Refresh();
    ASSERT_EQ(view.scrolls.size(), 1u);
    EXPECT_EQ(view.scrolls[0].dy, -2 * CellH);
    EXPECT_EQ(view.scrolls[0].clip, (PixelRect{0, 0, 80 * CellW, 25 * CellH}));
    ASSERT_EQ(view.invalidations.size(), 2u);
    EXPECT_EQ(view.invalidations[1].rect,
              (PixelRect{0, 25 * CellH - 3 * CellH, 80 * CellW, 25 * CellH}));
    EXPECT_TRUE(view.invalidations[1].erase);
    EXPECT_EQ(view.vPos, 0); // page 25 - (highest 26 - top 2) - 1
    EXPECT_EQ(buf.PendingScrollY(), 0);
    EXPECT_EQ(view.updateCount, 1);
}

TEST_F(TBufferRefreshTest, StatusCarriesPageRowColumnAndViewOrigin) {
    Show(10, 40);
    FillRows(12);
    Write("abc");
    buf.ScrollView(5, 0);
    ASSERT_FALSE(view.statuses.empty());
    // Cursor row 12, view top 3 -> page row 10; column 3 -> 4; view left 5.
    EXPECT_EQ(view.statuses.back().first, 10u + 256u * 4u);
    EXPECT_EQ(view.statuses.back().second, 4u + 65536u * 6u);
    buf.SetScrollback(true);
    buf.Refresh();
    EXPECT_EQ(view.statuses.back().first, 0u);
    EXPECT_EQ(view.statuses.back().second, 4u + 65536u * 6u);
}

using TBufferScrollTest = TBufferFixture;

TEST_F(TBufferScrollTest, ScrollbackScrollsWithinHistoryOnly) {
    Show(10);
    FillRows(40);
    buf.Refresh();
    buf.SetScrollback(true);
    buf.ScrollView(0, -100);
    EXPECT_EQ(buf.ViewTop(), 0);
    EXPECT_EQ(view.scrolls.back().dy, 31 * CellH);
    EXPECT_EQ(view.vPos, 0);
    buf.ScrollView(0, 100);
    EXPECT_EQ(buf.ViewTop(), 31); // highest 40 is the bottom row shown
    buf.ScrollToStart(ScrollBar::Vertical);
    EXPECT_EQ(buf.ViewTop(), 0);
    buf.ScrollToEnd(ScrollBar::Vertical);
    EXPECT_EQ(buf.ViewTop(), 31);
}

TEST_F(TBufferScrollTest, OutsideScrollbackTheViewMovesOnlyWithinThePage) {
    FillRows(30); // top 6, highest 30: the full page is shown
    buf.ScrollView(0, -1);
    buf.ScrollView(0, 1);
    EXPECT_EQ(buf.ViewTop(), 6);

    Show(10);
    buf.ClearAll();
    FillRows(3); // page 0..24, highest 24, the window shows rows 0..9
    buf.ScrollView(0, 100);
    EXPECT_EQ(buf.ViewTop(), 15);
    buf.ScrollView(0, -3);
    EXPECT_EQ(buf.ViewTop(), 12);
    buf.ScrollView(0, -100);
    EXPECT_EQ(buf.ViewTop(), 0);
    FillRows(40); // cursor 43, highest 43, top 34
    buf.ScrollView(0, -100);
    EXPECT_EQ(buf.ViewTop(), 19); // highest row stays on the page
}

TEST_F(TBufferScrollTest, ColumnsScrollBetweenZeroAndTheLastFullWindow) {
    Show(25, 30);
    buf.ScrollView(100, 0);
    EXPECT_EQ(buf.ViewLeft(), 50);
    EXPECT_EQ(buf.PendingScrollX(), 0);
    EXPECT_EQ(view.scrolls.back().dx, -50 * CellW);
    EXPECT_EQ(view.hPos, 50);
    buf.ScrollView(-20, 0);
    EXPECT_EQ(buf.ViewLeft(), 30);
    buf.ScrollToStart(ScrollBar::Horizontal);
    EXPECT_EQ(buf.ViewLeft(), 0);
    buf.ScrollToEnd(ScrollBar::Horizontal);
    EXPECT_EQ(buf.ViewLeft(), 50);
    EXPECT_EQ(view.invalidateAllCount, 2);
}

using TBufferMarkTest = TBufferFixture;

TEST_F(TBufferMarkTest, PixelOnACellBoundaryBelongsToTheCellBefore) {
    EXPECT_EQ(buf.CellAt(2 * CellW, 0), (CellPos{1, 0}));
    EXPECT_EQ(buf.CellAt(2 * CellW + 1, CellH + 1), (CellPos{2, 1}));
    EXPECT_EQ(buf.CellAt(-5, 2 * CellH), (CellPos{0, 1}));
    EXPECT_EQ(buf.CellAt(0, 0), (CellPos{0, 0}));
}

TEST_F(TBufferMarkTest, DragMarksFromAnchorUpToThePointerCellInReadingOrder) {
    Write("abcdefgh\r\nijklmnop\r\nqrstuvwx");
    buf.BeginMark(2 * CellW + 1, 1, false);     // anchor c
    buf.MarkMove(4 * CellW + 1, 2 * CellH + 1); // pointer on s
    buf.EndMark();
    EXPECT_EQ(buf.MarkStart(), (CellPos{2, 0}));
    EXPECT_EQ(buf.MarkEnd(), (CellPos{4, 2}));
    EXPECT_TRUE(buf.IsMarked(79, 1));
    EXPECT_FALSE(buf.IsMarked(4, 2));
    ASSERT_TRUE(buf.CopyMark());
    // Rows lose the blanks that pad them.
    EXPECT_EQ(*view.clipboard, "cdefgh\r\nijklmnop\r\nqrst\r\n");

    buf.BeginMark(5 * CellW + 1, CellH + 1, false); // anchor n, drag back to d
    buf.MarkMove(3 * CellW + 1, 1);
    EXPECT_EQ(buf.MarkStart(), (CellPos{3, 0}));
    EXPECT_EQ(buf.MarkEnd(), (CellPos{5, 1}));
    buf.MarkMove(5 * CellW + 1, CellH + 1); // back on the anchor: nothing marked
    EXPECT_EQ(buf.MarkStart(), buf.MarkEnd());
    buf.EndMark();
    buf.BeginMark(7 * CellW + 1, CellH + 1, true); // Shift extends from the anchor to p
    buf.EndMark();
    ASSERT_TRUE(buf.CopyMark());
    EXPECT_EQ(*view.clipboard, "no\r\n");
}

TEST_F(TBufferMarkTest, ClickTimerCaptureAndPersistentMark) {
    Write("hello");
    buf.BeginMark(20, 5, false);
    EXPECT_TRUE(view.timerRunning);
    EXPECT_EQ(view.timerMs, 50);
    EXPECT_TRUE(view.captured);
    EXPECT_EQ(view.invalidateAllCount, 1);
    EXPECT_FALSE(buf.CopyMark()); // not finished yet
    buf.EndMark();
    EXPECT_FALSE(view.timerRunning);
    EXPECT_FALSE(view.captured);
    EXPECT_TRUE(buf.MarkMade());
    // A click without a drag marks nothing and copies a lone CR LF.
    EXPECT_FALSE(buf.IsMarked(2, 0));
    EXPECT_TRUE(buf.CopyMark());
    EXPECT_EQ(view.clipboard, "\r\n");

    buf.SetPersistentMark(true);
    view.timerAvailable = false;
    buf.BeginMark(1, 1, false);
    EXPECT_EQ(view.invalidateAllCount, 1); // the old highlight is left to the next repaint
    EXPECT_FALSE(view.captured);
}

TEST_F(TBufferMarkTest, DraggingAboveTheWindowScrollsHistoryAndExtendsTheMark) {
    Show(10);
    FillRows(40);
    buf.Refresh();
    buf.SetScrollback(true);
    buf.BeginMark(5 * CellW + 1, 5 * CellH + 1, false); // row 36
    buf.MarkMove(CellW + 1, -30);
    EXPECT_TRUE(buf.DragOutside());
    view.pointer = {CellW + 1, -30};
    buf.MarkTimerTick();
    EXPECT_EQ(buf.ViewTop(), 28);
    EXPECT_EQ(buf.MarkStart(), (CellPos{1, 28}));
    view.pointer = {CellW + 1, -5};
    buf.MarkTimerTick();
    EXPECT_EQ(buf.ViewTop(), 27);
    view.pointer = {CellW + 1, 10 * CellH + 30};
    buf.MarkTimerTick();
    EXPECT_EQ(buf.ViewTop(), 30);
    EXPECT_EQ(buf.MarkEnd(), (CellPos{1, 39})); // bottom edge: last visible row
    buf.MarkMove(CellW + 1, CellH);
    EXPECT_FALSE(buf.DragOutside());
}

TEST_F(TBufferMarkTest, FailedCopyReportsTermErrorAndResizeDropsTheMark) {
    Write("abc");
    buf.BeginMark(1, 1, false);
    buf.MarkMove(2 * CellW + 1, 1);
    buf.EndMark();
    view.clipboardWorks = false;
    EXPECT_FALSE(buf.CopyMark());
    EXPECT_EQ(view.errors, std::vector<int>{TermErrClipboard});
    view.clipboardWorks = true;
    ASSERT_EQ(buf.ResizeBuffer(25, 10, 25), 0);
    EXPECT_FALSE(buf.CopyMark());
    EXPECT_FALSE(buf.IsMarked(0, 0));
}

TEST_F(TBufferMarkTest, MarkStaysOnItsTextAsRowsAreDroppedAndGoesWithAClear) {
    FillRows(199);
    Write("marked");
    const int y = (199 - buf.ViewTop()) * CellH + 1;
    buf.BeginMark(1, y, false);
    buf.MarkMove(6 * CellW + 1, y);
    buf.EndMark();
    Write("\r\nnext");
    EXPECT_TRUE(buf.IsMarked(0, 198));
    EXPECT_FALSE(buf.IsMarked(0, 199));
    ASSERT_TRUE(buf.CopyMark());
    EXPECT_EQ(*view.clipboard, "marked\r\n");

    FillRows(200); // the marked row leaves the buffer
    EXPECT_FALSE(buf.CopyMark());

    buf.BeginMark(1, 1, false);
    buf.MarkMove(3 * CellW + 1, 1);
    buf.EndMark();
    buf.ClearAll();
    EXPECT_FALSE(buf.IsMarked(0, 0));
    EXPECT_FALSE(buf.CopyMark());
}

TEST_F(TBufferFixture, BlinkPassHidesAndRestoresOnlyBlinkingCells) {
    buf.SetDefaultColors(15, 1);
    Write("a");
    buf.SetCurrentAttribute(TBuffer::AttrBlink);
    Write("b");
    EXPECT_EQ(buf.BlinkPass(), 1);
    EXPECT_TRUE(buf.BlinkHidden());
    EXPECT_EQ(buf.ColorAt(0, 0), 0x1F);
    EXPECT_EQ(buf.ColorAt(1, 0), 0x11);
    EXPECT_EQ(view.invalidations.back().rect, (PixelRect{CellW, 0, 2 * CellW, CellH}));
    Write("c"); // written while hidden: hidden too, the shadow keeps the real colours
    EXPECT_EQ(buf.ColorAt(2, 0), 0x11);
    EXPECT_EQ(buf.BlinkPass(), 2);
    EXPECT_EQ(buf.ColorAt(1, 0), 0x1F);
    EXPECT_EQ(buf.ColorAt(2, 0), 0x1F);
}

// Writing a block must leave the buffer and the window exactly as writing its bytes one by one
// would, whatever mix of text and control bytes it holds and wherever the blocks are cut.
TEST(TBufferBlockTest, ProcessBytesMatchesByteByByteWriting) {
    struct Setup {
        const char* name;
        int clientHeight;
        bool scrollback;
        bool caret;
        bool blinkHidden;
    };
    const Setup setups[] = {
        {"whole page shown", 25 * CellH, false, true, false},
        {"a window lower than a row: the cursor's row below it", CellH / 2, false, true, false},
        {"scrollback mode", 25 * CellH, true, false, false},
        {"blinking cells while hidden", 25 * CellH, false, false, true},
    };
    std::mt19937 rng(20261208);
    for (const Setup& setup : setups) {
        SCOPED_TRACE(setup.name);
        test::FakeTerminalView oneView, blockView;
        TBuffer one(oneView, 80, 200);
        TBuffer block(blockView, 80, 200);
        for (TBuffer* b : {&one, &block}) {
            b->SetCellSize(CellW, CellH);
            b->SetClientSize(80 * CellW, setup.clientHeight);
            b->SetScrollback(setup.scrollback);
            b->SetCaretShown(setup.caret);
            b->SetDefaultColors(3, 1);
            if (setup.blinkHidden) {
                b->SetCurrentAttribute(TBuffer::AttrBlink);
                b->ProcessByte('x');
                b->BlinkPass();
            }
        }
        // Runs of text from 0 to 200 bytes (long ones wrap), separated by control bytes.
        std::vector<std::uint8_t> data;
        const std::uint8_t controls[] = {0, 8, 10, 13, 9, 27, 7, 8, 8, 10, 13};
        while (data.size() < 60000) {
            for (int n = static_cast<int>(rng() % 201); n > 0; --n) {
                data.push_back(static_cast<std::uint8_t>(32 + rng() % 95));
            }
            for (int n = static_cast<int>(rng() % 4); n > 0; --n) {
                data.push_back(controls[rng() % std::size(controls)]);
            }
        }
        std::size_t pos = 0;
        while (pos < data.size()) {
            const std::size_t piece = std::min<std::size_t>(1 + rng() % 300, data.size() - pos);
            for (std::size_t i = pos; i < pos + piece; ++i) {
                one.ProcessByte(data[i]);
            }
            block.ProcessBytes({data.data() + pos, piece});
            ASSERT_EQ(block.DirtyRect(), one.DirtyRect()) << "after byte " << pos + piece;
            ASSERT_EQ(block.PendingScrollY(), one.PendingScrollY());
            one.Refresh();
            block.Refresh();
            pos += piece;
        }
        EXPECT_TRUE(std::ranges::equal(block.Characters(), one.Characters()));
        EXPECT_TRUE(std::ranges::equal(block.Colors(), one.Colors()));
        EXPECT_TRUE(std::ranges::equal(block.ShadowColors(), one.ShadowColors()));
        EXPECT_TRUE(std::ranges::equal(block.Attributes(), one.Attributes()));
        EXPECT_EQ((CellPos{block.CursorColumn(), block.CursorRow()}),
                  (CellPos{one.CursorColumn(), one.CursorRow()}));
        EXPECT_EQ(block.ViewTop(), one.ViewTop());
        EXPECT_EQ(block.HighestRowUsed(), one.HighestRowUsed());
        EXPECT_EQ(blockView.caret, oneView.caret);
        EXPECT_EQ(blockView.vRange, oneView.vRange);
        EXPECT_EQ(blockView.vPos, oneView.vPos);
        ASSERT_EQ(blockView.invalidations.size(), oneView.invalidations.size());
        for (std::size_t i = 0; i < oneView.invalidations.size(); ++i) {
            ASSERT_EQ(blockView.invalidations[i].rect, oneView.invalidations[i].rect) << i;
        }
        ASSERT_EQ(blockView.statuses.size(), oneView.statuses.size());
        EXPECT_EQ(blockView.statuses.back().first, oneView.statuses.back().first);
    }
}

} // namespace
} // namespace pellwick
