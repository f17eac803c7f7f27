#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>

#include "EngineFixture.h"
#include "upload/ScriptText.h"

namespace pellwick {
namespace {

using Strings = std::vector<std::string>;
using test::BoxCall;
using test::Boxes;

constexpr const char* UploadErrorText =
    "Upload error encountered, script aborted! Reset remote system.\rFile: ";

class UploadEngineTest : public test::EngineFixture {
protected:
    static void SetModified(const std::string& name, int hour, int minute, int second) {
        std::tm when{};
        when.tm_year = 2001 - 1900;
        when.tm_mon = 2;
        when.tm_mday = 7;
        when.tm_hour = hour;
        when.tm_min = minute;
        when.tm_sec = second;
        when.tm_isdst = -1;
        const std::time_t stamp = std::mktime(&when);
        const struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, name.c_str(), times, 0), 0);
    }

    // Index of the first call named `name` in the link's journal, -1 when absent.
    long CallIndex(const std::string& name) const {
        const auto it = std::find(link.Calls.begin(), link.Calls.end(), name);
        return it == link.Calls.end() ? -1 : it - link.Calls.begin();
    }
};

TEST_F(UploadEngineTest, UploadSendsHeaderWaitsSendsTheBytesAndVerifies) {
    WriteFile("a.bin", "\x01\x02\xff");
    WriteScript({"_LF a.bin", "_LA 00020000", "_LV 1.02", "_LD", "_SC \"END\""});
    window.TerminalCreated = true;
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(link.Sent, (Strings{"LF 00020000 3 0102 1.02\r", "END"}));
    ASSERT_EQ(link.Transfers.size(), 1u);
    EXPECT_EQ(link.Transfers[0], (std::vector<std::uint8_t>{1, 2, 255}));
    // Header, then the pre-upload pause, then the data; the verification after the transfer.
    // Received input is thrown away before the verifying CR goes out.
    EXPECT_EQ(link.Calls, (Strings{"SetUploadMode", "SendDataString", "Sleep 1000", "SendBuffer",
                                   "TakeInput", "SendInitCmd", "TakeInput", "SendDataString"}));
    EXPECT_EQ(link.InitCmds, Strings{"\r"});
    EXPECT_EQ(window.Labels.front(), "a.bin");
    EXPECT_EQ(window.Labels.back(), "Upload Progress");
    EXPECT_EQ(window.UploadGauge.front(), 50);
    EXPECT_EQ(window.UploadGauge.back(), 0);
    EXPECT_EQ(window.TerminalActive, (std::vector<bool>{false, true}));
    EXPECT_TRUE(engine.Run().UploadBuffer.empty());
    ASSERT_EQ(engine.Record().Files.size(), 1u);
    EXPECT_EQ(engine.Record().Files[0].Outcome, FileOutcome::Verified);
    EXPECT_EQ(engine.Record().Files[0].BytesSent, 3);
    EXPECT_EQ(engine.Record().End, RunEnd::Completed);
    EXPECT_EQ(window.Lamp, LampGreen);
    EXPECT_TRUE(boxes.Shown.empty());
    ExpectIdle();

    const Strings log = ScriptText::SplitLines(ReadFile("loader.log"));
    ASSERT_EQ(log.size(), 9u);
    EXPECT_EQ(log[0], "Quarrow, RS232 Pellwick upload log");
    EXPECT_EQ(log[2], "");
    EXPECT_EQ(Strings(log.begin() + 3, log.end()),
              (Strings{"File Name: a.bin", "  File Size: 3", "  File Checksum: 0102",
                       "  File Version: 1.02; " + DateText::ForFile("a.bin", {}, "?"),
                       "  Load Address: 00020000", ""}));
    EXPECT_NE(ReadFile("loader.log").find("\r\n\r\n"), std::string::npos);
}

TEST_F(UploadEngineTest, VersionDateInAnyCaseSendsTheFileDateText) {
    WriteFile("a.bin", "x");
    WriteFile("empty.bin", "");
    SetModified("a.bin", 14, 5, 9);
    SetModified("empty.bin", 0, 0, 0);
    engine.SetDateFormats({"%-m/%-d/%Y", "%-I:%M:%S %p"});
    WriteScript({"_LA 1", "_LF a.bin", "_LV date", "_LD", "_LV DATE1", "_LD", "_LF empty.bin",
                 "_LV DATE", "_LD"});
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(link.Sent, (Strings{"LF 1 1 0078 3/7/2001_2:05:09PM\r", "LF 1 1 0078 DATE1\r",
                                  "LF 1 0 0000 _3/7/2001\r"}));
    const std::string log = ReadFile("loader.log");
    EXPECT_NE(log.find("  File Version: date; 3/7/2001_2:05:09PM\r\n"), std::string::npos);
    EXPECT_NE(log.find("  File Version: DATE1; 3/7/2001_2:05:09PM\r\n"), std::string::npos);
    ExpectIdle();
}

