// The terminal control and its window on a pseudo-terminal through the real port component:
// received bytes, typed keys, scrollback, activation, buffer-size rules, fonts, marking.
#include "ErrorNumberOf.h"
#include "TerminalPtyFixture.h"
#include "terminal/TTerminal.h"
#include "terminal/TVaxoTerminal.h"
#include "terminal/TerminalFeed.h"
#include "terminal/TerminalFont.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QFontInfo>
#include <QScrollBar>
#include <gtest/gtest.h>
#include <thread>

using namespace pellwick;
using namespace pellwick::test;

namespace {

class TerminalControlTest : public TerminalPtyFixture {
protected:
    void SetUp() override {
        TerminalPtyFixture::SetUp();
        term = std::make_unique<TVaxoTerminal>();
        term->resize(700, 500);
    }
    void TearDown() override {
        term.reset();
        TerminalPtyFixture::TearDown();
    }
    // Port open, terminal linked and active, window shown with the focus.
    void Connect() {
        OpenPort();
        term->SetComPort(port.get());
        term->SetActive(true);
        ASSERT_TRUE(term->Active());
        term->show();
        term->Window().setFocus();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(term.get()));
    }
    const TBuffer& Buf() const { return term->Buffer(); }
    // Records the latest status event in `status`.
    void WatchStatus() {
        term->SetOnTerminalStatus([this](TVaxoCustomTerminal&, std::uint8_t row, std::uint8_t col,
                                         std::uint16_t top, std::uint16_t) {
            status = {row, col, top};
        });
    }
    static std::string Lines(const std::string& prefix, int count) {
        std::string sent;
        for (int i = 0; i < count; ++i) {
            sent += prefix + std::to_string(i) + "\r\n";
        }
        return sent;
    }

    struct {
        int row = -1;
        int col = -1;
        int top = -1;
    } status;
    std::unique_ptr<TVaxoTerminal> term;
};

TEST_F(TerminalControlTest, ReceivedBytesAppearInTheBufferWithTheCursorAfterThem) {
    Connect();
    WatchStatus();
    pty.Write(std::string("hello\r\nworld\x1b\t", 14));
    ASSERT_TRUE(PumpUntil([&] { return RowText(Buf(), 1) == "world\x1b\t"; }));
    EXPECT_EQ("hello", RowText(Buf(), 0));
    EXPECT_EQ(7, Buf().CursorColumn());
    EXPECT_EQ(1, Buf().CursorRow());
    // The status event follows the refresh: page row 2, column 8 (both from 1).
    EXPECT_TRUE(PumpUntil([&] { return status.row == 2 && status.col == 8; }));
}

TEST_F(TerminalControlTest, StatusAfterAFloodTellsWhereTheCursorEnded) {
    Connect();
    WatchStatus();
    // Many batches in quick succession: their reports are thinned out, but the last one comes.
    // The peer writes from a thread of its own while this one keeps the event loop running.
    std::thread writer([&] { pty.Write(Lines("line ", 3000) + "end"); });
    const bool shown = PumpUntil([&] { return RowText(Buf(), Buf().CursorRow()) == "end"; });
    writer.join();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(PumpUntil([&] {
        return status.col == 4 && status.row == Buf().CursorRow() - Buf().ViewTop() + 1 &&
               status.top == Buf().ViewTop() + 1;
    }));
}

