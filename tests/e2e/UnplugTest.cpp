// The device pulled and put back while the program's port owner has it: pellwick-devsim behind a
// symbolic link that it removes on unplug and points at a new pseudo-terminal on replug, as udev
// does with by-id links. The port, the link, the upload engine and a terminal run in this
// process on the real event loop.
#include "e2e/UploadFiles.h"
#include "link/PortOwner.h"
#include "serial/portmap/PortMap.h"
#include "support/DevsimHarness.h"
#include "support/PumpUntil.h"
#include "support/ScriptedBoxes.h"
#include "support/Ser2netServer.h"
#include "terminal/TVaxoTerminal.h"
#include "upload/UploadHeader.h"
#include "upload/run/UploadRun.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellwick::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::ScriptedBoxes;

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

// One simulator, the port owner on it and what watches them; made anew for each case.
struct Plugged {
    Plugged() = default;
    Plugged(const Plugged&) = delete;
    Plugged& operator=(const Plugged&) = delete;
    ~Plugged() {
        if (owner) {
            owner->Port().RemoveNotifyProc(&Plugged::Announced, this);
        }
        terminal.reset();
        run.reset();
        owner.reset();
        device.Stop();
        other.Stop();
        if (!startDir.empty()) {
            std::filesystem::current_path(startDir);
        }
    }

    // The simulator behind <folder>/ttyPLUG, and the port owner started on it as at start-up.
    void Start(std::vector<std::string> args = {}) {
        link = device.File("ttyPLUG");
        std::filesystem::create_directory(device.File("store"));
        args.insert(args.end(), {"--link", link, "--store", device.File("store")});
        ASSERT_TRUE(device.StartProcess(args)) << device.Error();
        Open(device.WriteLoaderIni(1, {{"Ports", "COM1", link}}));
    }

    // The simulator on a pseudo-terminal that ser2net serves, the port owner on rfc2217://.
    void StartBehind(Ser2netServer& server) {
        std::filesystem::create_directory(device.File("store"));
        ASSERT_TRUE(device.StartProcess({"--store", device.File("store")})) << device.Error();
        ASSERT_TRUE(server.Start({device.SlavePath()}, Ser2netServer::Protocol::Rfc2217))
            << server.Error();
        link = server.Address();
        Open(device.WriteLoaderIni(1, {{"Ports", "COM1", link}}));
    }

    void Open(const std::string& ini) {
        startDir = std::filesystem::current_path().string();
        std::filesystem::current_path(device.Folder());
        PortMap::SetGlobal(std::make_shared<PortMap>(PortMap::Build(ini)));

        owner = std::make_unique<PortOwner>(boxes);
        run = std::make_unique<UploadRun>(owner->Operations(), boxes);
        QObject::connect(run.get(), &UploadRun::Changed, [this] {
            if (states.empty() || states.back() != run->View().State) {
                states.push_back(run->View().State);
            }
        });
        owner->Port().AddNotifyProc(&Plugged::Announced, this);
        ASSERT_TRUE(owner->StartUp(ini));
    }