TEST_F(UploadEngineTest, FailedVerificationShowsTheTestFailureThenTheUploadError) {
    WriteFile("a.bin", "abc");
    WriteScript({"_LF a.bin", "_LD", "_SC \"never\""});
    link.Answers = {"ERROR", "ERROR"};
    boxes.Answers = {MbOk, MbOk};
    window.TerminalCreated = true;
    engine.StartRun(false);
    Drive();
    const std::string cause = "\rNo answer to the verifying CR (2 tries, 5.5 s).";
    EXPECT_EQ(boxes.Shown, (Boxes{{MsgKind::Error,
                                   "Communication test failed. Upload of a.bin may have "
                                   "failed!\rScript Line: 2" +
                                       cause,
                                   MbOk},
                                  {MsgKind::Error, UploadErrorText + ("a.bin" + cause), MbOk}}));
    EXPECT_EQ(link.InitCmds, (Strings{"\r", "\r"}));
    EXPECT_EQ(Pauses, (std::vector<std::int32_t>{1000, 2000}));
    // A run that has ended shows an empty upload gauge, ready for the next.
    EXPECT_EQ(window.UploadGauge, (std::vector<int>{50, 70, 90, 0}));
    EXPECT_EQ(window.Labels.back(), "Upload Progress");
    EXPECT_EQ(engine.Record().Files.at(0).Outcome, FileOutcome::NotVerified);
    EXPECT_EQ(engine.Record().End, RunEnd::NotVerified);
    EXPECT_EQ(window.TerminalActive, (std::vector<bool>{false, true}));
    EXPECT_EQ(link.Sent.size(), 1u); // the header only
    EXPECT_TRUE(engine.Run().UploadBuffer.empty());
    EXPECT_EQ(window.Lamp, LampRed);
    ExpectIdle();
}

