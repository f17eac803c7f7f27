// The verdict of an upload, phase by phase: what the device answered (or did not) decides
// between the upload-error report and the next line, and nothing later makes a failed upload
// look like a script error that Ignore could pass.
#include <sys/stat.h>

#include "EngineFixture.h"
#include "upload/ScriptText.h"

namespace pellwick {
namespace {

using Strings = std::vector<std::string>;

constexpr const char* TestFailedText =
    "Communication test failed. Upload of a.bin may have failed!";
constexpr const char* UploadErrorText =
    "Upload error encountered, script aborted! Reset remote system.\rFile: a.bin";

class UploadVerdictTest : public test::EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        WriteFile("a.bin", std::string(500, 'x'));
    }

    Strings BoxTexts() const {
        Strings texts;
        for (const auto& box : boxes.Shown) {
            texts.push_back(box.Text);
        }
        return texts;
    }
};

// --- Start -------------------------------------------------------------------------------------

TEST_F(UploadVerdictTest, StartWarnsOnceWhenAnEmptyErrorStringHidesRefusals) {
    struct Row {
        const char* error;
        const char* ulError;
        const char* named; // nullptr: no warning
    };
    // A run works in upload mode: only the upload error string decides what it can detect.
    for (const Row& row : {Row{"?", "ERR", nullptr}, Row{"?", "", "\"UL Error\""},
                           Row{"", "ERR", nullptr}, Row{"", "", "\"UL Error\""}}) {
        SCOPED_TRACE(row.named ? row.named : "none");
        boxes.Shown.clear();
        link.LinkStateValue.ErrorText = row.error;
        link.LinkStateValue.UlErrorText = row.ulError;
        WriteScript({"_SC \"A\"", "_SC \"B\""});
        boxes.Answers = {MbOk};
        engine.StartRun(false);
        Drive();
        ExpectIdle();
        if (row.named == nullptr) {
            EXPECT_TRUE(boxes.Shown.empty());
            continue;
        }
        ASSERT_EQ(boxes.Shown.size(), 1u);
        EXPECT_EQ(boxes.Shown[0].Kind, MsgKind::Warning);
        EXPECT_EQ(boxes.Shown[0].Text,
                  "The device's error string " + std::string(row.named) +
                      " is empty: a command or file the device refuses cannot be detected.\r"
                      "Set it in section [Trigger] of loader.ini.");
    }
}

TEST_F(UploadVerdictTest, ScriptOrUploadFileThatIsNotARegularFileIsRefusedWithoutBlocking) {
    ASSERT_EQ(::mkfifo("fifo", 0600), 0);
    boxes.Answers = {MbOk};
    engine.ProcessScript("fifo");
    EXPECT_EQ(boxes.Shown.back().Text, "Script file \"fifo\" not found !");
    EXPECT_FALSE(engine.Running());

    // A folder is no file to upload either: it is not found, as a FIFO or a device is.
    std::filesystem::create_directory("dir.bin");
    for (const std::string name : {"fifo", "dir.bin"}) {
        SCOPED_TRACE(name);
        boxes.Shown.clear();
        WriteScript({"_LF " + name, "_LD", "_SC \"A\""});
        boxes.Answers = {MbAbort, MbAbort};
        engine.StartRun(false);
        Drive();
        ASSERT_EQ(boxes.Shown.size(), 2u);
        EXPECT_EQ(boxes.Shown[0].Text,
                  "Script file error - File not found!\rFile Name: " + name + "\rLine Number: 2");
        EXPECT_TRUE(link.Sent.empty());
        EXPECT_TRUE(link.Transfers.empty());
        EXPECT_EQ(window.Lamp, LampRed);
        ExpectIdle();
        engine.ScriptTimerTimer(); // a stray tick after the end does nothing visible
        EXPECT_EQ(boxes.Shown.size(), 2u);
        ExpectIdle();
    }
}

TEST_F(UploadVerdictTest, ScriptAboveTheSizeLimitIsReportedNotRead) {
    std::ofstream("big.sld").close();
    std::filesystem::resize_file("big.sld", ScriptText::MaxScriptBytes + 1);
    boxes.Answers = {MbOk};
    engine.ProcessScript("big.sld");
    EXPECT_EQ(boxes.Shown.back().Text,
              "Script file \"big.sld\" is larger than 16777216 bytes: not a script !");
    EXPECT_FALSE(engine.Running());
    // Exactly at the limit it is a script.
    std::filesystem::resize_file("big.sld", ScriptText::MaxScriptBytes);
    EXPECT_TRUE(ScriptText::ReadFile("big.sld").has_value());
}

