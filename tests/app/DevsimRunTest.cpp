// A whole upload from the "Start File Upload" click to idle, with the real settings window and
// port against the device simulator on a pseudo-terminal.
#include <QDir>
#include <QElapsedTimer>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/resource.h>

#include "AppTestSupport.h"
#include "app/LinkTerminalHost.h"
#include "app/TFrmLoadr.h"
#include "link/PortOwner.h"
#include "link/TFrmS_comm.h"
#include "serial/portmap/PortMap.h"
#include "support/DevsimHarness.h"
#include "terminal/TFrmTerminal.h"
#include "terminal/TVaxoTerminal.h"
#include "upload/ScriptEngine.h"
#include "upload/run/UploadRun.h"

namespace pellwick::test {
namespace {

using namespace std::chrono_literals;

class DevsimRunTest : public ::testing::Test {
protected:
    void TearDown() override {
        window.reset();
        run.reset();
        terminal.reset();
        settings.reset();
        terminalHost.reset();
        owner.reset();
        std::filesystem::current_path(previous);
        sim.Stop();
    }

    // The program's start-up in the simulator's folder: main window, then settings window.
    void StartProgram() {
        ASSERT_TRUE(sim.StartInProcess(config)) << sim.Error();
        const std::string ini = sim.WriteLoaderIni(
            1, {{"Upload Settings", "Delay", "10"}, {"RS232Settings", "Baud Rate", "115200"}});
        std::filesystem::current_path(sim.Folder());
        PortMap::SetGlobal(std::make_shared<const PortMap>(PortMap::Build(ini)));
        TFrmLoadr::Options options;
        options.SplashWait = 0ms;
        owner = std::make_unique<PortOwner>(boxes);
        run = std::make_unique<UploadRun>(owner->Operations(), boxes);
        window = std::make_unique<TFrmLoadr>(*run, boxes, options);
        settings = std::make_unique<TFrmS_comm>(*owner, window->IniPath(), boxes);
        settings->FormCreate();
        terminalHost = std::make_unique<LinkTerminalHost>(*owner);
        TFrmLoadr::Peers peers;
        peers.Port = &owner->Port();
        peers.ClosePort = [this] { owner->Shutdown(); };
        peers.CreateTerminal = [this] {
            terminal = std::make_unique<TFrmTerminal>(&owner->Port(), terminalHost.get());
            return terminal.get();
        };
        peers.SetTerminalActive = [this](bool on) {
            terminalSwitches.push_back(on);
            terminal->Terminal().SetActive(on);
        };
        window->SetPeers(std::move(peers));
        window->show();
    }

    void Write(const std::string& name, const std::string& content) {
        std::ofstream(sim.File(name), std::ios::binary) << content;
    }

    template <typename T> T* Find(const char* name) {
        return window->findChild<T*>(QString::fromLatin1(name));
    }

    QColor Lamp() { return Find<QFrame>("PnlComLamp")->palette().color(QPalette::Window); }

    // The controls of a running upload (`running`) or of idle, progress shown or hidden.
    bool ControlsOf(bool running) {
        auto* progress = Find<QGroupBox>("GrpBxProgress");
        return Find<QPushButton>("BtnUpload")->isEnabled() != running &&
               Find<QToolButton>("SpdBtnComSet")->isEnabled() != running &&
               Find<QPushButton>("BtnULCancel")->isEnabled() == running &&
               (running ? progress->isVisible() : progress->isHidden());
    }

