// The waits of a run on the virtual clock: a confirmed cancel and a lost line end every one of
// them at once, what the link reports during a pause is taken once its step is over, a line that
// carries nothing ends the transfer with what holds it, and the verifying CR waits for a line
// that may still be carrying the file.
#include "EngineFixture.h"

namespace pellwick {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

constexpr const char* UploadErrorText =
    "Upload error encountered, script aborted! Reset remote system.\rFile: ";

class RunWaitsTest : public test::EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        WriteFile("a.bin", std::string(300, 'x'));
    }

    struct Wait {
        const char* name;
        Strings script;
        std::function<void(test::FakeLink&)> device;
        RunWait kind;
        // The moment of the run at which the wait is reached, told by what has gone out.
        std::function<bool(const test::FakeLink&)> reached;
    };

    // The waits a run can be in, each reached by a script and a device.
    static std::vector<Wait> Waits() {
        const Strings upload = {"_LF a.bin", "_LD", "_SC \"after\""};
        const auto always = [](const test::FakeLink&) { return true; };
        const auto silent = [](test::FakeLink& l) { l.Answers = {"ERROR", "ERROR"}; };
        return {
            {"room for a string",
             {"_SC \"A\"", "_SC \"B\""},
             [](test::FakeLink& l) { l.NoRoomLooks = 1000000; },
             RunWait::Room,
             always},
            {"room for the header", upload, [](test::FakeLink& l) { l.NoRoomLooks = 1000000; },
             RunWait::Room, always},
            {"the header's Delay", upload, [](test::FakeLink&) {}, RunWait::Pause, always},
            {"the post delay",
             {"_LP 60", "_LF a.bin", "_LD", "_SC \"after\""},
             [](test::FakeLink&) {},
             RunWait::Pause,
             [](const test::FakeLink& l) { return !l.Transfers.empty(); }},
            {"the quiet before the CR", upload, [](test::FakeLink&) {}, RunWait::Quiet, always},
            {"the answer to the CR", upload, silent, RunWait::Answer, always},
            {"the pause before the second CR", upload, silent, RunWait::Pause,
             [](const test::FakeLink& l) { return l.InitCmds.size() == 1; }},
            {"the answer to a command",
             {"_TC \"A\"", "_SC \"B\""},
             silent,
             RunWait::Answer,
             always},
        };
    }

    // Starts the run and drives it until it is in the wait.
    void Reach(const Wait& wait) {
        WriteScript(wait.script);
        wait.device(link);
        engine.StartRun(false);
        DriveUntil([&] { return engine.Waiting() == wait.kind && wait.reached(link); });
    }

    void Reset() {
        link = test::FakeLink{};
        link.LinkStateValue.ActiveError = "ERR";
        boxes.Shown.clear();
        engine.Run().PostDelay = 0;
    }
};

TEST_F(RunWaitsTest, AConfirmedCancelEndsEveryWaitAtOnceAndNothingMoreGoesOut) {
    for (const Wait& wait : Waits()) {
        SCOPED_TRACE(wait.name);
        Reset();
        Reach(wait);
        const std::size_t sent = link.Sent.size();
        const std::size_t commands = link.InitCmds.size();
        const auto cancelled = clock.Now();
        boxes.Answers = {MbYes, MbOk};
        engine.BtnULCancelClick();
        EXPECT_EQ(engine.Waiting(), RunWait::None);
        Drive();
        EXPECT_LE(clock.Now() - cancelled, ScriptEngine::ScriptTick);
        EXPECT_EQ(link.Sent.size(), sent);
        EXPECT_EQ(link.InitCmds.size(), commands);
        EXPECT_TRUE(link.Transfers.empty() || wait.kind != RunWait::Room);
        EXPECT_EQ(boxes.Shown.back().Text.rfind(UploadErrorText, 0), 0u);
        EXPECT_NE(boxes.Shown.back().Text.find("\rCancelled by the operator."), std::string::npos);
        EXPECT_EQ(engine.Record().End, RunEnd::Cancelled);
        for (const FileRecord& file : engine.Record().Files) {
            EXPECT_EQ(file.Outcome, FileOutcome::Cancelled);
        }
        ExpectIdle();
    }
}

