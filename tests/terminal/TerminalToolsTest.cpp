// The terminal window's logic without a window: line-end mapping, paste pacing against a
// model of the line, capture files, the hex view's lines and the [Terminal] settings.
#include "terminal/CaptureWriter.h"
#include "terminal/HexFormatter.h"
#include "terminal/LineEnds.h"
#include "terminal/PastePacer.h"
#include "terminal/TBuffer.h"
#include "terminal/TerminalSettings.h"

#include "FakeTerminalView.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace pellwick {
namespace {

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string AllByteValues() {
    std::string s;
    for (int b = 0; b < 256; ++b) {
        s += static_cast<char>(b);
    }
    return s;
}

// --- Line ends -----------------------------------------------------------------------------

TEST(LineEndsTest, ReceivedLineEndsWidenOnlyWhereTheMappingSays) {
    const struct {
        bool cr, lf;
        const char* in;
        const char* shown;
    } rows[] = {
        {false, false, "a\rb\nc\r\n", "a\rb\nc\r\n"},
        {true, false, "a\rb\nc\r\n", "a\r\nb\nc\r\n\n"},
        {false, true, "a\rb\nc\r\n", "a\rb\r\nc\r\r\n"},
        {true, true, "a\rb\n", "a\r\nb\r\n"},
    };
    for (const auto& r : rows) {
        LineEndMapping m;
        m.receiveCrAsCrLf = r.cr;
        m.receiveLfAsCrLf = r.lf;
        std::string out = "x";
        MapReceived(m, Bytes(r.in), out);
        EXPECT_EQ(std::string("x") + r.shown, out) << r.cr << r.lf << " " << r.in;
    }
}

TEST(LineEndsTest, EveryPastedLineEndBecomesOneSendLineEnd) {
    const std::string text = "one\r\ntwo\nthree\rfour\n\n";
    EXPECT_EQ("one\rtwo\rthree\rfour\r\r", PastedBytes(text, LineEnd::Cr));
    EXPECT_EQ("one\ntwo\nthree\nfour\n\n", PastedBytes(text, LineEnd::Lf));
    EXPECT_EQ("one\r\ntwo\r\nthree\r\nfour\r\n\r\n", PastedBytes(text, LineEnd::CrLf));
    // Every other byte passes unchanged.
    std::string all = AllByteValues();
    std::string expected = all;
    expected.erase(expected.find("\n\v\f\r"), 4);
    expected.insert(10, "\r\v\f\r");
    EXPECT_EQ(expected, PastedBytes(all, LineEnd::Cr));
}

// --- Paste pacing --------------------------------------------------------------------------

// The port's output ring and a line that takes bytes from it at `lineRate` bytes a second
// (0: a line held by flow control). Each step is one tick of the paste timer, `tickMs` long.
struct LineModel {
    explicit LineModel(double bytesPerSecond) : lineRate(bytesPerSecond) {}
    double lineRate;
    double carried = 0;
    std::string onLine;
    std::string ring;