TEST_F(TerminalControlTest, TypedKeysGoOutOneByteEachAndAreShownOnlyWithHalfDuplex) {
    Connect();
    QTest::keyClicks(&term->Window(), "ab");
    QTest::keyClick(&term->Window(), Qt::Key_Return);
    QTest::keyClick(&term->Window(), Qt::Key_Backspace);
    QTest::keyClick(&term->Window(), Qt::Key_Escape);
    QTest::keyClick(&term->Window(), Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(&term->Window(), Qt::Key_Tab);  // a character, not focus navigation
    QTest::keyClick(&term->Window(), Qt::Key_Left); // cursor keys send nothing
    QTest::keyClick(&term->Window(), Qt::Key_F1);
    EXPECT_EQ("ab\r\b\x1b\x03\t", Str(pty.Read(7)));
    EXPECT_TRUE(pty.ReadFor(200).empty());
    PumpFor(100);
    EXPECT_EQ("", RowText(Buf(), 0));

    term->SetHalfDuplex(true);
    QTest::keyClicks(&term->Window(), "xy");
    EXPECT_EQ("xy", Str(pty.Read(2)));
    EXPECT_EQ("xy", RowText(Buf(), 0));
}

TEST_F(TerminalControlTest, TypingWithoutDispatcherSendsAndShowsNothing) {
    Connect();
    term->SetHalfDuplex(true);
    ClosePort();
    EXPECT_FALSE(term->Active());
    EXPECT_TRUE(term->ActivationPending());
    QTest::keyClicks(&term->Window(), "abc");
    EXPECT_TRUE(pty.ReadFor(300).empty());
    EXPECT_EQ("", RowText(Buf(), 0));

    // A port destroyed under an active terminal leaves it without port and dispatcher.
    OpenPort();
    ASSERT_TRUE(term->Active());
    port.reset();
    EXPECT_EQ(nullptr, term->ComPort());
    EXPECT_EQ(nullptr, term->Window().Feed().Dispatcher());
    EXPECT_FALSE(term->Active());
    QTest::keyClicks(&term->Window(), "abc");
    EXPECT_TRUE(pty.ReadFor(200).empty());
    EXPECT_EQ("", RowText(Buf(), 0));
}

TEST_F(TerminalControlTest, DataReceivedDuringScrollbackIsShownAllOfItAfterwards) {
    Connect();
    term->SetScrollback(true);
    ASSERT_TRUE(term->Scrollback());
    const std::string sent = Lines("line ", 60);
    pty.Write(sent);
    ASSERT_TRUE(PumpUntil([&] { return port->InputCount() == sent.size(); }));
    PumpFor(200);
    EXPECT_EQ("", RowText(Buf(), 0)); // nothing fetched while browsing

    // Keys browse instead of sending.
    QTest::keyClick(&term->Window(), Qt::Key_PageDown);
    QTest::keyClicks(&term->Window(), "q");
    EXPECT_TRUE(pty.ReadFor(200).empty());

    term->SetScrollback(false);
    ASSERT_TRUE(PumpUntil([&] { return Buf().CursorRow() == 60; }));
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ("line " + std::to_string(i), RowText(Buf(), i));
    }
}

TEST_F(TerminalControlTest, InScrollbackKeysAndScrollBarBrowseHistoryAndStatusReadsZero) {
    term->SetScrollBars(ssBoth);
    Connect();
    WatchStatus();
    pty.Write(Lines("row ", 120));
    ASSERT_TRUE(PumpUntil([&] { return Buf().CursorRow() == 120; }));
    const int liveTop = Buf().ViewTop();
    const int visible = Buf().VisibleRows();
    ASSERT_GT(liveTop, visible);

    term->SetScrollback(true);
    EXPECT_TRUE(PumpUntil([&] { return status.row == 0 && status.col == 0; }));
    QScrollBar* bar = term->Window().verticalScrollBar();
    EXPECT_EQ(120 - visible + 1, bar->maximum());

    QTest::keyClick(&term->Window(), Qt::Key_PageUp);
    EXPECT_EQ(liveTop - visible, Buf().ViewTop());
    QTest::keyClick(&term->Window(), Qt::Key_Down);
    EXPECT_EQ(liveTop - visible + 1, Buf().ViewTop());
    EXPECT_EQ(Buf().ViewTop(), bar->value());

    bar->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(0, Buf().ViewTop());
    EXPECT_EQ(0, bar->value());
    bar->setSliderPosition(10); // dragging the thumb
    EXPECT_EQ(10, Buf().ViewTop());
    EXPECT_EQ(10, bar->value());
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(11, Buf().ViewTop());

    term->SetScrollback(false);
    EXPECT_EQ(liveTop, Buf().ViewTop());
    EXPECT_TRUE(PumpUntil([&] { return status.row > 0; }));
}