// The step goes on as at its wait's end, and finds the line gone: a pause is not waited out, an
// answer that cannot come is not waited for. A file under way ends hung up, also when the port is
// open again (on whatever was plugged in next) by the time the step looks.
TEST_F(RunWaitsTest, ALineThatGoesEndsTheWaitAtOnce) {
    for (const bool back : {false, true}) {
        for (const Wait& wait : Waits()) {
            if (wait.kind == RunWait::Room || wait.kind == RunWait::Quiet) {
                continue; // they end at their next look anyway
            }
            SCOPED_TRACE(std::string(wait.name) + (back ? ", port back at once" : ""));
            Reset();
            Reach(wait);
            const auto lost = clock.Now();
            link.HungUp = true;
            engine.SetULError(); // as the link tells of a lost line
            engine.LineChanged();
            link.HungUp = !back;
            boxes.Answers = {MbOk, MbOk, MbAbort};
            TickUntil([&] { return engine.Waiting() != wait.kind || !engine.Running(); });
            EXPECT_LE(clock.Now() - lost, ScriptEngine::LookInterval);
            Drive();
            EXPECT_FALSE(engine.Running());
            if (!engine.Record().Files.empty()) {
                EXPECT_EQ(engine.Record().End, RunEnd::HungUp);
                EXPECT_EQ(engine.Record().Files.back().Outcome, FileOutcome::HungUp);
            }
        }
    }
}

TEST_F(RunWaitsTest, AnErrorStringDuringThePauseIsTakenOnceTheStepIsOver) {
    WriteScript({"_LF a.bin", "_LD", "_SC \"after\""});
    boxes.Answers = {MbOk};
    engine.StartRun(false);
    TickUntil([&] { return engine.Waiting() == RunWait::Pause; });
    engine.SetScriptError();
    EXPECT_EQ(engine.Run().State, ScriptState::ssUploading) << "taken during the pause";
    TickUntil([&] { return link.TransferPending; });
    // Taken as a refusal of the transfer that the step began: stopped before its first block.
    EXPECT_EQ(engine.Run().State, ScriptState::ssUploadError);
    EXPECT_EQ(link.Calls.back(), "StopTransfer");
    Drive();
    EXPECT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown.back().Text,
              std::string(UploadErrorText) +
                  "a.bin\rThe device answered \"ERR\" after 0 of 300 bytes.");
    EXPECT_EQ(engine.Record().Files.at(0).Outcome, FileOutcome::Refused);
    EXPECT_EQ(link.Sent.size(), 1u);
}

TEST_F(RunWaitsTest, ATransferWhoseLineCarriesNothingEndsWithWhatHoldsIt) {
    const std::string held = "Nothing left for 5 s: CTS is low and Require CTS is on.";
    link.HeldCause = held;
    WriteScript({"_LF a.bin", "_LD", "_SC \"after\""});
    boxes.Answers = {MbOk};
    engine.StartRun(false);
    TickUntil([&] { return link.TransferPending; });
    clock.Advance(ScriptEngine::WatchInterval);
    EXPECT_EQ(link.Calls.back(), "StopTransfer");
    EndTransfer();
    Drive();
    EXPECT_EQ(boxes.Shown.back().Text, std::string(UploadErrorText) + "a.bin\r" + held);
    EXPECT_EQ(engine.Record().Files.at(0).Outcome, FileOutcome::Failed);
    EXPECT_EQ(engine.Record().End, RunEnd::Failed);
    EXPECT_TRUE(link.InitCmds.empty());
}

// A driver that took the file faster than its line carries it: the verifying CR waits until the
// device can have the file, so that a prompt that comes meanwhile cannot verify it.
TEST_F(RunWaitsTest, TheCrWaitsUntilTheLineCanHaveCarriedTheFile) {
    link.SecondsLeft = 10;
    WriteScript({"_LF a.bin", "_LD"});
    engine.StartRun(false);
    TickUntil([&] { return link.TransferPending; });
    EndTransfer();
    clock.Advance(9s);
    EXPECT_TRUE(link.InitCmds.empty());
    link.SecondsLeft = 0; // the line can have carried it now
    const auto carried = clock.Now();
    TickUntil([&] { return !link.InitCmds.empty(); });
    EXPECT_LT(clock.Now() - carried, 100ms);
    Drive();
    EXPECT_EQ(engine.Record().End, RunEnd::Completed);
}

} // namespace
} // namespace pellwick