    std::string previous = std::filesystem::current_path().string();
    ScopedHook<std::shared_ptr<const PortMap>> portMap_{PortMap::GlobalHook(), nullptr};
    DeviceConfig config;
    DevsimHarness sim;
    ScriptedBoxes boxes{Unscripted::PressFirstButton};
    std::unique_ptr<PortOwner> owner;
    std::unique_ptr<UploadRun> run;
    std::unique_ptr<TFrmLoadr> window;
    std::unique_ptr<TFrmS_comm> settings;
    std::unique_ptr<LinkTerminalHost> terminalHost;
    std::unique_ptr<TFrmTerminal> terminal;
    std::vector<bool> terminalSwitches;
};

TEST_F(DevsimRunTest, ScriptRunsFromTheClickToIdleAndTheDeviceAcceptsEveryFile) {
    config.baud = 115200;
    StartProgram();
    ASSERT_TRUE(owner->IsOpen());
    ASSERT_TRUE(Find<QPushButton>("BtnUpload")->isEnabled());
    Write("one.bin", std::string(20000, '\x5A'));
    Write("two.bin", std::string("\r\n\0LF tail", 10));
    Write("loader.sld", "_SC \"UL^M\"\n_DY 10\n_TC \"VER^M\"\n_LA 00020000\n_LV 1.02\n"
                        "_LF one.bin\n_LD\n_LA 00030000\n_LF two.bin\n_LD\n_SC \"GO^M\"\n");

    QTest::mouseClick(Find<QPushButton>("BtnUpload"), Qt::LeftButton);
    EXPECT_TRUE(ControlsOf(true));
    EXPECT_EQ(Lamp(), QColor(0, 128, 0));

    // The first file on its way: its name over the upload gauge, the gauge moving.
    std::set<int> gauges;
    ASSERT_TRUE(PumpUntil([&] {
        if (Find<QLabel>("LblUpload")->text() == "one.bin") {
            gauges.insert(Find<QProgressBar>("GgeUpload")->value());
        }
        return gauges.size() >= 3;
    })) << "upload gauge values seen: "
        << gauges.size();
    EXPECT_TRUE(ControlsOf(true));
    if (const char* shots = std::getenv("PELLWICK_SCREENSHOT_DIR")) {
        window->grab().save(QDir(QString::fromLocal8Bit(shots)).filePath("mainwin-upload.png"));
    }

    ASSERT_TRUE(PumpUntil([&] { return !window->Run().Running(); }, 60000));
    EXPECT_TRUE(boxes.Shown.empty()) << boxes.Shown.front().Text;
    EXPECT_TRUE(ControlsOf(false));
    EXPECT_EQ(Lamp(), QColor(0, 128, 0));
    EXPECT_EQ(Find<QProgressBar>("GgeScript")->value(), 100);
    EXPECT_EQ(Find<QProgressBar>("GgeUpload")->value(), 0);

    const auto uploads = sim.Server()->Uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_TRUE(uploads[0].accepted) << uploads[0].reason;
    EXPECT_EQ(uploads[0].size, 20000u);
    EXPECT_EQ(uploads[0].version, "1.02");
    EXPECT_TRUE(uploads[1].accepted) << uploads[1].reason;
    EXPECT_EQ(uploads[1].address, "00030000");
    EXPECT_FALSE(sim.Server()->UploadMode());
    EXPECT_TRUE(std::filesystem::exists(sim.File("loader.log")));
}

TEST_F(DevsimRunTest, UploadsStillWorkAfterTheTerminalWindowWasOpenedAndClosed) {
    StartProgram();
    Write("a.bin", std::string(3000, 'a'));
    Write("loader.sld", "_SC \"UL^M\"\n_DY 10\n_TC \"VER^M\"\n_LA 00010000\n_LV 1\n"
                        "_LF a.bin\n_LD\n_SC \"GO^M\"\n");
    QTest::mouseClick(Find<QToolButton>("SpdBtnTerm"), Qt::LeftButton);
    ASSERT_NE(terminal, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return terminal->isVisible(); }));
    EXPECT_TRUE(window->TerminalExists());
    terminal->close();
    ASSERT_TRUE(PumpUntil([&] { return !terminal->isVisible(); }));

    for (int round = 1; round <= 2; ++round) {
        QTest::mouseClick(Find<QPushButton>("BtnUpload"), Qt::LeftButton);

        ASSERT_TRUE(PumpUntil([&] { return !window->Run().Running(); }, 60000));
        ASSERT_TRUE(boxes.Shown.empty()) << "round " << round << ": " << boxes.Shown.front().Text;
        EXPECT_EQ(Lamp(), QColor(0, 128, 0));
        EXPECT_EQ(sim.Server()->Uploads().size(), static_cast<std::size_t>(round));
        EXPECT_TRUE(sim.Server()->Uploads().back().accepted);
    }
    // Off before each file is sent, on again after it was verified.
    EXPECT_EQ(terminalSwitches, (std::vector<bool>{false, true, false, true}));
}