TEST_F(TerminalControlTest, ActivationNeedsAPortAndWaitsForItToOpen) {
    EXPECT_EQ(-1005, ErrorNumberOf([&] { term->SetActive(true); }));
    term->SetComPort(port.get());
    term->SetActive(true);
    EXPECT_FALSE(term->Active());
    EXPECT_TRUE(term->ActivationPending());

    OpenPort();
    EXPECT_TRUE(term->Active());
    pty.Write("ok");
    EXPECT_TRUE(PumpUntil([&] { return RowText(Buf(), 0) == "ok"; }));

    // Closing keeps the wish; reopening attaches again to the new dispatcher.
    ClosePort();
    EXPECT_FALSE(term->Active());
    OpenPort();
    EXPECT_TRUE(term->Active());
    pty.Write("!");
    EXPECT_TRUE(PumpUntil([&] { return RowText(Buf(), 0) == "ok!"; }));

    term->SetActive(false);
    pty.Write("?");
    PumpFor(300);
    EXPECT_EQ("ok!", RowText(Buf(), 0));
}

TEST_F(TerminalControlTest, BufferSizeRulesKeepRowsTimesColumnsWithinLimits) {
    EXPECT_EQ(200, term->Rows());
    EXPECT_EQ(80, term->Columns());
    EXPECT_EQ(25, term->PageHeight());

    term->SetRows(1000);
    EXPECT_EQ(1000, term->Rows());
    EXPECT_EQ(65, term->Columns());
    EXPECT_EQ(65, Buf().Columns());

    term->SetPageHeight(2000);
    EXPECT_EQ(1000, term->PageHeight());
    EXPECT_EQ(1000, Buf().PageHeight());

    term->SetRows(10); // never below the page
    EXPECT_EQ(1000, term->Rows());

    term->SetPageHeight(25);
    term->SetRows(200);
    term->SetColumns(133);
    EXPECT_EQ(133, term->Columns());
    EXPECT_EQ(200, term->Rows());
    EXPECT_EQ(-1002, ErrorNumberOf([&] { term->SetColumns(134); }));
    EXPECT_EQ(133, term->Columns());
    EXPECT_EQ(133, Buf().Columns());
}

TEST_F(TerminalControlTest, ClientAreaHoldsWholeCellsAndNeverMoreThanThePage) {
    term->SetScrollBars(ssBoth);
    term->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(term.get()));
    const int cw = Buf().CellWidth();
    const int ch = Buf().CellHeight();
    term->resize(cw * 30 + 40 + cw / 2, ch * 10 + 40 + ch / 2);
    PumpFor(50);
    EXPECT_EQ(0, Buf().ClientWidth() % cw);
    EXPECT_EQ(0, Buf().ClientHeight() % ch);
    term->resize(cw * 200, ch * 100);
    PumpFor(50);
    EXPECT_EQ(80 * cw, Buf().ClientWidth());
    EXPECT_EQ(25 * ch, Buf().ClientHeight());
    EXPECT_EQ(80, term->DisplayColumns());
    EXPECT_EQ(25, term->DisplayRows());
}

TEST_F(TerminalControlTest, EveryFontEndsInCellsOfOneNonZeroWidth) {
    // Whatever the machine's monospace font is (marked fixed-pitch or not), the terminal starts
    // with a font of uniform advances and cells that are not empty.
    EXPECT_TRUE(HasUniformAdvance(term->Font())) << term->Font().family().toStdString();
    EXPECT_GT(Buf().CellWidth(), 0);
    EXPECT_GT(Buf().CellHeight(), 0);
    EXPECT_EQ(QFontMetrics(term->Font()).horizontalAdvance('M'), Buf().CellWidth());

    QFont proportional("DejaVu Sans", 11);
    ASSERT_FALSE(HasUniformAdvance(proportional));
    term->SetFont(proportional);
    EXPECT_TRUE(HasUniformAdvance(term->Font()));
    EXPECT_EQ(11, term->Font().pointSize());

    QFont mono = term->Font();
    mono.setPixelSize(20);
    term->SetFont(mono);
    EXPECT_EQ(20, term->Font().pixelSize());
    EXPECT_EQ(QFontMetrics(mono).height(), Buf().CellHeight());
}

