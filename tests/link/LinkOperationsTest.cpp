// The link's logic on a scripted port: block transfers, the data triggers, the command
// exchange, the mode switch and the port set-up.
#include "link/LinkOperations.h"
#include "LinkFakes.h"

#include <gtest/gtest.h>
#include <numeric>
#include <set>

namespace pellwick {
namespace {

using test::FakeLinkHost;
using test::FakeLinkPort;
using test::ScriptedBoxes;
using test::Unscripted;

// Link operations on a fake port, with their host, before the port is opened.
class LinkSetupTest : public ::testing::Test {
protected:
    LinkSetupTest() { link.SetHost(&host); }

    FakeLinkPort port;
    ScriptedBoxes boxes{Unscripted::PressFirstButton};
    FakeLinkHost host;
    LinkOperations link{port, boxes};
};

// The same on the opened port.
class LinkOperationsTest : public LinkSetupTest {
protected:
    LinkOperationsTest() {
        EXPECT_TRUE(link.OpenWithSettings(Rs232Settings{}, LinkSettings{}));
        port.Log.clear();
        host.ComBtnState.clear();
    }

    std::vector<std::uint8_t> Bytes(std::size_t n) {
        std::vector<std::uint8_t> v(n);
        std::iota(v.begin(), v.end(), std::uint8_t{0});
        return v;
    }
    // Fires the room event until the transfer has armed the drain trigger (or gives up).
    void RunTransfer(int maxBlocks = 1000) {
        for (int i = 0; i < maxBlocks && port.Log.back() != "Arm 4 0"; ++i)
            port.H.OutbuffFree();
    }
};

TEST_F(LinkOperationsTest, TransferSendsWholeBlocksThenTheRestAndEndsOnDrain) {
    link.SetUploadMode(true);
    const auto data = Bytes(120);
    link.SendBuffer(data.data(), 120);
    EXPECT_EQ(port.Tag(), PhaseSending);
    EXPECT_EQ(port.Log.back(), "Arm 3 50");
    RunTransfer();
    EXPECT_EQ(port.Blocks, (std::vector<std::uint16_t>{50, 50, 20}));
    EXPECT_EQ(host.Gauge, (std::vector<int>{42, 83, 100}));
    EXPECT_EQ(port.Output, std::string(data.begin(), data.end()));
    EXPECT_TRUE(host.Calls.empty());
    port.H.OutbuffUsed();
    EXPECT_EQ(host.Calls, std::vector<std::string>{"EnableScriptTimer"});
    EXPECT_EQ(port.Tag(), PhaseNone);
}

TEST_F(LinkOperationsTest, TransferOfExactlyOneBlockSendsItAsTheLast) {
    const auto data = Bytes(50);
    link.SendBuffer(data.data(), 50);
    port.H.OutbuffFree();
    EXPECT_EQ(port.Blocks, std::vector<std::uint16_t>{50});
    EXPECT_EQ(port.Log.back(), "Arm 4 0");
    EXPECT_EQ(host.Gauge, std::vector<int>{100});
    // Outside upload mode the end of a transfer tells the script nothing.
    port.H.OutbuffUsed();
    EXPECT_TRUE(host.Calls.empty());
}

TEST_F(LinkOperationsTest, EmptyTransferShowsFullGaugeAndStillEnds) {
    link.SetUploadMode(true);
    link.SendBuffer(nullptr, 0);
    port.H.OutbuffFree();
    EXPECT_TRUE(port.Blocks.empty());
    EXPECT_EQ(port.Log.back(), "Arm 4 0");
    EXPECT_EQ(host.Gauge, std::vector<int>{100});
    port.H.OutbuffUsed();
    EXPECT_EQ(host.Calls, std::vector<std::string>{"EnableScriptTimer"});
}

TEST_F(LinkOperationsTest, GaugeRoundsHalvesToEven) {
    EXPECT_EQ(LinkOperations::GaugePercent(8, 7), 12);    // 12.5
    EXPECT_EQ(LinkOperations::GaugePercent(8, 5), 38);    // 37.5
    EXPECT_EQ(LinkOperations::GaugePercent(200, 1), 100); // 99.5
    EXPECT_EQ(LinkOperations::GaugePercent(0, 0), 100);
}

TEST_F(LinkOperationsTest, DeviceErrorDuringTransferStopsAfterOneMoreBlockAndReportsOnDrain) {
    link.SetUploadMode(true);
    const auto data = Bytes(200);
    link.SendBuffer(data.data(), 200);
    port.H.OutbuffFree();
    port.H.OutbuffFree();
    port.H.TriggerData(link.State().ErrorTrigger);
    EXPECT_EQ(port.Tag(), PhaseDeviceError);
    EXPECT_EQ(port.Log.back(), "DiscardOutput");
    port.H.OutbuffFree();
    EXPECT_EQ(port.Blocks, (std::vector<std::uint16_t>{50, 50, 50}));
    EXPECT_EQ(port.Log.back(), "Arm 4 0");
    EXPECT_FALSE(link.State().StopRequest);
    EXPECT_EQ(link.State().BlockRemaining, 0);
    port.H.OutbuffUsed();
    EXPECT_EQ(host.Calls, std::vector<std::string>{"SetULError"});
    EXPECT_EQ(port.Tag(), PhaseNone);
}

TEST_F(LinkOperationsTest, CancelStopsAfterOneMoreBlockAndAStaleStopDoesNotCutTheNextTransfer) {
    link.SetUploadMode(true);
    const auto data = Bytes(500);
    link.SendBuffer(data.data(), 500);
    port.H.OutbuffFree();
    link.SetStopRequest(true);
    port.H.OutbuffFree();
    EXPECT_EQ(port.Blocks.size(), 2u);
    EXPECT_EQ(port.Log.back(), "Arm 4 0");
    // The gauge shows the 100 of 500 bytes really handed over, not a full transfer.
    EXPECT_EQ(host.Gauge, (std::vector<int>{10, 20}));
    port.H.OutbuffUsed();
    EXPECT_EQ(host.Calls, std::vector<std::string>{"EnableScriptTimer"});

    // A stop asked for after the last block is left over when the next transfer starts.
    port.Blocks.clear();
    link.SetStopRequest(true);
    link.SendBuffer(data.data(), 120);
    RunTransfer();
    EXPECT_EQ(port.Blocks, (std::vector<std::uint16_t>{50, 50, 20}));
}

TEST_F(LinkOperationsTest, HangUpDuringTransferSendsNoMoreBlocksAndReportsOnDrain) {
    link.SetUploadMode(true);
    const auto data = Bytes(500);
    link.SendBuffer(data.data(), 500);
    port.H.OutbuffFree();
    port.LineGone = true;
    port.H.OutbuffFree();
    EXPECT_EQ(port.Blocks, std::vector<std::uint16_t>{50});
    EXPECT_EQ(port.Log.back(), "Arm 4 0");
    EXPECT_EQ(host.Gauge, std::vector<int>{10});
    port.H.OutbuffUsed();
    EXPECT_EQ(host.Calls, std::vector<std::string>{"SetULError"});
    EXPECT_TRUE(link.LineHungUp());
}

// A clock the test moves; the link times its transfers with it.
class LinkProgressTest : public LinkOperationsTest {
protected:
    LinkProgressTest() {
        link.SetClockHook([this] { return now; });
        link.SetUploadMode(true);
    }
    void At(double seconds) {
        now = LinkOperations::Clock::time_point() +
              std::chrono::duration_cast<LinkOperations::Clock::duration>(
                  std::chrono::duration<double>(seconds));
    }
    // The port's notice that its output buffer is empty, at the given time.
    void EmptiedAt(double seconds) {
        At(seconds);
        port.H.OutbuffUsed();
    }
    // Starts a transfer of data at the given time and hands all of it over.
    void TransferAt(double seconds) {
        At(seconds);
        link.SendBuffer(data.data(), 120);
        RunTransfer();
    }
    LinkOperations::Clock::time_point now{};
    const std::vector<std::uint8_t> data = Bytes(120);
};

TEST_F(LinkProgressTest, GaugeShowsWhatTheLineCanHaveCarriedNotWhatWasQueued) {
    port.LineRate = 100;
    link.SendBuffer(data.data(), 120);
    EXPECT_FALSE(link.Progress().Started);
    At(0);
    port.H.OutbuffFree(); // handed at once, but no time on the line yet
    At(0.25);
    port.H.OutbuffFree(); // 100 handed, the line carried 25
    At(1);
    port.DriverQueue = 40; // 120 handed, the driver still holds 40
    port.H.OutbuffFree();
    EXPECT_EQ(host.Gauge, (std::vector<int>{0, 21, 67}));
    const TransferProgress progress = link.Progress();
    EXPECT_EQ(progress.Total, 120);
    EXPECT_EQ(progress.Handed, 120);
    EXPECT_EQ(progress.OnLine, 80);
    EXPECT_TRUE(progress.Started);
    EXPECT_FALSE(progress.Drained);
    EXPECT_DOUBLE_EQ(progress.Seconds, 1.0);
}

TEST_F(LinkProgressTest, EndWaitsForTheDriverToSendItsQueueUnlessItStalls) {
    port.LineRate = 100;
    port.DriverQueue = 60;
    TransferAt(0);
    port.Log.clear();
    EmptiedAt(0.7); // our buffer is empty, the driver holds 60
    port.DriverQueue = 10;
    EmptiedAt(1.1);
    EXPECT_EQ(port.Log, (std::vector<std::string>{"Arm 4 0", "Arm 4 0"}));
    EXPECT_TRUE(host.Calls.empty());
    EXPECT_FALSE(link.Progress().Drained);
    port.DriverQueue = 0;
    EmptiedAt(1.3);
    EXPECT_EQ(host.Calls, std::vector<std::string>{"EnableScriptTimer"});
    TransferProgress progress = link.Progress();
    EXPECT_TRUE(progress.Drained);
    EXPECT_EQ(progress.OnLine, 120);
    EXPECT_DOUBLE_EQ(progress.Seconds, 1.3);

    // A driver whose queue does not go down for no reason its lines show is not waited for
    // beyond the limit.
    host.Calls.clear();
    port.Cts = true;
    port.DriverQueue = 30;
    TransferAt(2);
    port.H.OutbuffUsed();
    EmptiedAt(6.9);
    EXPECT_TRUE(host.Calls.empty());
    EmptiedAt(7);
    EXPECT_EQ(host.Calls, std::vector<std::string>{"EnableScriptTimer"});
    progress = link.Progress();
    EXPECT_TRUE(progress.Drained);
    EXPECT_EQ(progress.OnLine, 120); // 5 s at 100 bytes/s
}

// Output that stands still for 5 s while a transfer waits is told with what holds it: a flow line
// the driver shows, or, where the program's own buffer cannot hand over, the device or driver
// that takes nothing. Output that moves, or that waits only in a driver without a reason, is not.
TEST_F(LinkProgressTest, OutputThatStandsStillIsToldWithWhatHoldsIt) {
    struct Case {
        const char* name;
        std::int32_t driverQueue; // -1: the driver does not tell
        bool cts, ringHolds;
        std::uint8_t flow;
        const char* cause;
    };
    const Case cases[] = {
        {"cts", 4000, false, false, 8, "Nothing left for 5 s: CTS is low and Require CTS is on."},
        {"use rts", 4000, false, true, 2,
         "Nothing left for 5 s: CTS is low and Use RTS is on (its handshake waits for CTS)."},
        {"no handshake", 4000, false, true, 4,
         "Nothing left for 5 s: the driver takes no more bytes."},
        {"silent peer", -1, false, true, 8,
         "Nothing left for 5 s: the device takes no more bytes."},
        {"stuck driver", 4000, true, true, 0,
         "Nothing left for 5 s: the driver takes no more bytes."},
        {"driver only", 4000, true, false, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        port.FlowOptions = c.flow;
        port.Cts = c.cts;
        port.DriverQueue = c.driverQueue;
        port.HoldOutput = c.ringHolds;
        port.Ring = 0;
        At(0);
        link.SendBuffer(data.data(), 120);
        if (c.ringHolds)
            port.H.OutbuffFree();
        else
            RunTransfer(); // all of it in the driver
        EXPECT_EQ(link.TransferHeld(), "");
        At(4.9);
        EXPECT_EQ(link.TransferHeld(), "");
        At(5);
        EXPECT_EQ(link.TransferHeld(), c.cause);
        // Anything that moves starts the count again.
        port.HandOver(1);
        port.Handed += 1;
        EXPECT_EQ(link.TransferHeld(), "");
        link.StopTransfer();
        port.H.OutbuffUsed();
        EXPECT_FALSE(link.TransferRunning());
    }
}

// A driver that does not tell what it holds (a pseudo-terminal) holds no more than it can take:
// the peer has read the rest, as fast as it did, and once the line had time for what the driver
// can hold after the drain, the whole transfer counts as out. A port on the network may hold any
// amount: there only the line's rate tells.
TEST_F(LinkProgressTest, AnUntoldDriverHoldsNoMoreThanItCanTake) {
    port.LineRate = 10240;
    port.DriverQueue = -1;
    const std::vector<std::uint8_t> big = Bytes(100000);
    const struct {
        const char* name;
        bool bounded;
        double drainedAt;
        std::int64_t onLineAtDrain;
        double secondsLeft; // at the drain
    } cases[] = {
        // A peer that read 79520 bytes in 1 s: out 0.26 s after the drain.
        {"fast peer", true, 1, 79520, 20480.0 / 79520},
        // 9940 bytes/s, slower than the port's rate, which then bounds it: out at 9.77 s.
        {"slow peer", true, 8, 81920, 100000.0 / 10240 - 8},
        // On the network only the line's rate tells.
        {"network", false, 1, 10240, 100000.0 / 10240 - 1},
    };
    double start = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        port.Bounded = c.bounded;
        At(start);
        link.SendBuffer(big.data(), 100000);
        RunTransfer(2000);
        At(start + c.drainedAt);
        port.H.OutbuffUsed();
        EXPECT_EQ(link.Progress().OnLine, c.onLineAtDrain);
        EXPECT_NEAR(link.Progress().SecondsLeft, c.secondsLeft, 1e-9);
        At(start + c.drainedAt + c.secondsLeft + 1e-6);
        EXPECT_EQ(link.Progress().OnLine, 100000);
        EXPECT_EQ(link.Progress().SecondsLeft, 0);
        start += 100;
    }
}

// A refused file counts what had reached the line when the device refused it: the cause, the
// record and the report all give that number, not what left after it.
TEST_F(LinkProgressTest, StoppedTransferCountsWhatHadReachedTheLineWhenItStopped) {
    port.HoldOutput = true;
    link.SendDataString("LF 1 200 0000 1\r");          // waits ahead of the transfer
    const std::vector<std::uint8_t> file = Bytes(200); // the link reads it until the transfer ends
    link.SendBuffer(file.data(), 200);
    port.H.OutbuffFree();
    port.HandOver(66); // the header and the first block
    port.H.OutbuffFree();
    port.H.TriggerData(link.State().ErrorTrigger); // discards the second block
    port.H.OutbuffFree();
    port.HandOver(50); // the block sent after the discard
    port.H.OutbuffUsed();
    EXPECT_EQ(host.Calls, std::vector<std::string>{"SetULError"});
    const TransferProgress progress = link.Progress();
    EXPECT_EQ(port.Blocks.size(), 3u);
    EXPECT_EQ(progress.Handed, 100);
    EXPECT_EQ(progress.OnLine, 50);
    EXPECT_EQ(link.State().DeviceErrorAt, 50);
    EXPECT_TRUE(progress.Frozen);
    EXPECT_TRUE(progress.Drained);
}

TEST_F(LinkOperationsTest, ErrorStringOutsideTransferOpensScriptErrorOnlyInUploadMode) {
    port.H.TriggerData(link.State().ErrorTrigger);
    EXPECT_TRUE(host.Calls.empty());
    link.SetUploadMode(true);
    port.H.TriggerData(link.State().ErrorTrigger);
    EXPECT_EQ(host.Calls, std::vector<std::string>{"SetScriptError"});
    EXPECT_EQ(port.Tag(), PhaseNone);
}

TEST_F(LinkOperationsTest, PromptTriggerDiscardsInputAndReply) {
    link.State().ReplyText = "VER=2.10\r\n#";
    port.Input = "left over";
    port.H.TriggerData(link.State().PromptTrigger);
    EXPECT_TRUE(port.Input.empty());
    EXPECT_TRUE(link.State().ReplyText.empty());
}

// --- Command exchange ----------------------------------------------------------------------------

TEST_F(LinkOperationsTest, CommandAnswerIsTheValueAfterTheResultMarker) {
    std::vector<bool> cursor;
    link.SetBusyCursorHook([&](bool busy) { cursor.push_back(busy); });
    port.Answer = [](const std::string& sent) {
        return sent == "VER\r" ? std::string("VER=2.10\r\n#") : std::string("?\r\n#");
    };
    std::string answer;
    link.SendInitCmd("VER\r", answer);
    EXPECT_EQ(answer, "2.10");
    EXPECT_EQ(port.Output, "VER\r");
    EXPECT_EQ(cursor, (std::vector<bool>{true, false}));
    link.SendInitCmd("XYZ\r", answer);
    EXPECT_EQ(answer, "ERROR");
    port.Answer = [](const std::string&) { return std::string("#"); };
    link.SendInitCmd("\r", answer);
    EXPECT_EQ(answer, "OK");
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(LinkOperationsTest, ReplyClassification) {
    // The marker wins over an error string in the same reply.
    EXPECT_EQ(LinkOperations::ClassifyReply("?X=5\r\n#", "=", "?", "#"), "5");
    // Nothing between the marker and the line end.
    EXPECT_EQ(LinkOperations::ClassifyReply("=\r\n#", "=", "?", "#"), "");
    EXPECT_EQ(LinkOperations::ClassifyReply("A=", "=", "?", "#"), "");
    // Searches are case-sensitive; empty strings are never found.
    EXPECT_EQ(LinkOperations::ClassifyReply("ok>", "=", "ERR", "OK>"), "ERROR");
    EXPECT_EQ(LinkOperations::ClassifyReply("#", "", "", "#"), "OK");
    EXPECT_EQ(LinkOperations::ClassifyReply("x#", "", "", ""), "ERROR");
    EXPECT_EQ(LinkOperations::ClassifyReply("", "=", "?", "#"), "ERROR");
}

TEST_F(LinkOperationsTest, PromptDifferingInCaseEndsTheWaitButAnswersError) {
    LinkSettings settings;
    settings.PromptText = "OK>";
    link.ApplyLinkSettings(settings);
    port.Input = "ok>rest";
    std::string answer;
    link.SendInitCmd("\r", answer);
    EXPECT_EQ(answer, "ERROR");
    EXPECT_EQ(port.Input, "rest"); // the wait ended at the prompt
    EXPECT_EQ(link.State().ReplyText, "ok>");
}

TEST_F(LinkOperationsTest, NoReplyAnswersError) {
    std::string answer = "stale";
    link.SendInitCmd("VER\r", answer);
    EXPECT_EQ(answer, "ERROR");
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(LinkOperationsTest, ClosedPortShowsAccessErrorAndRestoresCursor) {
    std::vector<bool> cursor;
    link.SetBusyCursorHook([&](bool busy) { cursor.push_back(busy); });
    port.IsOpen = false;
    std::string answer;
    link.SendInitCmd("VER\r", answer);
    EXPECT_EQ(answer, "ERROR");
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Kind, MsgKind::Error);
    EXPECT_EQ(boxes.Shown[0].Text, "Error Accessing Comm Port !");
    EXPECT_EQ(cursor, (std::vector<bool>{true, false}));
}

// --- Mode switch and data triggers ---------------------------------------------------------------

TEST_F(LinkOperationsTest, UploadModeSwapsTriggerStringsAndActiveStrings) {
    const auto oldPrompt = link.State().PromptTrigger;
    link.SetUploadMode(true);
    EXPECT_EQ(port.TextTriggers.count(oldPrompt), 0u);
    ASSERT_EQ(port.TextTriggers.size(), 2u);
    EXPECT_EQ(link.State().PromptTrigger, port.TriggerOfText(">"));
    EXPECT_FALSE(port.TextTriggers[link.State().PromptTrigger].IgnoreCase);
    EXPECT_EQ(link.State().ErrorTrigger, port.TriggerOfText("ERR"));
    EXPECT_TRUE(port.TextTriggers[link.State().ErrorTrigger].IgnoreCase);
    EXPECT_EQ(link.State().ActivePrompt, ">");
    EXPECT_EQ(link.State().ActiveError, "ERR");

    // Closed: only the flag and the active strings change.
    port.IsOpen = false;
    link.SetUploadMode(false);
    EXPECT_FALSE(link.State().UploadMode);
    EXPECT_EQ(link.State().ActivePrompt, "#");
    EXPECT_EQ(link.State().ActiveError, "?");
    EXPECT_EQ(port.TriggerOfText(">"), link.State().PromptTrigger);
}

TEST_F(LinkOperationsTest, DataTriggersOffAndOnFollowTheCurrentMode) {
    link.SetUploadMode(true);
    link.DataTriggerEnabled(false);
    EXPECT_TRUE(port.TextTriggers.empty());
    link.DataTriggerEnabled(true);
    EXPECT_EQ(port.TextTriggers.size(), 2u);
    EXPECT_NE(port.TriggerOfText(">"), 0);
    EXPECT_NE(port.TriggerOfText("ERR"), 0);
}

// Whatever order the windows switch the triggers in (the terminal shown or hidden, upload mode,
// a reopen by Save), no trigger is dropped twice or armed after it went, and afterwards the port
// holds exactly the triggers of the current state.
TEST(LinkTriggerKeepingTest, SequencesOfSwitchesLeaveExactlyTheTriggersOfTheState) {
    struct Row {
        const char* Name;
        std::string Prompt;
        std::vector<std::string> Steps;
        std::set<std::string> Texts; // text triggers left on the port
        bool Open;
    };
    const std::string longPrompt(23, 'P');
    const std::vector<Row> rows = {
        {"terminal shown, then a run", "#", {"data off", "upload on"}, {}, true},
        {"terminal hidden during a run",
         "#",
         {"data off", "upload on", "data on"},
         {">", "ERR"},
         true},
        {"switched twice", "#", {"data off", "data off", "data on", "data on"}, {"#", "?"}, true},
        {"save with the terminal shown", "#", {"data off", "close", "open"}, {}, true},
        {"save, then the terminal hidden",
         "#",
         {"data off", "close", "open", "data on"},
         {"#", "?"},
         true},
        {"closed twice, then exit's mode switch", "#", {"close", "close", "upload off"}, {}, false},
        {"prompt too long, then a run and its end",
         longPrompt,
         {"upload on", "upload off", "close", "open"},
         {"?"},
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        FakeLinkPort port;
        ScriptedBoxes boxes{Unscripted::PressFirstButton};
        LinkOperations link(port, boxes);
        LinkSettings settings;
        settings.PromptText = row.Prompt;
        link.OpenWithSettings(Rs232Settings{}, settings);
        for (const std::string& step : row.Steps) {
            try {
                if (step == "data off" || step == "data on")
                    link.DataTriggerEnabled(step == "data on");
                else if (step == "upload on" || step == "upload off")
                    link.SetUploadMode(step == "upload on");
                else if (step == "close")
                    link.CloseAndDropTriggers();
                else
                    link.OpenPortWithTriggers();
            } catch (const std::exception& e) {
                // Only the string the port cannot take may fail, never a handle.
                EXPECT_EQ(std::string(e.what()), "trigger string too long") << step;
            }
        }
        std::set<std::string> texts;
        for (const auto& [handle, trigger] : port.TextTriggers)
            texts.insert(trigger.Text);
        EXPECT_EQ(texts, row.Texts);
        ASSERT_EQ(port.IsOpen, row.Open);
        const auto& st = link.State();
        for (std::uint16_t handle : {st.PromptTrigger, st.ErrorTrigger})
            EXPECT_TRUE(handle == 0 || port.TextTriggers.count(handle) == 1);
        if (row.Open) {
            EXPECT_EQ(port.StatusTriggers.size(), 2u);
            const std::uint8_t byte = 1;
            EXPECT_NO_THROW(link.SendBuffer(&byte, 1));
        }
    }
}

// --- Port set-up ---------------------------------------------------------------------------------

TEST_F(LinkSetupTest, OpenWithSettingsConfiguresThePortThenOpensWithFourTriggers) {
    Rs232Settings s;
    s.PortNumber = 3;
    s.BaudRate = 115200;
    s.DataBitCount = 7;
    s.ParityCode = 2;
    s.StopBitCount = 2;
    s.UseDtr = true;
    s.UseRts = false;
    s.RequireDsr = true;
    s.RequireCts = false;
    s.DtrOn = false;
    s.RtsOn = true;
    LinkSettings l;
    l.BufferSize = 3000;
    l.PromptText = "P>";
    ASSERT_TRUE(link.OpenWithSettings(s, l));
    EXPECT_EQ(port.Log,
              (std::vector<std::string>{"Close", "Baud 115200", "ComNumber 3", "DataBits 7",
                                        "Parity 2", "StopBits 2", "Flow 0", "Flow 5", "DTR 0",
                                        "RTS 1", "OutSize 3000", "Open"}));
    const auto& st = link.State();
    EXPECT_EQ(port.TextTriggers.at(st.PromptTrigger).Text, "P>");
    EXPECT_FALSE(port.TextTriggers.at(st.PromptTrigger).IgnoreCase);
    EXPECT_EQ(port.TextTriggers.at(st.ErrorTrigger).Text, "?");
    EXPECT_TRUE(port.TextTriggers.at(st.ErrorTrigger).IgnoreCase);
    EXPECT_EQ(port.StatusTriggers.at(st.RoomTrigger), StatusKindOutputFree);
    EXPECT_EQ(port.StatusTriggers.at(st.DrainTrigger), StatusKindOutputUsed);
    EXPECT_EQ(st.ActivePrompt, "P>");
    EXPECT_EQ(host.ComBtnState, std::vector<bool>{true});
    EXPECT_TRUE(boxes.Shown.empty());

    link.CloseAndDropTriggers();
    EXPECT_FALSE(port.IsOpen);
    EXPECT_TRUE(port.TextTriggers.empty());
    EXPECT_TRUE(port.StatusTriggers.empty());
}

TEST_F(LinkSetupTest, FailuresToOpenOrToMakeATriggerAreReportedAndDisableThePortControls) {
    port.FailOpen = true;
    EXPECT_FALSE(link.OpenWithSettings(Rs232Settings{}, LinkSettings{}));
    EXPECT_FALSE(port.IsOpen);
    EXPECT_EQ(host.ComBtnState, std::vector<bool>{false});
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Text, "Error Opening Selected Comm Port !");
    // Kept for whoever must say why the port is not there (a station's row, a runner's report).
    EXPECT_EQ(link.OpenFailure(), boxes.Shown[0].Text);

    // A trigger string too long for a data trigger: the port itself stays open.
    port.FailOpen = false;
    LinkSettings l;
    l.ErrorText = std::string(22, 'E');
    EXPECT_FALSE(link.OpenWithSettings(Rs232Settings{}, l));
    EXPECT_TRUE(port.IsOpen);
    EXPECT_EQ(host.ComBtnState, (std::vector<bool>{false, false}));
    EXPECT_EQ(boxes.Shown.size(), 2u);
    EXPECT_EQ(link.OpenFailure(), boxes.Shown[1].Text);
    EXPECT_TRUE(link.OpenWithSettings(Rs232Settings{}, LinkSettings{}));
    EXPECT_EQ(link.OpenFailure(), "");
}

TEST_F(LinkSetupTest, BlockSizeIsKeptWithinOneAndTheBufferSize) {
    LinkSettings l;
    l.BlockSize = 0;
    link.ApplyLinkSettings(l);
    EXPECT_EQ(link.State().BlockSize, 1);
    l.BlockSize = 5000;
    l.BufferSize = 3000;
    link.ApplyLinkSettings(l);
    EXPECT_EQ(link.State().BlockSize, 3000);
    l.BufferSize = 100;
    link.ApplyLinkSettings(l);
    EXPECT_EQ(link.State().BufferSize, Rs232SettingsFile::MinBufferSize);
}

// --- Pacing and the smaller operations ----------------------------------------------------------

TEST_F(LinkOperationsTest, AStringHasRoomWithTenBytesToSpareAndGoesOutAsItIs) {
    port.Room = 12; // one short of length + 10
    EXPECT_FALSE(link.RoomFor(3));
    port.Room = 13;
    EXPECT_TRUE(link.RoomFor(3));
    link.WriteString(std::string("A\0B", 3));
    EXPECT_EQ(port.Output, std::string("A\0B", 3));
}

TEST_F(LinkOperationsTest, SmallOperationsAndTheirFailures) {
    const std::uint8_t bytes[] = {1, 2, 3};
    port.Room = 3;
    EXPECT_FALSE(link.SendBlock(bytes, 3));
    port.Room = 4;
    EXPECT_TRUE(link.SendBlock(bytes, 3));
    port.Room = 10;
    link.SendDataByte(0xFF);
    EXPECT_EQ(port.Output, std::string("\x01\x02\x03\xFF", 4));

    port.Input = "abc";
    EXPECT_EQ(link.PreviewChar(2), 'b');
    EXPECT_EQ(link.PreviewChar(9), 0);
    char buffer[3] = {};
    EXPECT_TRUE(link.GetBuffer(buffer, 2));
    EXPECT_EQ(std::string(buffer, 2), "ab");
    EXPECT_FALSE(link.GetBuffer(buffer, 2)); // only one byte left
    port.Input = "x";
    port.LineError = 4;
    EXPECT_FALSE(link.GetBuffer(buffer, 1));

    port.Input = "zz";
    link.FlushInput();
    EXPECT_TRUE(port.Input.empty());
    // Taking the input hands over what was waiting, then discards.
    port.Input = "#>x";
    EXPECT_EQ(link.TakeInput(), "#>x");
    EXPECT_TRUE(port.Input.empty());
    EXPECT_EQ(port.Log.back(), "DiscardInput");
    EXPECT_TRUE(link.State().ReplyText.empty());
    link.FlushAll();
    EXPECT_EQ(port.Log.back(), "DiscardOutput");
    EXPECT_TRUE(link.SCommOpen());
    port.IsOpen = false;
    EXPECT_FALSE(link.SCommOpen());
    EXPECT_EQ(link.PreviewChar(1), 0);
    EXPECT_FALSE(link.GetBuffer(buffer, 1));
}

} // namespace
} // namespace pellwick