    void StartScript(const std::string& script) {
        ASSERT_TRUE(WriteText(device.File("test.sld"), script));
        run->Engine().Run().ScriptFileName = "test.sld";
        run->Start(false);
        ASSERT_TRUE(run->Running());
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
        ASSERT_TRUE(test::PumpUntil([&] { return !Exists(link); }, timeout));
        unpluggedAt = Clock::now();
    }
    void Replug() {
        ASSERT_EQ(kill(device.Pid(), SIGUSR2), 0);
        ASSERT_TRUE(test::PumpUntil([&] { return Exists(link); }, 10s));
        repluggedAt = Clock::now();
    }
    bool WaitLost() {
        return test::PumpUntil([&] { return owner->Port().Lost() && !owner->IsOpen(); }, 10s);
    }
    bool WaitOpen() {
        return test::PumpUntil([&] { return owner->IsOpen(); }, 10s);
    }
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
    ScriptedBoxes boxes{test::Unscripted::FailTest};
    ScopedHook<std::shared_ptr<const PortMap>> portMap{PortMap::GlobalHook(), nullptr};
    std::unique_ptr<PortOwner> owner;
    std::unique_ptr<UploadRun> run;
    std::vector<RunState> states; // each new state of the run's view
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
    for (During during :
         {During::Idle, During::TerminalTraffic, During::Transfer, During::Verification}) {
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
            test::PumpFor(50ms);
            p.owner->Port().WriteText("X");
            p.WaitUnplugged();
        } else {
            ASSERT_TRUE(WriteFile(p.device.File("data.bin"), data));
            p.boxes.Answers = {MbOk, MbOk};
            p.StartScript("_TC \"UL^M\"\n_LA 00070000\n_LV 1\n_LF data.bin\n_LD\n");
            p.WaitUnplugged(20s);
        }
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        ASSERT_TRUE(p.WaitLost());
        EXPECT_LT(Plugged::MsSince(p.unpluggedAt), 1000.0);
        if (during == During::Transfer || during == During::Verification) {
            ASSERT_TRUE(test::PumpUntil([&] { return !p.run->Running(); }, 10s));
            EXPECT_LT(Plugged::MsSince(p.unpluggedAt), 1000.0);
            ASSERT_FALSE(p.boxes.Shown.empty());
            EXPECT_EQ(p.boxes.Shown.back().Text.rfind("Upload error encountered", 0), 0u)
                << p.boxes.Shown.back().Text;
            EXPECT_EQ(p.run->Record().End, RunEnd::HungUp);
            EXPECT_NE(p.boxes.Shown.back().Text.find("\rThe device hung up after "),
                      std::string::npos);
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
        EXPECT_EQ(p.run->View().State, RunState::PortLost);
    }
}

// A pseudo-terminal named by its number is not waited for: the next one made gets that number,
// and reopening it would take another program's line (and its lock) from it.
TEST(UnplugTest, ALostPseudoTerminalIsNotReopenedByItsNumber) {
    Plugged p;
    ASSERT_TRUE(p.device.StartProcess()) << p.device.Error();
    const std::string path = p.device.SlavePath();
    p.Open(p.device.WriteLoaderIni(1, {{"Ports", "COM1", path}}));
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    ASSERT_EQ(kill(p.device.Pid(), SIGUSR1), 0);
    ASSERT_TRUE(p.WaitLost());
    EXPECT_FALSE(p.owner->WaitingForDevice());
    // Another program's new pseudo-terminals: the lowest free number, the lost one, comes first.
    std::vector<int> masters;
    bool reused = false;
    for (int i = 0; i < 64 && !reused; ++i) {
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            break;
        }
        masters.push_back(master);
        reused = ptsname(master) != nullptr && path == ptsname(master);
    }
    if (reused) {
        test::PumpFor(1s);
        EXPECT_FALSE(p.owner->IsOpen());
    }
    for (const int master : masters) {
        close(master);
    }
    if (!reused) {
        GTEST_SKIP() << "another program took " << path << " first";
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
        p.boxes.Answers = {MbOk, MbOk};
        p.StartScript(std::string("_TC \"UL^M\"\n_LA 00070000\n_LV 1\n_LF data.bin\n_LD\n"
                                  "_DY 20\n") +
                      (laterCommand ? "_SC \"GO^M\"\n" : ""));
        ASSERT_TRUE(test::PumpUntil(
            [&] { return p.run->Engine().Run().State == ScriptState::ssDelay; }, 20s));
        p.Unplug();
        ASSERT_TRUE(p.WaitLost());
        ASSERT_TRUE(test::PumpUntil([&] { return !p.run->Running(); }, 10s));
        const bool uploadError = !p.boxes.Shown.empty() && p.boxes.Shown.back().Text.rfind(
                                                               "Upload error encountered", 0) == 0;
        EXPECT_EQ(uploadError, laterCommand);
    }
}