// How long the calling thread has waited for a processor so far (Linux's scheduler statistics),
// in ms; 0 where they cannot be read.
qint64 RunQueueWaitMs() {
    std::ifstream stat("/proc/thread-self/schedstat");
    unsigned long long running = 0, waiting = 0;
    return stat >> running >> waiting ? static_cast<qint64>(waiting / 1000000) : 0;
}

// The processor time of the whole process so far, in ms.
qint64 ProcessCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return qint64(t.tv_sec) * 1000 + t.tv_usec / 1000; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// While the run waits for an answer that does not come, the window goes on: its event loop
// never stands still for more than 50 ms (measured by a 5 ms timer of the GUI thread). What the
// thread spent waiting for a processor does not count: on a busy machine the scheduler, not the
// window, holds it then; a thread of the program itself that spins is caught by the time it
// takes from the processor.
class WindowWhileWaitingTest : public DevsimRunTest {
protected:
    // Runs the script until the run has waited 7.5 s, or has ended after more than 5 s;
    // returns the longest gap between the beats in ms.
    qint64 LongestGap(const char* script) {
        StartProgram();
        Write("a.bin", std::string(1000, 'a'));
        Write("loader.sld", script);
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 lastWait = RunQueueWaitMs();
        qint64 longest = 0;
        QTimer beat;
        beat.setTimerType(Qt::PreciseTimer);
        QObject::connect(&beat, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            const qint64 wait = RunQueueWaitMs();
            longest = std::max(longest, now - last - (wait - lastWait));
            last = now;
            lastWait = wait;
        });
        QTest::mouseClick(Find<QPushButton>("BtnUpload"), Qt::LeftButton);
        clock.start();
        const qint64 cpuBefore = ProcessCpuMs();
        beat.start(5);
        EXPECT_TRUE(
            PumpUntil([&] { return !window->Run().Running() || clock.elapsed() > 7500; }, 30000));
        beat.stop();
        EXPECT_GT(clock.elapsed(), 5000);
        EXPECT_LT(ProcessCpuMs() - cpuBefore, clock.elapsed() / 2)
            << "a thread spins while waiting";
        EXPECT_TRUE(PumpUntil([&] { return !window->Run().Running(); }, 30000));
        RecordProperty("longest_gap_ms", static_cast<int>(longest));
        return longest;
    }
};

TEST_F(WindowWhileWaitingTest, ACommandThatIsNotAnswered) {
    config.silent = true;
    EXPECT_LE(LongestGap("_TC \"VER^M\"\n"), 50);
}

TEST_F(WindowWhileWaitingTest, AVerificationThatIsTriedAgain) {
    config.ignoreVerify = 1;
    EXPECT_LE(LongestGap("_SC \"UL^M\"\n_LA 00010000\n_LV 1\n_LF a.bin\n_LD\n"), 50);
    EXPECT_TRUE(boxes.Shown.empty()) << boxes.Shown.front().Text;
}

// Cancel Upload answered Yes while the run waits in a 60 s pause before the data, or on a line
// that takes nothing more: the run ends within half a second.
TEST_F(DevsimRunTest, ACancelEndsALongPauseOrAHeldLineAtOnce) {
    for (const bool held : {false, true}) {
        SCOPED_TRACE(held ? "a held line" : "a 60 s pause");
        TearDown();
        config = DeviceConfig{};
        config.stallAfter = held ? 2000 : -1;
        StartProgram();
        run->Engine().Run().PreUploadDelay = held ? 0 : 60000;
        Write("a.bin", std::string(512 * 1024, 'a'));
        Write("loader.sld", "_SC \"UL^M\"\n_LA 00010000\n_LV 1\n_LF a.bin\n_LD\n");
        QTest::mouseClick(Find<QPushButton>("BtnUpload"), Qt::LeftButton);
        ASSERT_TRUE(
            PumpUntil([&] { return sim.Server()->BytesReceived() >= (held ? 2000u : 20u); }));
        QTest::qWait(300);
        boxes.Answers = {MbYes, MbOk};
        QElapsedTimer cancelled;
        cancelled.start();
        QTest::mouseClick(Find<QPushButton>("BtnULCancel"), Qt::LeftButton);
        ASSERT_TRUE(PumpUntil([&] { return !window->Run().Running(); }, 5000));
        EXPECT_LE(cancelled.elapsed(), 500);
        EXPECT_EQ(run->Record().End, RunEnd::Cancelled);
    }
}

} // namespace
} // namespace pellwick::test