TEST_F(TerminalControlTest, LargerFontKeepsTheCursorInViewAndReportsTheNewView) {
    Connect();
    WatchStatus();
    pty.Write(Lines("row ", 24));
    ASSERT_TRUE(PumpUntil([&] { return Buf().CursorRow() == 24; }));
    // The window keeps its size: only the cell count shrinks.
    QFont big = term->Font();
    big.setPixelSize(Buf().CellHeight() * 3);
    ASSERT_TRUE(term->Window().SetTerminalFont(big));
    const TBuffer& b = Buf();
    EXPECT_GE(b.CursorRow(), b.ViewTop());
    EXPECT_LT(b.CursorRow(), b.ViewTop() + b.VisibleRows());
    ASSERT_TRUE(PumpUntil([&] { return status.top == b.ViewTop() + 1; }));
}

TEST_F(TerminalControlTest, C1BytesDrawAsTheirC0GlyphsAndUnderlineReachesGlyphRuns) {
    Connect();
    const auto cell = [&](int column, int row) {
        const QImage screen = term->Window().viewport()->grab().toImage();
        return screen.copy(column * Buf().CellWidth(), row * Buf().CellHeight(), Buf().CellWidth(),
                           Buf().CellHeight());
    };
    const auto lit = [](const QImage& image, int fromY) {
        int count = 0;
        for (int y = fromY; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                count += qGray(image.pixel(x, y)) > 96;
        return count;
    };
    // Row 0: the C0 and C1 byte of each pair, blanks between them; row 1: "ab", under the plain
    // and underlined font.
    pty.Write(std::string("\x01 \x81 \x0f \x8f\r\nab"));
    ASSERT_TRUE(PumpUntil([&] { return Buf().CursorRow() == 1 && Buf().CursorColumn() == 2; }));
    QTest::qWait(50);
    for (int pair : {0, 4}) {
        EXPECT_GT(lit(cell(pair, 0), 0), 0) << pair;
        EXPECT_EQ(cell(pair, 0), cell(pair + 2, 0)) << pair;
        // Whatever font the glyph comes from, it stays in its cell.
        EXPECT_EQ(lit(cell(pair + 1, 0), 0), 0) << pair;
    }
    const int bottom = QFontMetrics(term->Font()).ascent();
    const int plain = lit(cell(0, 1), bottom) + lit(cell(1, 1), bottom);
    QFont underlined = term->Font();
    underlined.setUnderline(true);
    ASSERT_TRUE(term->Window().SetTerminalFont(underlined));
    QTest::qWait(50);
    EXPECT_GE(lit(cell(0, 1), bottom) + lit(cell(1, 1), bottom), plain + Buf().CellWidth());
}

TEST_F(TerminalControlTest, ColoursMapToPaletteEntriesOrReplaceTheCurrentOnes) {
    // Silver on black are palette entries 7 and 0.
    EXPECT_EQ(7, Buf().DefaultForeground());
    EXPECT_EQ(0, Buf().DefaultBackground());
    term->SetColor(QColor(0, 0, 0x80)); // entry 4
    EXPECT_EQ(4, Buf().DefaultBackground());
    term->SetFontColor(QColor(0x12, 0x34, 0x56)); // not in the palette: replaces current fg
    EXPECT_EQ(7, Buf().DefaultForeground());
    EXPECT_EQ(0x123456u, Buf().Colours()[7]);
}

TEST_F(TerminalControlTest, DraggedMarkIsCopiedAsPlainTextWithCrLf) {
    Connect();
    pty.Write("hello world");
    ASSERT_TRUE(PumpUntil([&] { return RowText(Buf(), 0) == "hello world"; }));
    const int cw = Buf().CellWidth();
    const int ch = Buf().CellHeight();
    QWidget* vp = term->Window().viewport();
    QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(1, ch / 2));
    QTest::mouseMove(vp, QPoint(5 * cw + 1, ch / 2));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(5 * cw + 1, ch / 2));
    ASSERT_TRUE(Buf().MarkMade());
    term->CopyToClipboard();
    EXPECT_EQ(QString("hello\r\n"), QGuiApplication::clipboard()->text());
}

} // namespace