// Mended: a device that reset during a pause came back, and its recovery offered "Start File
// Upload" beside "Cancel Upload"; a start then ran the script again from line 1.
TEST(UnplugTest, ADeviceBackDuringAPauseLetsTheRunGoOnWithoutOfferingAStart) {
    Plugged p;
    p.Start();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    p.StartScript("_TC \"UL^M\"\n_DY 400\n_SC \"GO^M\"\n");
    ASSERT_TRUE(
        test::PumpUntil([&] { return p.run->Engine().Run().State == ScriptState::ssDelay; }, 20s));
    p.Unplug();
    ASSERT_TRUE(p.WaitLost());
    p.Replug();
    ASSERT_TRUE(p.WaitOpen());
    const RunControls running = ControlsFor(RunState::Running, false);
    EXPECT_EQ(p.run->View().Controls, running);
    p.run->Start(false); // not offered: nothing happens
    EXPECT_EQ(p.run->Engine().Run().LineIndex, 2);
    ASSERT_TRUE(test::PumpUntil([&] { return !p.run->Running(); }, 30s));
    EXPECT_TRUE(p.boxes.Shown.empty()) << p.boxes.Shown.front().Text;
    EXPECT_EQ(p.run->Record().End, RunEnd::Completed);
    // The view never left the running state while the device was away and back.
    const auto firstRunning = std::find(p.states.begin(), p.states.end(), RunState::Running);
    ASSERT_NE(firstRunning, p.states.end());
    EXPECT_EQ(std::vector<RunState>(firstRunning, p.states.end()),
              (std::vector<RunState>{RunState::Running, RunState::Idle}));
}

TEST(UnplugTest, ReplugOpensThePortAgainWithItsSettings) {
    for (auto away : {500ms, 10000ms}) {
        SCOPED_TRACE(away.count());
        Plugged p;
        p.Start();
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        p.Unplug();
        ASSERT_TRUE(p.WaitLost());
        test::PumpFor(away);
        EXPECT_FALSE(p.owner->IsOpen());
        p.Replug();
        ASSERT_TRUE(p.WaitOpen());
        EXPECT_LT(Plugged::MsSince(p.repluggedAt), 1000.0);
        EXPECT_FALSE(p.owner->Port().Lost());
        EXPECT_FALSE(p.owner->WaitingForDevice());
        EXPECT_EQ(p.states,
                  (std::vector<RunState>{RunState::Idle, RunState::PortLost, RunState::Idle}));
        EXPECT_EQ(p.owner->Port().Baud(), p.owner->Settings().BaudRate);
        // The link's triggers are new and the line answers.
        EXPECT_EQ(p.Version(), "2.10");
    }
}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// A device server that goes and comes back is an adapter unplugged and plugged in again; while
// it is away its address is tried with a growing pause, which costs no CPU.
TEST(UnplugTest, ARestartedServerBringsTheNetworkPortBack) {
    if (!Ser2netServer::Available()) {
        GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh installs it)";
    }
    Plugged p;
    Ser2netServer server;
    p.StartBehind(server);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    server.Kill();
    ASSERT_TRUE(p.WaitLost());
    const double cpuBefore = ProcessCpuSeconds();
    test::PumpFor(1500ms);
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.15);
    EXPECT_TRUE(p.owner->WaitingForDevice());
    ASSERT_TRUE(server.Start({p.device.SlavePath()}, Ser2netServer::Protocol::Rfc2217, "9600n81",
                             {server.Port()}))
        << server.Error();
    p.repluggedAt = Clock::now();
    ASSERT_TRUE(p.WaitOpen());
    // The longest pause between tries, and the try.
    EXPECT_LT(Plugged::MsSince(p.repluggedAt), 3000.0);
    EXPECT_EQ(p.lostAnnounced, 1);
    EXPECT_EQ(p.Version(), "2.10");
}

TEST(UnplugTest, ADeviceAtAnotherPathLeavesThePortLost) {
    Plugged p;
    p.Start();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    p.Unplug();
    ASSERT_TRUE(p.WaitLost());
    ASSERT_TRUE(p.other.StartProcess({"--link", p.device.File("ttyOTHER")})) << p.other.Error();
    test::PumpFor(1000ms);
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