    void Pass(double ms) {
        carried += lineRate * ms / 1000.0;
        const auto n = std::min(ring.size(), static_cast<std::size_t>(carried));
        carried -= static_cast<double>(n);
        onLine += ring.substr(0, n);
        ring.erase(0, n);
        if (ring.empty()) {
            carried = 0; // an idle line saves up nothing
        }
    }
};

TEST(PastePacerTest, PastesGoOutWholeAtLineRateWithoutOverfillingTheRing) {
    const struct {
        std::int32_t baud;
        std::size_t ringSize;
        std::size_t size;
    } rows[] = {{1200, 4096, 3000},
                {9600, 16384, 20000},
                {115200, 16384, 200000},
                {115200, 2078, 20000}}; // 2078: the smallest ring the program allows
    for (const auto& r : rows) {
        std::string text;
        for (std::size_t i = 0; text.size() < r.size; ++i) {
            text += std::to_string(i) + (i % 7 == 0 ? "\r" : " ");
        }
        text.resize(r.size);
        auto now = PastePacer::Clock::time_point{};
        PastePacer pacer(text, now);
        LineModel line(r.baud / 10.0);
        std::size_t mostQueued = 0;
        int ticks = 0;
        while (!pacer.Done() && ticks < 10'000'000) {
            // Timer ticks are late now and then.
            const int ms = ticks % 5 == 0 ? 23 : 10;
            now += std::chrono::milliseconds(ms);
            line.Pass(ms);
            const std::string_view next =
                pacer.Next(now, r.baud, line.ring.size(), r.ringSize - line.ring.size());
            ASSERT_LE(line.ring.size() + next.size(), r.ringSize) << r.baud;
            line.ring += next;
            mostQueued = std::max(mostQueued, line.ring.size());
            ++ticks;
        }
        while (!line.ring.empty()) {
            line.Pass(10);
        }
        EXPECT_EQ(text, line.onLine) << r.baud;
        // The line never waits: the paste takes the line's time, within a few ticks.
        const double lineSeconds = static_cast<double>(r.size) / (r.baud / 10.0);
        const double tookSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
        EXPECT_NEAR(lineSeconds, tookSeconds, 0.02 * lineSeconds + 0.05) << r.baud;
        // Esc stops a paste within about a tenth of a second of line time.
        EXPECT_LE(mostQueued, PastePacer::BurstFor(r.baud) + PastePacer::BurstFor(r.baud, 25))
            << r.baud;
    }
}

TEST(PastePacerTest, ALineHeldByFlowControlGetsNoMoreThanOneBurst) {
    auto now = PastePacer::Clock::time_point{};
    PastePacer pacer(std::string(10000, 'x'), now);
    std::size_t queued = 0;
    for (int tick = 0; tick < 1000; ++tick) { // 10 s in which the line takes nothing
        now += std::chrono::milliseconds(10);
        queued += pacer.Next(now, 115200, queued, 16384 - queued).size();
    }
    EXPECT_LT(queued, PastePacer::BurstFor(115200) + PastePacer::BurstFor(115200, 10));
    EXPECT_EQ(queued, pacer.Sent());
}

// --- Capture -------------------------------------------------------------------------------

class CaptureWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        savedTz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
    }
    void TearDown() override {
        if (savedTz_) {
            setenv("TZ", savedTz_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static void UseZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    TempFolder folder;
    std::optional<std::string> savedTz_;
};

TEST_F(CaptureWriterTest, RawCaptureHoldsEveryByteAsReceived) {
    CaptureWriter w;
    ASSERT_TRUE(w.Open(folder.File("raw.bin"), CaptureWriter::Mode::Raw));
    const std::string all = AllByteValues();
    ASSERT_TRUE(w.Write(Bytes(all)));
    ASSERT_TRUE(w.Write(Bytes("\r\nend")));
    EXPECT_TRUE(w.Close());
    EXPECT_EQ(all + "\r\nend", ReadFile(folder.File("raw.bin")));
}

TEST_F(CaptureWriterTest, StampsAreIso8601WithMillisecondsAndTheZoneOffset) {
    const auto at = std::chrono::system_clock::time_point(
        std::chrono::milliseconds(1'796'803'628'045LL)); // 2026-12-09T08:07:08.045Z
    UseZone("UTC0");
    EXPECT_EQ("2026-12-09T08:07:08.045+00:00", CaptureWriter::TimeStamp(at));
    UseZone("EST5");
    EXPECT_EQ("2026-12-09T03:07:08.045-05:00", CaptureWriter::TimeStamp(at));
    UseZone("IST-5:30");
    EXPECT_EQ("2026-12-09T13:37:08.045+05:30", CaptureWriter::TimeStamp(at));
}

TEST_F(CaptureWriterTest, EachLineGetsTheStampOfItsFirstByteWhateverItsLineEnd) {
    UseZone("UTC0");
    const auto base = std::chrono::system_clock::time_point(std::chrono::seconds(0));
    const struct {
        std::vector<std::string> batches; // one clock second each
        const char* file;
    } rows[] = {
        {{"ab\r\ncd\r\n"},
         "1970-01-01T00:00:00.000+00:00 ab\r\n1970-01-01T00:00:00.000+00:00 cd\r\n"},
        {{"ab\r", "\ncd"}, "1970-01-01T00:00:00.000+00:00 ab\r\n1970-01-01T00:00:01.000+00:00 cd"},
        {{"one\rtwo\n", "three"},
         "1970-01-01T00:00:00.000+00:00 one\r1970-01-01T00:00:00.000+00:00 two\n"
         "1970-01-01T00:00:01.000+00:00 three"},
        {{"par", "tial\n"}, "1970-01-01T00:00:00.000+00:00 partial\n"},
        {{"a\r", "b\n\n"},
         "1970-01-01T00:00:00.000+00:00 a\r1970-01-01T00:00:01.000+00:00 b\n"
         "1970-01-01T00:00:01.000+00:00 \n"},
    };
    for (const auto& r : rows) {
        CaptureWriter w;
        int second = 0;
        w.SetClock([&] { return base + std::chrono::seconds(second); });
        ASSERT_TRUE(w.Open(folder.File("text.log"), CaptureWriter::Mode::TimeStamped));
        for (const std::string& batch : r.batches) {
            ASSERT_TRUE(w.Write(Bytes(batch)));
            ++second;
        }
        ASSERT_TRUE(w.Close());
        EXPECT_EQ(r.file, ReadFile(folder.File("text.log")));
    }
}

TEST_F(CaptureWriterTest, SentBytesAreMarkedApartOnTheirOwnLinesAndAppendingKeepsTheFile) {
    UseZone("UTC0");
    const std::string stamp = "1970-01-01T00:00:00.000+00:00 ";
    const struct {
        CaptureWriter::Mode mode;
        CaptureOptions options;
        const char* file; // what the file holds afterwards; it held "old\n" before
    } rows[] = {
        {CaptureWriter::Mode::TimeStamped,
         {false, true},
         "|TX VER\r\n|RX VER=2.10\r\n|RX #\n|TX x"},
        {CaptureWriter::Mode::TimeStamped, {true, false}, "old\n|VER=2.10\r\n|#"},
        {CaptureWriter::Mode::Raw, {true, true}, "old\nVER=2.10\r\n#"},
    };
    for (const auto& r : rows) {
        {
            std::ofstream out(folder.File("c.log"), std::ios::binary);
            out << "old\n";
        }
        CaptureWriter w;
        w.SetClock([] { return std::chrono::system_clock::time_point{}; });
        ASSERT_TRUE(w.Open(folder.File("c.log"), r.mode, r.options));
        ASSERT_TRUE(w.WriteSent(Bytes("VER\r")));
        ASSERT_TRUE(w.Write(Bytes("VER=2.10\r\n#")));
        ASSERT_TRUE(w.WriteSent(Bytes("x")));
        ASSERT_TRUE(w.Close());
        // '|' stands for a line's stamp.
        std::string expected;
        for (const char* c = r.file; *c; ++c) {
            expected += *c == '|' ? stamp : std::string(1, *c);
        }
        EXPECT_EQ(expected, ReadFile(folder.File("c.log"))) << r.file;
    }
}

TEST_F(CaptureWriterTest, FilesThatCannotBeOpenedOrWrittenSaySoAndCloseTheCapture) {
    CaptureWriter w;
    EXPECT_FALSE(w.Open(folder.Path(), CaptureWriter::Mode::Raw)); // a folder
    EXPECT_EQ("Is a directory", w.Error());
    EXPECT_FALSE(w.Open(folder.File("missing/x.log"), CaptureWriter::Mode::Raw));
    EXPECT_EQ("No such file or directory", w.Error());
    EXPECT_FALSE(w.IsOpen());

    ASSERT_TRUE(w.Open("/dev/full", CaptureWriter::Mode::TimeStamped));
    EXPECT_FALSE(w.Write(Bytes("lost\r\n")));
    EXPECT_EQ("No space left on device", w.Error());
    EXPECT_FALSE(w.IsOpen());
    EXPECT_FALSE(w.Write(Bytes("more")));
}

// --- Hex view ------------------------------------------------------------------------------

// What a screen buffer shows after the formatter's output, row by row without trailing blanks.
std::vector<std::string> Screen(const std::string& shown) {
    test::FakeTerminalView view;
    TBuffer buffer(view, 80, 200);
    buffer.SetCellSize(8, 16);
    buffer.SetClientSize(80 * 8, 25 * 16);
    buffer.ProcessBytes(Bytes(shown));
    std::vector<std::string> rows;
    for (int r = 0; r <= buffer.CursorRow(); ++r) {
        std::string row;
        for (int c = 0; c < buffer.Columns(); ++c) {
            row += static_cast<char>(buffer.CharAt(c, r));
        }
        row.erase(row.find_last_not_of(' ') + 1);
        rows.push_back(row);
    }
    return rows;
}

TEST(HexFormatterTest, TheScreenIsTheSameHoweverTheBytesArrive) {
    std::string all;
    for (int i = 0; i < 3; ++i) {
        all += AllByteValues();
    }
    HexFormatter whole;
    const std::vector<std::string> expected = Screen(whole.Feed(Bytes(all)));
    ASSERT_EQ(3u * 16u + 1u, expected.size()); // 48 full lines and the empty next one
    for (const std::size_t chunk :
         {std::size_t{1}, std::size_t{5}, std::size_t{16}, std::size_t{17}, std::size_t{100}}) {
        HexFormatter hex;
        std::string shown;
        for (std::size_t i = 0; i < all.size(); i += chunk) {
            shown += hex.Feed(Bytes(all.substr(i, chunk)));
        }
        EXPECT_EQ(expected, Screen(shown)) << chunk;
    }
    // Reset starts the next byte on a line of its own, below the unfinished one.
    HexFormatter hex;
    std::string shown = hex.Feed(Bytes("abc"));
    hex.Reset();
    shown += "\r\n" + hex.Feed(Bytes("d"));
    EXPECT_EQ(Screen(shown),
              (std::vector<std::string>{"61 62 63                                         abc",
                                        "64                                               d"}));
}

// A paced paste on a line that takes every byte at once: when each byte was handed out.
TEST(PastePacerTest, PausesAfterCharactersAndLinesAndTheWaitForThePromptHoldEachLine) {
    using namespace std::chrono;
    const struct {
        const char* name;
        PastePacing pacing;
        int promptAfterMs; // the device shows its prompt this long after each line; -1 never
        std::vector<int> sentAtMs; // of the bytes of "ab\r\ncd\ne"
        bool promptMissed;
    } rows[] = {
        {"chars", {20, 0, "", 5000}, -1, {0, 20, 40, 60, 80, 100, 120, 140}, false},
        {"lines", {0, 100, "", 5000}, -1, {0, 0, 0, 0, 100, 100, 100, 200}, false},
        {"prompt", {0, 0, "#>", 5000}, 50, {0, 0, 0, 0, 50, 50, 50, 100}, false},
        {"no prompt", {0, 0, "#>", 300}, -1, {0, 0, 0, 0}, true},
    };
    for (const auto& r : rows) {
        const std::string text = "ab\r\ncd\ne";
        const auto start = PastePacer::Clock::time_point{};
        PastePacer pacer(text, start, r.pacing);
        std::vector<int> sentAt;
        int lineEndAt = -1;
        for (int ms = 0; ms <= 2000 && !pacer.Done() && !pacer.PromptMissed(); ms += 10) {
            if (r.promptAfterMs >= 0 && lineEndAt >= 0 && ms == lineEndAt + r.promptAfterMs) {
                // Split across two batches, after some other output.
                pacer.Received(Bytes("ok\r\n#"));
                pacer.Received(Bytes(">"));
            }
            const std::string_view next = pacer.Next(start + milliseconds(ms), 115200, 0, 4096);
            for (const char c : next) {
                sentAt.push_back(ms);
                if (c == '\n') {
                    lineEndAt = ms;
                }
            }
        }
        EXPECT_EQ(r.sentAtMs, sentAt) << r.name;
        EXPECT_EQ(r.promptMissed, pacer.PromptMissed()) << r.name;
    }
}

// --- Settings ------------------------------------------------------------------------------

TEST(TerminalSettingsTest, SettingsReadBackAndLeaveOtherSectionsAsTheyWere) {
    TempFolder folder;
    const std::string path = folder.File("loader.ini");
    {
        std::ofstream out(path, std::ios::binary);
        out << "[RS232Settings]\r\nComm Port=COM3\r\nDTR State=0\r\n";
    }
    PrivateProfile ini(path);
    EXPECT_EQ(TerminalSettings{}, TerminalSettings::Load(ini));

    TerminalSettings s;
    s.Font = "DejaVu Sans Mono,11,-1,5,400,0,0,0,0,0,0,0,0,0,0,1";
    s.LocalEcho = true;
    s.LineEnds = {LineEnd::CrLf, true, false};
    s.Pacing = {5, 200, "> ", 3000};
    s.CaptureSent = true;
    s.CaptureAppend = true;
    s.Save(ini);
    EXPECT_EQ(s, TerminalSettings::Load(ini));
    EXPECT_EQ(0u, ReadFile(path).find("[RS232Settings]\r\nComm Port=COM3\r\nDTR State=0\r\n"));

    ini.WriteString("Terminal", "Send Line End", "CR-LF");
    ini.WriteInteger("Terminal", "Paste Line Delay", -5);
    ini.WriteInteger("Terminal", "Paste Prompt Timeout", 0);
    const TerminalSettings repaired = TerminalSettings::Load(ini);
    EXPECT_EQ(LineEnd::Cr, repaired.LineEnds.send);
    EXPECT_EQ(0, repaired.Pacing.lineDelayMs);
    EXPECT_EQ(TerminalSettings::MinPromptTimeoutMs, repaired.Pacing.promptTimeoutMs);
}

} // namespace
} // namespace pellwick