// The runner's report and a station's row read why a run ended from its record alone: the error
// box that ended it, or the last one it went past, is kept there as it was shown.
TEST_F(UploadVerdictTest, TheRecordKeepsTheErrorBoxThatEndedTheRunOrWasIgnoredLast) {
    struct Row {
        const char* name;
        Strings script; // empty: no script to read
        const char* throwOnSend;
        bool bufferFails; // the link raises while the file is handed over
        MsgButton answer;
        RunEnd end;
        int ignored;
    };
    const Row rows[] = {
        {"script unreadable", {}, "", false, MbOk, RunEnd::ScriptUnreadable, 0},
        {"link fault in a step", {"_SC \"A\""}, "A", false, MbOk, RunEnd::Failed, 0},
        {"link fault in a file", {"_LF a.bin", "_LD"}, "", true, MbOk, RunEnd::Failed, 0},
        {"no file, ignored", {"_LF none.bin", "_LD"}, "", false, MbIgnore, RunEnd::Completed, 1},
        {"no file", {"_LF none.bin", "_LD"}, "", false, MbAbort, RunEnd::ScriptAborted, 0},
        {"refused file", {"_LF a.bin", "_LD"}, "", false, MbOk, RunEnd::Refused, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        boxes.Shown.clear();
        boxes.Answers = {row.answer, MbOk, MbOk};
        std::filesystem::remove("loader.sld");
        if (!row.script.empty()) {
            WriteScript(row.script);
        }
        link.ThrowOnSend = row.throwOnSend;
        link.ThrowOnSendBuffer = row.bufferFails;
        TransferEndsWithDeviceError = row.end == RunEnd::Refused;
        engine.StartRun(false);
        Drive();
        ExpectIdle();
        const RunRecord& record = engine.Record();
        EXPECT_EQ(record.End, row.end);
        EXPECT_EQ(record.IgnoredErrors, row.ignored);
        std::string lastError;
        for (const auto& box : boxes.Shown) {
            lastError = box.Kind == MsgKind::Error ? box.Text : lastError;
        }
        EXPECT_FALSE(lastError.empty());
        EXPECT_EQ(record.Message, lastError);
        for (const FileRecord& file : record.Files) {
            EXPECT_EQ(file.Message, file.Outcome == FileOutcome::Verified ? "" : lastError);
        }
    }
}

// --- Transfer ----------------------------------------------------------------------------------

TEST_F(UploadVerdictTest, ErrorStringDuringOrAfterAFailedUploadStaysAnUploadError) {
    // Where the device's error string (SetScriptError) arrives: while the file is on its way,
    // after the transfer already ended in an error, and after a refused verification.
    enum class When { DuringTransfer, AfterDeviceError, AfterRefusedVerification };
    for (When when :
         {When::DuringTransfer, When::AfterDeviceError, When::AfterRefusedVerification}) {
        SCOPED_TRACE(static_cast<int>(when));
        boxes.Shown.clear();
        window.TerminalActive.clear();
        window.TerminalCreated = true;
        WriteScript({"_LF a.bin", "_LD", "_SC \"after\""});
        engine.StartRun(false);
        TickUntil([&] { return link.TransferPending; });
        link.TransferPending = false;
        if (when == When::DuringTransfer) {
            engine.SetScriptError();
            engine.EnableScriptTimer(); // the drain that follows
        } else if (when == When::AfterDeviceError) {
            engine.SetULError();
            engine.SetScriptError();
        } else {
            link.Answers = {"ERROR"};
            link.Replies = {"ERR\r\n>"};
            engine.EnableScriptTimer();
            boxes.Answers = {MbOk};
            TickUntil([&] { return engine.Run().State == ScriptState::ssUploadError; });
            engine.SetScriptError(); // its error string, scanned after the exchange
        }
        boxes.Answers.push_back(MbOk);
        Drive();
        ASSERT_FALSE(boxes.Shown.empty());
        EXPECT_EQ(boxes.Shown.back().Text.rfind(UploadErrorText, 0), 0u);
        EXPECT_EQ(engine.Record().Files.at(0).Outcome, FileOutcome::Refused);
        for (const auto& box : boxes.Shown) {
            EXPECT_EQ(box.Text.find("Script error encountered"), std::string::npos);
        }
        EXPECT_EQ(link.Sent.back().rfind("LF ", 0), 0u) << "the script went on";
        EXPECT_EQ(window.TerminalActive, (std::vector<bool>{false, true}));
        EXPECT_TRUE(engine.Run().UploadBuffer.empty());
        ExpectIdle();
    }
}

// Mended: a second error string, or a confirmed cancel, during a transfer that the device had
// already stopped ended the run at once: the upload buffer was released and the stop request
// cleared while the link could still send from it.
TEST_F(UploadVerdictTest, DuringATransferErrorsAndCancelsOnlyRecordAndTheDrainEndsTheRun) {
    enum class What { SecondErrorString, Cancel, Both };
    for (What what : {What::SecondErrorString, What::Cancel, What::Both}) {
        SCOPED_TRACE(static_cast<int>(what));
        boxes.Shown.clear();
        WriteScript({"_LF a.bin", "_LD", "_SC \"after\""});
        engine.StartRun(false);
        TickUntil([&] { return link.TransferPending; });
        const std::uint8_t* held = engine.Run().UploadBuffer.data();
        if (what != What::Cancel) {
            engine.SetScriptError();
        }
        if (what != What::SecondErrorString) {
            boxes.Answers = {MbYes};
            engine.BtnULCancelClick();
        }
        EXPECT_FALSE(engine.TimerActive()) << "a tick before the drain";
        EXPECT_EQ(engine.Run().UploadBuffer.data(), held) << "released under the transfer";
        boxes.Answers = {MbOk};
        EndTransfer();
        Drive();
        ASSERT_FALSE(boxes.Shown.empty());
        EXPECT_EQ(boxes.Shown.back().Text.rfind(UploadErrorText, 0), 0u);
        // The first of the two names the cause.
        const bool refusedFirst = what != What::Cancel;
        EXPECT_EQ(engine.Record().Files.at(0).Outcome,
                  refusedFirst ? FileOutcome::Refused : FileOutcome::Cancelled);
        EXPECT_TRUE(engine.Run().UploadBuffer.empty());
        EXPECT_FALSE(link.StopRequest);
        ExpectIdle();
    }
}

TEST_F(UploadVerdictTest, YesToTheCancelQuestionAfterTheRunEndedIsAnswered) {
    WriteScript({"_SC \"A\""});
    engine.StartRun(false);
    boxes.Answers = {MbYes, MbOk};
    // The run ends while the question is open.
    boxes.OnShow = [&](const test::BoxCall& box) {
        if (box.Kind == MsgKind::Warning) {
            Drive();
        }
    };
    engine.BtnULCancelClick();
    ASSERT_EQ(boxes.Shown.size(), 2u);
    EXPECT_EQ(boxes.Shown[1].Kind, MsgKind::Information);
    EXPECT_EQ(boxes.Shown[1].Text,
              "The upload run had already ended: there was nothing left to cancel.");
    EXPECT_NE(engine.Run().State, ScriptState::ssCancelled);
    EXPECT_FALSE(link.StopRequest);
    ExpectIdle();
}

// --- Verification ------------------------------------------------------------------------------

TEST_F(UploadVerdictTest, VerificationRetriesOnlyAnAnswerThatDidNotCome) {
    struct Row {
        const char* name;
        Strings answers;
        Strings replies;
        Strings stale; // what is waiting in the input before each CR
        bool stalePrompt;
        bool hungUp;
        std::size_t crs;   // verifying CRs sent
        bool retryPause;   // the 2000 ms pause before the second try
        const char* cause; // nullptr: the file passes
    };
    const char* refused = "The device answered \"ERR\" to the verifying CR.";
    const Row rows[] = {
        {"prompt", {"OK"}, {">"}, {}, false, false, 1, false, nullptr},
        {"time-out then prompt", {"ERROR", "OK"}, {"", ">"}, {}, false, false, 2, true, nullptr},
        {"two time-outs",
         {"ERROR", "ERROR"},
         {"", ""},
         {},
         false,
         false,
         2,
         true,
         "No answer to the verifying CR (2 tries, 5.5 s)."},
        {"no prompt in what came",
         {"ERROR", "ERROR"},
         {"", "x\r"},
         {},
         false,
         false,
         2,
         true,
         "No prompt in the answer to the verifying CR (2 tries): \"x^M\"."},
        {"refusal then prompt",
         {"ERROR", "OK"},
         {"ERR\r\n>", ">"},
         {},
         false,
         false,
         1,
         false,
         refused},
        {"refusal without prompt", {"ERROR"}, {"ERR"}, {}, false, false, 1, false, refused},
        {"stale prompt before a refusal",
         {"ERROR"},
         {"ERR\r\n>"},
         {},
         true,
         false,
         1,
         false,
         refused},
        {"noise with prompts before a good answer",
         {"OK"},
         {">"},
         {"#>x>"},
         false,
         false,
         1,
         false,
         nullptr},
        {"noise prompt in front of a refusal",
         {"OK"},
         {"#>"},
         {"", "\r\nERR\r\n>"},
         false,
         false,
         1,
         false,
         refused},
        {"line hung up", {}, {}, {}, false, true, 0, false, "The device hung up after 500 bytes."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        boxes.Shown.clear();
        Pauses.clear();
        link.InitCmds.clear();
        link.Sent.clear();
        link.Calls.clear();
        link.Answers = {row.answers.begin(), row.answers.end()};
        link.Replies = {row.replies.begin(), row.replies.end()};
        link.Stale = {row.stale.begin(), row.stale.end()};
        link.StalePrompt = row.stalePrompt;
        link.HungUp = row.hungUp;
        WriteScript({"_LF a.bin", "_LD", "_SC \"after\""});
        boxes.Answers = {MbOk, MbOk};
        engine.StartRun(false);
        Drive();
        EXPECT_EQ(link.InitCmds.size(), row.crs);
        const bool paused = std::find(Pauses.begin(), Pauses.end(), 2000) != Pauses.end();
        EXPECT_EQ(paused, row.retryPause);
        // Every verifying CR goes out on an input with nothing left over.
        for (std::size_t i = 1; i < link.Calls.size(); ++i) {
            if (link.Calls[i] == "SendInitCmd") {
                EXPECT_EQ(link.Calls[i - 1], "TakeInput");
            }
        }
        if (row.cause == nullptr) {
            EXPECT_TRUE(boxes.Shown.empty());
            EXPECT_EQ(link.Sent.back(), "after");
        } else {
            const std::string cause = std::string("\r") + row.cause;
            EXPECT_EQ(BoxTexts(), (Strings{TestFailedText + ("\rScript Line: 2" + cause),
                                           UploadErrorText + cause}));
            EXPECT_EQ(link.Sent.size(), 1u) << "the script went on";
        }
        ExpectIdle();
        link.HungUp = false;
    }
}

// The device's error string already waiting when the verification begins, or begun before its
// CR, refused the file on its way (its driver took the file faster than it read): the report is
// that of a refusal seen during the transfer, with the bytes the line had carried.
TEST_F(UploadVerdictTest, ARefusalBegunBeforeTheVerifyingCrRefusesTheFileOnItsWay) {
    const struct {
        const char* name;
        const char* stale;
        const char* reply;
        std::size_t crs;
    } cases[] = {{"whole", "x\r\nERR\r\n>", "", 0}, {"begun", "xE", "RR\r\n>", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.Shown.clear();
        link.InitCmds.clear();
        link.Stale = {c.stale};
        link.Answers = {"OK"};
        link.Replies = {c.reply};
        WriteScript({"_LF a.bin", "_LD", "_SC \"after\""});
        boxes.Answers = {MbOk};
        engine.StartRun(false);
        Drive();
        EXPECT_EQ(link.InitCmds.size(), c.crs);
        EXPECT_EQ(BoxTexts(), Strings{UploadErrorText + std::string("\rThe device answered "
                                                                    "\"ERR\" after 500 of 500 "
                                                                    "bytes.")});
        EXPECT_EQ(engine.Record().Files.at(0).Outcome, FileOutcome::Refused);
        EXPECT_EQ(engine.Record().Files.at(0).BytesSent, 500);
        EXPECT_NE(std::find(link.Calls.begin(), link.Calls.end(), "DiscardOutput"),
                  link.Calls.end());
        ExpectIdle();
    }
}

} // namespace
} // namespace pellwick