TEST_F(UploadEngineTest, SecondVerificationTryAfterThePostDelayCanStillSucceed) {
    WriteFile("a.bin", "abc");
    WriteScript({"_LP 3", "_LF a.bin", "_LD", "_SC \"next\""});
    link.Answers = {"ERROR", "OK"};
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(Pauses, (std::vector<std::int32_t>{1000, 3000, 2000}));
    EXPECT_EQ(link.Sent.back(), "next");
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(UploadEngineTest, EachStartCreatesTheLogAnew) {
    WriteFile("a.bin", "abc");
    WriteScript({"_LF a.bin", "_LD"});
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(ScriptText::SplitLines(ReadFile("loader.log")).size(), 9u);
    WriteScript({"comment"});
    engine.StartRun(false);
    Drive();
    const std::string log = ReadFile("loader.log");
    EXPECT_EQ(ScriptText::SplitLines(log).size(), 3u);
    EXPECT_EQ(log.rfind("Quarrow, RS232 Pellwick upload log\r\n", 0), 0u);
}

TEST_F(UploadEngineTest, MissingUploadFileOffersIgnoreToVerifyAndAbortToTheScriptErrorDialog) {
    const BoxCall notFound{MsgKind::Error,
                           "Script file error - File not found!\r"
                           "File Name: missing.bin\rLine Number: 2",
                           MbAbort | MbIgnore};
    WriteScript({"_LF missing.bin", "_LD", "_SC \"next\""});
    boxes.Answers = {MbIgnore};
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(boxes.Shown, Boxes{notFound});
    EXPECT_TRUE(link.Transfers.empty());
    EXPECT_EQ(link.InitCmds, Strings{"\r"});
    EXPECT_EQ(link.Sent, Strings{"next"});
    ExpectIdle();

    boxes.Shown.clear();
    link.InitCmds.clear();
    link.Sent.clear();
    boxes.Answers = {MbAbort, MbAbort};
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(boxes.Shown,
              (Boxes{notFound,
                     {MsgKind::Error,
                      "Script error encountered! - System not responding or command error.\r"
                      "File Name: loader.sld\rLine Number: 2\r"
                      "The upload file \"missing.bin\" cannot be opened.",
                      MbAbort | MbIgnore}}));
    EXPECT_TRUE(link.InitCmds.empty());
    EXPECT_TRUE(link.Sent.empty());
    ExpectIdle();
}

// Mended: a cancel outside a transfer left StopRequest set, and it stopped the next transfer.
TEST_F(UploadEngineTest, CancelAsksFirstAndYesEndsTheRunOnTheNextTickLeavingNoStopRequest) {
    WriteScript({"_LF a.bin", "_DY 100", "_SC \"A\""});
    engine.StartRun(false);
    engine.ScriptTimerTimer();
    engine.ScriptTimerTimer();

    boxes.Answers = {MbNo};
    engine.BtnULCancelClick();
    EXPECT_EQ(boxes.Shown, (Boxes{{MsgKind::Warning, "Cancel current upload?", MbYes | MbNo}}));
    EXPECT_EQ(engine.Run().State, ScriptState::ssDelay);
    EXPECT_FALSE(link.StopRequest);

    boxes.Answers = {MbYes, MbOk};
    engine.BtnULCancelClick();
    EXPECT_EQ(engine.Run().State, ScriptState::ssCancelled);
    EXPECT_TRUE(link.StopRequest);
    EXPECT_EQ(Drive(), 1);
    EXPECT_EQ(boxes.Shown.back().Text,
              std::string(UploadErrorText) + "a.bin\rCancelled by the operator.");
    EXPECT_EQ(engine.Record().End, RunEnd::Cancelled);
    EXPECT_TRUE(link.Sent.empty());
    EXPECT_EQ(window.Lamp, LampRed);
    ExpectIdle();
    EXPECT_FALSE(link.StopRequest);

    WriteFile("a.bin", "abc");
    WriteScript({"_LF a.bin", "_LD"});
    link.Calls.clear();
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(link.StopRequestAtTransferStart, std::vector<bool>{false});
    EXPECT_EQ(CallIndex("SetStopRequest(true)"), -1);
    EXPECT_EQ(boxes.Shown.size(), 3u); // the two cancel questions and the upload error only
}

TEST_F(UploadEngineTest, CancelDuringATransferEndsTheRunWhenTheLinkHasDrainedWithTheShareSent) {
    WriteFile("a.bin", std::string(500, 'x'));
    WriteScript({"_LF a.bin", "_LD", "_SC \"A\""});
    engine.StartRun(false);
    TickUntil([&] { return link.TransferPending; });
    EXPECT_FALSE(engine.TimerActive()); // waits for the link
    // 200 of 500 bytes are out when the operator cancels: what is queued goes at once, and the
    // report shows that share, not what the link handed over after it.
    link.LinkStateValue.BlockCursor = link.TransferEnd - 300;
    boxes.Answers = {MbYes, MbOk};
    engine.BtnULCancelClick();
    EXPECT_TRUE(link.StopRequest);
    EXPECT_NE(CallIndex("StopTransfer"), -1);
    link.TransferPending = false;
    link.LinkStateValue.BlockCursor = link.TransferEnd - 250;
    engine.EnableScriptTimer();
    Drive();
    EXPECT_TRUE(link.InitCmds.empty()); // no verification of a cancelled upload
    EXPECT_EQ(boxes.Shown.back().Text,
              std::string(UploadErrorText) + "a.bin\rCancelled by the operator.");
    EXPECT_EQ(window.UploadGauge.back(), 0);
    ASSERT_EQ(engine.Record().Files.size(), 1u);
    EXPECT_EQ(engine.Record().Files[0].Outcome, FileOutcome::Cancelled);
    EXPECT_EQ(engine.Record().Files[0].BytesSent, 200);
    EXPECT_TRUE(engine.Run().UploadBuffer.empty());
    ExpectIdle();
}

TEST_F(UploadEngineTest, CancelWhileTheHeaderGoesOutStartsNoTransfer) {
    WriteFile("a.bin", "abc");
    WriteScript({"_LF a.bin", "_LD"});
    window.TerminalCreated = true;
    boxes.Answers = {MbYes, MbOk};
    link.OnSend = [&](const std::string&) { engine.BtnULCancelClick(); };
    engine.StartRun(false);
    Drive();
    EXPECT_TRUE(link.Transfers.empty());
    EXPECT_EQ(boxes.Shown.back().Text,
              std::string(UploadErrorText) + "a.bin\rCancelled by the operator.");
    EXPECT_EQ(window.TerminalActive, (std::vector<bool>{false, true}));
    ExpectIdle();
}

TEST_F(UploadEngineTest, DeviceErrorOrHangUpDuringATransferEndsTheRunWithTheUploadErrorReport) {
    struct Row {
        bool hungUp;
        const char* cause;
        FileOutcome outcome;
    };
    for (const Row& row :
         {Row{false, "The device answered \"ERR\" after 2 of 3 bytes.", FileOutcome::Refused},
          Row{true, "The device hung up after 3 bytes.", FileOutcome::HungUp}}) {
        SCOPED_TRACE(row.cause);
        WriteFile("a.bin", "abc");
        WriteScript({"_LF a.bin", "_LD", "_SC \"A\""});
        TransferEndsWithDeviceError = true;
        link.HungUp = row.hungUp;
        link.LinkStateValue.DeviceErrorAt = row.hungUp ? -1 : 2;
        boxes.Shown.clear();
        boxes.Answers = {MbOk};
        engine.StartRun(false);
        Drive();
        ASSERT_EQ(boxes.Shown.size(), 1u);
        EXPECT_EQ(boxes.Shown[0].Text, std::string(UploadErrorText) + "a.bin\r" + row.cause);
        EXPECT_EQ(engine.Record().Files.at(0).Outcome, row.outcome);
        EXPECT_TRUE(link.InitCmds.empty());
        EXPECT_EQ(window.Lamp, LampRed);
        ExpectIdle();
        // A late end-of-transfer report after the run has ended reports nothing twice.
        engine.EnableScriptTimer();
        Drive();
        EXPECT_EQ(boxes.Shown.size(), 1u);
        ExpectIdle();
    }
}

// Mended: a read failure ("Insufficient Memory Resources") used to leave the window in the
// running state for good.
TEST_F(UploadEngineTest, UnreadableUploadFileEndsTheRunAndReturnsToIdle) {
    // 2 GiB, sparse: more than a transfer can count.
    std::ofstream("huge.bin").close();
    std::filesystem::resize_file("huge.bin", std::uintmax_t{1} << 31);
    WriteScript({"_LF huge.bin", "_LD"});
    boxes.Answers = {MbOk};
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(boxes.Shown, (Boxes{{MsgKind::Error,
                                   "Insufficient Memory Resources - Script Terminated !", MbOk}}));
    EXPECT_TRUE(engine.Run().UploadBuffer.empty());
    ExpectIdle();
}

// Mended: an exception of the link inside a step used to leave the run stuck half-way.
TEST_F(UploadEngineTest, LinkFailureInsideAStepIsReportedAndEndsTheRun) {
    WriteScript({"_SC \"A\"", "_SC \"B\""});
    link.ThrowOnSend = "A";
    boxes.Answers = {MbOk};
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(boxes.Shown, (Boxes{{MsgKind::Error, "Port not open", MbOk}}));
    EXPECT_TRUE(link.Sent.empty());
    EXPECT_EQ(window.Lamp, LampRed);
    ExpectIdle();

    // The port goes away while the file is handed over: terminal back on, buffer released.
    WriteFile("a.bin", "abc");
    WriteScript({"_LF a.bin", "_LD", "_SC \"A\""});
    link.ThrowOnSend.clear();
    link.ThrowOnSendBuffer = true;
    window.TerminalCreated = true;
    boxes.Answers = {MbOk};
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(boxes.Shown.back().Text, "Port not open");
    EXPECT_EQ(window.TerminalActive, (std::vector<bool>{false, true}));
    EXPECT_TRUE(engine.Run().UploadBuffer.empty());
    ExpectIdle();

    // The device hangs up during a test command and the link raises.
    WriteScript({"_TC \"A\"", "_SC \"B\""});
    link.ThrowOnSendBuffer = false;
    link.ThrowOnInitCmd = true;
    link.ThrowMessage = "Device disconnected";
    link.Sent.clear();
    boxes.Answers = {MbOk};
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(boxes.Shown.back().Text, "Device disconnected");
    EXPECT_TRUE(link.Sent.empty());
    ExpectIdle();
}

// Mended: a negative delay would have become an endless sleep of the GUI thread.
TEST_F(UploadEngineTest, NegativeDelaysDoNotSleep) {
    GeneralSettings settings;
    settings.Delay = -1;
    engine.ApplySettings(settings);
    WriteFile("a.bin", "abc");
    WriteScript({"_LP -5", "_LF a.bin", "_LD"});
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(engine.Run().PostDelay, -5000);
    EXPECT_TRUE(Pauses.empty());
    EXPECT_EQ(link.InitCmds, Strings{"\r"});
}

} // namespace
} // namespace pellwick
