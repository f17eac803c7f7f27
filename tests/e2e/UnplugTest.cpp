// The device pulled and put back while the program's port owner has it: pellwick-devsim behind a
// symbolic link that it removes on unplug and points at a new pseudo-terminal on replug, as udev
// does with by-id links. The port, the link, the upload engine and a terminal run in this
// process on the real event loop.
#include "e2e/UploadFiles.h"
#include "link/PortOwner.h"
#include "serial/portmap/PortMap.h"
#include "support/DevsimHarness.h"
#include "support/PumpUntil.h"
#include "terminal/TVaxoTerminal.h"
#include "upload/ScriptEngine.h"
#include "upload/UploadFakes.h"
#include "upload/UploadHeader.h"
#include "upload/headless/HeadlessUploadWindow.h"

#include <QCoreApplication>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace pellwick::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::ScriptedBoxes;

// Runs the event loop (the port's notices need it) until done() or the deadline.
bool RunEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return test::PumpUntil(done, static_cast<int>(timeout.count()));
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

int CountEntries(const char* folder) {
    std::error_code ec;
    int n = 0;
    for (auto it = std::filesystem::directory_iterator(folder, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        ++n;
    }
    return n;
}

class EngineHost : public ILinkHost {
public:
    explicit EngineHost(ScriptEngine& engine) : engine_(engine) {}
    void SetScriptError() override { engine_.SetScriptError(); }
    void SetULError() override { engine_.SetULError(); }
    void EnableScriptTimer() override { engine_.EnableScriptTimer(); }
    void SetUploadGauge(int) override {}
    void SetComBtnState(bool on) override {
        usable = on;
        ++told;
    }
    bool usable = true;
    int told = 0; // calls of SetComBtnState

private:
    ScriptEngine& engine_;
};

// One simulator, the port owner on it and what watches them; made anew for each case.
struct Plugged {
    Plugged() = default;
    Plugged(const Plugged&) = delete;
    Plugged& operator=(const Plugged&) = delete;
    ~Plugged() {
        if (owner) {
            owner->Port().RemoveNotifyProc(&Plugged::Announced, this);
            owner->SetHost(nullptr);
        }
        terminal.reset();
        owner.reset();
        device.Stop();
        other.Stop();
        if (!startDir.empty()) {
            std::filesystem::current_path(startDir);
        }
        if (null) {
            std::fclose(null);
        }
    }

    // The simulator behind <folder>/ttyPLUG, and the port owner started on it as at start-up.
    void Start(std::vector<std::string> args = {}) {
        link = device.File("ttyPLUG");
        std::filesystem::create_directory(device.File("store"));
        args.insert(args.end(), {"--link", link, "--store", device.File("store")});
        ASSERT_TRUE(device.StartProcess(args)) << device.Error();
        const std::string ini = device.WriteLoaderIni(1, {{"Ports", "COM1", link}});
        startDir = std::filesystem::current_path().string();
        std::filesystem::current_path(device.Folder());
        PortMap::SetGlobal(std::make_shared<PortMap>(PortMap::Build(ini)));

        null = std::fopen("/dev/null", "w");
        window = std::make_unique<HeadlessUploadWindow>(null);
        owner = std::make_unique<PortOwner>(boxes);
        engine = std::make_unique<ScriptEngine>(owner->Operations(), *window, boxes);
        host = std::make_unique<EngineHost>(*engine);
        window->SetTickHandler([this] { engine->ScriptTimerTimer(); });
        owner->SetHost(host.get());
        owner->Port().AddNotifyProc(&Plugged::Announced, this);
        ASSERT_TRUE(owner->StartUp(ini));
    }

    static void Announced(void* context, TVaxoCustomComPort* port, bool opening) {
        auto* self = static_cast<Plugged*>(context);
        self->lostAnnounced += !opening && port->Lost() ? 1 : 0;
    }

    // The signal, then the link's going: the unplug is complete when the link is gone.
    void Unplug() {
        ASSERT_EQ(kill(device.Pid(), SIGUSR1), 0);
        WaitUnplugged();
    }
    void WaitUnplugged(std::chrono::milliseconds timeout = 10s) {
        ASSERT_TRUE(RunEventsUntil([&] { return !Exists(link); }, timeout));
        unpluggedAt = Clock::now();
    }
    void Replug() {
        ASSERT_EQ(kill(device.Pid(), SIGUSR2), 0);
        ASSERT_TRUE(RunEventsUntil([&] { return Exists(link); }, 10s));
        repluggedAt = Clock::now();
    }
    bool WaitLost() {
        return RunEventsUntil([&] { return owner->Port().Lost() && !owner->IsOpen(); }, 10s);
    }
    bool WaitOpen() { return RunEventsUntil([&] { return owner->IsOpen(); }, 10s); }
    static double MsSince(Clock::time_point t) {
        return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
    }

    // The first columns of the terminal's top row.
    std::string TerminalStart(int columns) const {
        std::string text;
        for (int c = 0; c < columns; ++c) {
            text += static_cast<char>(terminal->Buffer().CharAt(c, 0));
        }
        return text;
    }

    // The device answers a command on the line.
    std::string Version() {
        std::string answer;
        owner->Operations().SendInitCmd("VER\r", answer);
        return answer;
    }

    DevsimHarness device, other;
    std::string link;
    ScriptedBoxes boxes;
    std::FILE* null = nullptr;
    std::unique_ptr<HeadlessUploadWindow> window;
    std::unique_ptr<PortOwner> owner;
    std::unique_ptr<ScriptEngine> engine;
    std::unique_ptr<EngineHost> host;
    std::unique_ptr<TVaxoTerminal> terminal;
    std::string startDir;
    int lostAnnounced = 0;
    Clock::time_point unpluggedAt, repluggedAt;
};

// Wherever the unplug meets the program, the port is lost at once with one announcement, a
// run under way ends with the upload-error report within a second, and the owner waits for
// the device.
TEST(UnplugTest, UnplugIsSeenAtOnceWhateverThePortIsDoing) {
    enum class During { Idle, TerminalTraffic, Transfer, Verification };
    const std::size_t size = 64 * 1024;
    const Bytes data = AllByteValues(size);
    const std::string header =
        UploadHeader::Build("00070000", size, UploadHeader::Checksum(data), "1");
    // "UL" CR and the header come before the data; the verifying CR after it.
    const std::size_t beforeData = 3 + header.size();
    for (During during : {During::Idle, During::TerminalTraffic, During::Transfer,
                          During::Verification}) {
        SCOPED_TRACE(static_cast<int>(during));
        Plugged p;
        std::vector<std::string> args;
        if (during == During::Transfer) {
            args = {"--unplug-after-bytes", std::to_string(beforeData + size / 2)};
        } else if (during == During::Verification) {
            args = {"--unplug-after-bytes", std::to_string(beforeData + size + 1)};
        } else if (during == During::TerminalTraffic) {
            args = {"--unplug-after-bytes", "5"};
        }
        p.Start(args);
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        if (during == During::Idle) {
            p.Unplug();
        } else if (during == During::TerminalTraffic) {
            p.terminal = std::make_unique<TVaxoTerminal>();
            p.terminal->SetComPort(&p.owner->Port());
            p.owner->SetDataTriggers(false);
            p.terminal->SetActive(true);
            // The device answers VER; the fifth byte, a moment later, unplugs it.
            p.owner->Port().WriteText("VER\r");
            RunEventsUntil([] { return false; }, 50ms);
            p.owner->Port().WriteText("X");
            p.WaitUnplugged();
        } else {
            ASSERT_TRUE(WriteFile(p.device.File("data.bin"), data));
            ASSERT_TRUE(WriteText(p.device.File("test.sld"),
                                  "_TC \"UL^M\"\n_LA 00070000\n_LV 1\n_LF data.bin\n_LD\n"));
            p.boxes.Answers = {MbOk, MbOk};
            p.engine->Run().ScriptFileName = "test.sld";
            p.engine->StartRun(false);
            p.WaitUnplugged(20s);
        }
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        ASSERT_TRUE(p.WaitLost());
        EXPECT_LT(Plugged::MsSince(p.unpluggedAt), 1000.0);
        if (during == During::Transfer || during == During::Verification) {
            ASSERT_TRUE(RunEventsUntil([&] { return !p.engine->Running(); }, 10s));
            EXPECT_LT(Plugged::MsSince(p.unpluggedAt), 1000.0);
            ASSERT_FALSE(p.boxes.Shown.empty());
            EXPECT_EQ(p.boxes.Shown.back().Text.rfind("Upload error encountered", 0), 0u)
                << p.boxes.Shown.back().Text;
        }
        if (during == During::TerminalTraffic) {
            // What came before the hang-up is on the screen; the terminal waits for the port.
            EXPECT_EQ(p.TerminalStart(8), "VER=2.10");
            EXPECT_FALSE(p.terminal->Active());
            EXPECT_TRUE(p.terminal->ActivationPending());
        }
        EXPECT_EQ(p.lostAnnounced, 1);
        EXPECT_TRUE(p.owner->Port().LineHungUp());
        EXPECT_EQ(p.owner->Port().LostDevice(), p.link);
        EXPECT_TRUE(p.owner->WaitingForDevice());
        EXPECT_FALSE(p.host->usable);
    }
}

// A loss between transfers fails the run only when a later step needs the line: a run whose
// files are all in and that has nothing left to send ends as it would have.
TEST(UnplugTest, ALossBetweenTransfersFailsOnlyARunThatStillNeedsTheLine) {
    for (bool laterCommand : {false, true}) {
        SCOPED_TRACE(laterCommand);
        Plugged p;
        p.Start();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        ASSERT_TRUE(WriteFile(p.device.File("data.bin"), AllByteValues(256)));
        ASSERT_TRUE(WriteText(p.device.File("test.sld"),
                              std::string("_TC \"UL^M\"\n_LA 00070000\n_LV 1\n_LF data.bin\n_LD\n"
                                          "_DY 20\n") +
                                  (laterCommand ? "_SC \"GO^M\"\n" : "")));
        p.boxes.Answers = {MbOk, MbOk};
        p.engine->Run().ScriptFileName = "test.sld";
        p.engine->StartRun(false);
        ASSERT_TRUE(RunEventsUntil(
            [&] { return p.engine->Run().State == ScriptState::ssDelay; }, 20s));
        p.Unplug();
        ASSERT_TRUE(p.WaitLost());
        ASSERT_TRUE(RunEventsUntil([&] { return !p.engine->Running(); }, 10s));
        const bool uploadError =
            !p.boxes.Shown.empty() &&
            p.boxes.Shown.back().Text.rfind("Upload error encountered", 0) == 0;
        EXPECT_EQ(uploadError, laterCommand);
    }
}

TEST(UnplugTest, ReplugOpensThePortAgainWithItsSettings) {
    for (auto away : {500ms, 10000ms}) {
        SCOPED_TRACE(away.count());
        Plugged p;
        p.Start();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        p.Unplug();
        ASSERT_TRUE(p.WaitLost());
        RunEventsUntil([] { return false; }, away);
        EXPECT_FALSE(p.owner->IsOpen());
        p.Replug();
        ASSERT_TRUE(p.WaitOpen());
        EXPECT_LT(Plugged::MsSince(p.repluggedAt), 1000.0);
        EXPECT_FALSE(p.owner->Port().Lost());
        EXPECT_FALSE(p.owner->WaitingForDevice());
        EXPECT_TRUE(p.host->usable);
        EXPECT_GE(p.host->told, 3); // opened, lost, opened again
        EXPECT_EQ(p.owner->Port().Baud(), p.owner->Settings().BaudRate);
        // The link's triggers are new and the line answers.
        EXPECT_EQ(p.Version(), "2.10");
    }
}

TEST(UnplugTest, ADeviceAtAnotherPathLeavesThePortLost) {
    Plugged p;
    p.Start();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    p.Unplug();
    ASSERT_TRUE(p.WaitLost());
    ASSERT_TRUE(p.other.StartProcess({"--link", p.device.File("ttyOTHER")})) << p.other.Error();
    RunEventsUntil([] { return false; }, 1000ms);
    EXPECT_FALSE(p.owner->IsOpen());
    EXPECT_TRUE(p.owner->Port().Lost());
    p.Replug();
    EXPECT_TRUE(p.WaitOpen());
}

TEST(UnplugTest, FiftyCyclesLeaveNoDescriptorOrThreadBehind) {
    Plugged p;
    p.Start();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    // One cycle first, so that what the process makes once (the event loop's helpers) is in
    // the count before.
    int fdsBefore = 0, threadsBefore = 0;
    for (int cycle = 0; cycle <= 50; ++cycle) {
        if (cycle == 1) {
            fdsBefore = CountEntries("/proc/self/fd");
            threadsBefore = CountEntries("/proc/self/task");
        }
        p.Unplug();
        ASSERT_TRUE(p.WaitLost()) << cycle;
        p.Replug();
        ASSERT_TRUE(p.WaitOpen()) << cycle;
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), fdsBefore);
    EXPECT_EQ(CountEntries("/proc/self/task"), threadsBefore);
    EXPECT_EQ(p.lostAnnounced, 51);
    EXPECT_EQ(p.Version(), "2.10");
}

} // namespace
} // namespace pellwick::e2e
