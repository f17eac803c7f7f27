#include "EngineFixture.h"
#include "upload/ScriptText.h"

namespace pellwick {
namespace {

using test::BoxCall;
using test::Boxes;
using Strings = std::vector<std::string>;

class ScriptEngineTest : public test::EngineFixture {
protected:
    // The second box shown told of the device's error string on line 1; nothing was sent and
    // the run is over.
    void ExpectErrorStringToldAndNothingSent() {
        ASSERT_EQ(boxes.Shown.size(), 2u);
        EXPECT_EQ(boxes.Shown[1].Text, "Script error encountered! - System not responding or "
                                       "command error.\rFile Name: loader.sld\rLine Number: 1\r"
                                       "The device sent its error string \"ERR\".");
        EXPECT_TRUE(link.Sent.empty());
        ExpectIdle();
    }
};

TEST_F(ScriptEngineTest, EmptyScriptEndsOnItsFirstTickWithoutMovingTheGauge) {
    WriteScript({});
    engine.StartRun(false);
    EXPECT_TRUE(link.UploadMode);
    EXPECT_TRUE(engine.Running());
    EXPECT_TRUE(engine.TimerActive());
    EXPECT_TRUE(window.ProgressVisible);
    EXPECT_FALSE(window.IdleControls);
    EXPECT_EQ(window.Lamp, LampGreen);

    engine.ScriptTimerTimer();
    EXPECT_EQ(engine.Run().State, ScriptState::ssScriptDone);
    EXPECT_EQ(Drive(), 1);
    EXPECT_EQ(window.ScriptGauge, std::vector<int>{0});
    ExpectIdle();
    EXPECT_EQ(window.Lamp, LampGreen);
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(ScriptEngineTest, DelayPausesForItsCountOfTicksAndAtLeastOne) {
    const struct {
        const char* Argument;
        int PauseTicks;
    } cases[] = {{"0", 1}, {"-5", 1}, {"-2147483648", 1}, {"3", 3}, {" 2 ", 2}};
    for (const auto& c : cases) {
        WriteScript({std::string("_DY ") + c.Argument, "_SC \"A\""});
        link.Sent.clear();
        engine.StartRun(false);
        engine.ScriptTimerTimer(); // takes the _DY line
        int ticks = 0;
        while (link.Sent.empty() && engine.TimerActive() && ticks < 100) {
            engine.ScriptTimerTimer();
            ++ticks;
        }
        EXPECT_EQ(ticks, c.PauseTicks + 1) << c.Argument; // pause ticks, then the _SC line
        Drive();
    }
}

TEST_F(ScriptEngineTest, CorruptDelayOffersIgnoreToSkipTheLineAndAbortToTheScriptErrorDialog) {
    const BoxCall corrupt{MsgKind::Error,
                          "Script file error - Delay value corrupt!\r"
                          "File Name: loader.sld\rLine Number: 1",
                          MbAbort | MbIgnore};
    WriteScript({"_DY", "_SC \"A\""});
    boxes.Answers = {MbIgnore};
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(boxes.Shown, Boxes{corrupt});
    EXPECT_EQ(link.Sent, Strings{"A"});
    EXPECT_EQ(window.Lamp, LampGreen);
    ExpectIdle();

    // Abort leads to the script error dialog, whose Ignore runs the line again.
    WriteScript({"_DY x", "_SC \"A\""});
    boxes.Shown.clear();
    link.Sent.clear();
    window.ScriptGauge.clear();
    boxes.Answers = {MbAbort, MbIgnore, MbIgnore};
    engine.StartRun(false);
    engine.ScriptTimerTimer();
    EXPECT_EQ(engine.Run().State, ScriptState::ssScriptError);
    EXPECT_EQ(engine.Run().LineIndex, 0); // not counted, gauge not moved
    EXPECT_EQ(window.ScriptGauge, std::vector<int>{0});
    Drive();
    EXPECT_EQ(boxes.Shown, (Boxes{corrupt,
                                  {MsgKind::Error,
                                   "Script error encountered! - System not responding or command "
                                   "error.\rFile Name: loader.sld\rLine Number: 0\r"
                                   "Line 1 holds no valid number.",
                                   MbAbort | MbIgnore},
                                  corrupt})); // the line ran again
    EXPECT_EQ(link.Sent, Strings{"A"});
    EXPECT_EQ(window.Lamp, LampRed); // stays red after Ignore
    ExpectIdle();
}

TEST_F(ScriptEngineTest, PostDelayIsInSecondsAndAnInvalidOneIsZeroAfterIgnore) {
    WriteScript({"_LP 5"});
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(engine.Run().PostDelay, 5000);

    // 3000000 s do not fit the millisecond count: refused like any other bad number.
    WriteScript({"_LP 3000000", "_LP 7", "_LP 7s"});
    boxes.Answers = {MbIgnore, MbIgnore};
    engine.StartRun(false);
    Drive();
    ASSERT_EQ(boxes.Shown.size(), 2u);
    EXPECT_EQ(boxes.Shown[1].Text, "Script file error - Post Delay value invalid!\r"
                                   "File Name: loader.sld\rLine Number: 3");
    EXPECT_EQ(engine.Run().PostDelay, 0);
}

TEST_F(ScriptEngineTest, ArgumentsFollowTheFirstBlankAndOnlyTwoLettersNameTheCommand) {
    WriteScript({"_LF", "_la 0002 0000 ", "_LV  x", "_D", "not a command", "_XX 1", "_DYNAMIC 3"});
    engine.StartRun(false);
    for (int i = 0; i < 7; ++i) {
        engine.ScriptTimerTimer();
    }
    EXPECT_EQ(engine.Run().UploadName, "_LF");
    EXPECT_EQ(engine.Run().LoadAddress, "0002 0000 ");
    EXPECT_EQ(engine.Run().LoadVersion, " x");
    EXPECT_EQ(engine.Run().State, ScriptState::ssDelay);
    EXPECT_EQ(engine.Run().DelayTicks, 3);
    EXPECT_EQ(engine.Run().LineIndex, 7);
    Drive();
    EXPECT_TRUE(link.Sent.empty());
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(ScriptEngineTest, CommandStringsAreDecodedBeforeTheyAreShownOrSent) {
    WriteScript({"_DM ABC", "_SC \"AT^M\"", "_sc \"X^\"", "_SC \"^@^^\""});
    boxes.Answers = {MbOk};
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(boxes.Shown, (Boxes{{MsgKind::Information, "A", MbOk}}));
    EXPECT_EQ(link.Sent, (Strings{"AT\r", "X", std::string("\0\x1e", 2)}));
}

// Editors that save UTF-8 may put a byte order mark first: it is no part of the first line. Bytes
// that only begin like one are the script's own.
TEST_F(ScriptEngineTest, ByteOrderMarkOfAUtf8ScriptIsNoPartOfItsFirstLine) {
    WriteFile("loader.sld", "\xEF\xBB\xBF_SC \"A\"\r\n_SC \"B\"\r\n");
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(link.Sent, (Strings{"A", "B"}));
    WriteFile("partial.sld", "\xEF\xBB_SC");
    EXPECT_EQ(ScriptText::ReadFile("partial.sld"), "\xEF\xBB_SC");
}

TEST_F(ScriptEngineTest, TestCommandGoesOnAfterAValueOrOkAndAtAnErrorStopsOrIsIgnored) {
    WriteScript({"_TC \"VER^M\"", "_TC \"A\"", "comment", "_TC \"B\"", "_SC \"never\""});
    link.Answers = {"2.10", "OK", "ERROR"};
    link.Replies = {"", "", "?\r\n#"};
    boxes.Answers = {MbAbort};
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(link.InitCmds, (Strings{"VER\r", "A", "B"}));
    // The box names what the device answered to which command.
    EXPECT_EQ(boxes.Shown, (Boxes{{MsgKind::Error,
                                   "Script error encountered! - System not responding or command "
                                   "error.\rFile Name: loader.sld\rLine Number: 4\r"
                                   "The device answered \"?^M^J#\" to \"B\".",
                                   MbAbort | MbIgnore}}));
    EXPECT_TRUE(link.Sent.empty());
    EXPECT_EQ(window.Lamp, LampRed);
    ExpectIdle();
    engine.EnableScriptTimer(); // a late end-of-transfer report brings no dialog back
    Drive();
    EXPECT_EQ(boxes.Shown.size(), 1u);

    // Ignore goes on with the next line; the lamp stays red.
    WriteScript({"_TC \"A\"", "_SC \"after\""});
    link.InitCmds.clear();
    link.Answers = {"ERROR"};
    boxes.Shown.clear();
    boxes.Answers = {MbIgnore};
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(link.InitCmds, Strings{"A"});
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_NE(boxes.Shown[0].Text.find("\rNo answer to \"A\" within 5.5 s."), std::string::npos);
    EXPECT_EQ(engine.Record().End, RunEnd::Completed);
    EXPECT_EQ(engine.Record().IgnoredErrors, 1);
    EXPECT_EQ(link.Sent, Strings{"after"});
    EXPECT_EQ(window.Lamp, LampRed);
    ExpectIdle();
}

// Mended: after a run ended half-way, Ignore on an error string arriving between runs would
// have resumed the old script behind the idle controls.
TEST_F(ScriptEngineTest, ErrorStringBetweenRunsShowsTheDialogButResumesNothing) {
    WriteScript({"_TC \"A\"", "_SC \"rest\""});
    link.Answers = {"ERROR"};
    boxes.Answers = {MbAbort, MbIgnore};
    engine.StartRun(false);
    Drive();
    ExpectIdle();
    engine.SetScriptError();
    Drive();
    ExpectErrorStringToldAndNothingSent();
}

TEST_F(ScriptEngineTest, ScriptGaugeFollowsTheLinesTaken) {
    WriteScript({"a", "b", "c"});
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(window.ScriptGauge, (std::vector<int>{0, 35, 69, 100}));

    WriteScript(Strings(100, "comment"));
    window.ScriptGauge.clear();
    engine.StartRun(false);
    Drive();
    ASSERT_EQ(window.ScriptGauge.size(), 101u);
    EXPECT_EQ(window.ScriptGauge[1], 3);
    EXPECT_EQ(window.ScriptGauge[97], 99);
    EXPECT_EQ(window.ScriptGauge[98], 100);
}

TEST_F(ScriptEngineTest, ANewRunReloadsTheScriptAndKeepsTheUploadValues) {
    WriteScript({"_LF a.bin", "_LA 0002", "_LV 1.0", "_LP 2", "_SC \"A\""});
    engine.StartRun(false);
    Drive();
    WriteScript({"_SC \"B\""});
    window.ScriptGauge.clear();
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(link.Sent, (Strings{"A", "B"}));
    EXPECT_EQ(window.ScriptGauge, (std::vector<int>{0, 100}));
    EXPECT_EQ(engine.Run().UploadName, "a.bin");
    EXPECT_EQ(engine.Run().LoadAddress, "0002");
    EXPECT_EQ(engine.Run().LoadVersion, "1.0");
    EXPECT_EQ(engine.Run().PostDelay, 2000);
}

TEST_F(ScriptEngineTest, MissingScriptIsReportedAndNoRunStarts) {
    boxes.Answers = {MbOk};
    engine.StartRun(false);
    EXPECT_EQ(boxes.Shown,
              (Boxes{{MsgKind::Error, "Script file \"loader.sld\" not found !", MbOk}}));
    ExpectIdle();
}

TEST_F(ScriptEngineTest, ManualStartRunsThePickedScriptAndACancelledPickRunsNothing) {
    engine.StartRun(true);
    EXPECT_EQ(window.ChooserCalls, 1);
    EXPECT_FALSE(engine.Running());
    EXPECT_TRUE(link.UploadMode);                       // switched on all the same
    EXPECT_TRUE(std::filesystem::exists("loader.log")); // and the log created

    WriteScript({"_SC \"P\""}, "picked.sld");
    window.ChosenScript = "picked.sld";
    engine.StartRun(true);
    Drive();
    EXPECT_EQ(engine.Run().ScriptFileName, "picked.sld");
    // The pick stays the script of later automatic starts.
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(link.Sent, (Strings{"P", "P"}));
}

TEST_F(ScriptEngineTest, TickArrivingWhileAStepShowsABoxWaitsForTheStepToEnd) {
    WriteScript({"_DM \"hello\"", "_SC \"A\""});
    boxes.Answers = {MbOk, MbAbort};
    size_t boxesWhileOpen = 0;
    boxes.OnShow = [&](const BoxCall& call) {
        if (call.Kind == MsgKind::Information) {
            // The device's error string arrives while the box is open, and the timer fires.
            engine.SetScriptError();
            engine.ScriptTimerTimer();
            boxesWhileOpen = boxes.Shown.size();
        }
    };
    engine.StartRun(false);
    Drive();
    EXPECT_EQ(boxesWhileOpen, 1u);
    ExpectErrorStringToldAndNothingSent();
}

} // namespace
} // namespace pellwick
