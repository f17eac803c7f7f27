// The upload engine on the real link and port component, in this process, against the device
// simulator on a pseudo-terminal: what the window shows (lamp, gauges, boxes) during and after
// clean and failing uploads.
#include "e2e/UploadFiles.h"
#include "ini/PrivateProfile.h"
#include "link/ComPortLink.h"
#include "link/LinkOperations.h"
#include "link/Rs232SettingsFile.h"
#include "serial/TVaxoCustomComPort.h"
#include "serial/portmap/PortMap.h"
#include "support/DevsimHarness.h"
#include "upload/ScriptEngine.h"
#include "upload/UploadFakes.h"

#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace pellwick::e2e {
namespace {

using namespace std::chrono_literals;
using test::ScriptedBoxes;

// The main window as the engine sees it, with a real 10 ms timer; it records what it showed.
class RecordingWindow : public IUploadWindow {
public:
    RecordingWindow() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (engine) {
                engine->ScriptTimerTimer();
            }
        });
    }

    ScriptEngine* engine = nullptr;
    std::vector<LampColour> lamps;
    std::vector<int> uploadGauge;
    std::vector<bool> lampGreenAtGauge; // the lamp's colour at each upload gauge change
    std::vector<std::string> labels;

    void SetScriptGauge(int) override {}
    void SetUploadGauge(int percent) override {
        uploadGauge.push_back(percent);
        lampGreenAtGauge.push_back(!lamps.empty() && lamps.back() == LampGreen);
    }
    void SetUploadLabel(const std::string& text) override { labels.push_back(text); }
    void SetComLamp(LampColour colour) override { lamps.push_back(colour); }
    void ShowProgress(bool) override {}
    void SetUploadBtnState(bool) override {}
    void SetScriptTimerEnabled(bool on) override {
        if (on) {
            timer_.start();
        } else {
            timer_.stop();
        }
    }
    bool TerminalExists() const override { return false; }
    void SetTerminalActive(bool) override {}
    void Sleep(std::int32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    bool ChooseScriptFile(std::string&) override { return false; }

private:
    QTimer timer_;
};

class EngineHost : public ILinkHost {
public:
    EngineHost(ScriptEngine& engine, RecordingWindow& window) : engine_(engine), window_(window) {}
    void SetScriptError() override { engine_.SetScriptError(); }
    void SetULError() override { engine_.SetULError(); }
    void EnableScriptTimer() override { engine_.EnableScriptTimer(); }
    void SetUploadGauge(int percent) override { window_.SetUploadGauge(percent); }
    void SetComBtnState(bool) override {}

private:
    ScriptEngine& engine_;
    RecordingWindow& window_;
};

class EngineOnPortTest : public ::testing::Test {
protected:
    void TearDown() override {
        host_.reset();
        engine_.reset();
        if (link_) {
            link_->CloseAndDropTriggers();
        }
        link_.reset();
        portLink_.reset();
        port_.reset();
        TVaxoCustomComPort::SetExceptionDisplay(nullptr);
        if (!startDir_.empty()) {
            std::filesystem::current_path(startDir_);
        }
    }

    // The simulator, loader.ini, and the port opened the way the program opens it.
    void Start(DeviceConfig config) {
        std::filesystem::create_directory(device_.File("store"));
        config.storeDir = device_.File("store");
        ASSERT_TRUE(device_.StartInProcess(config)) << device_.Error();
        const std::string ini = device_.WriteLoaderIni(1, {});
        ASSERT_FALSE(ini.empty());
        // The log goes to the current directory.
        startDir_ = std::filesystem::current_path().string();
        std::filesystem::current_path(device_.Folder());
        PortMap::SetGlobal(std::make_shared<PortMap>(PortMap::Build(ini)));

        TVaxoCustomComPort::SetExceptionDisplay(
            [this](const std::exception& e) { boxes_.Show(MsgKind::Error, e.what(), MbOk); });
        port_ = std::make_unique<TVaxoComPort>();
        port_->SetAutoOpen(false);
        portLink_ = std::make_unique<ComPortLink>(*port_);
        link_ = std::make_unique<LinkOperations>(*portLink_, boxes_);
        // As the port's owner does: a device that goes away closes the port by itself, and the
        // link must hear of it (a transfer's room and drain notices go with the port).
        port_->SetOnPortLost([this](TVaxoCustomComPort&) { link_->LineLost(); });
        PrivateProfile profile(ini);
        Rs232SettingsFile::Load(profile, settings_, linkSettings_);
        ASSERT_TRUE(link_->OpenWithSettings(settings_, linkSettings_));

        engine_ = std::make_unique<ScriptEngine>(*link_, window_, boxes_);
        engine_->Run().PreUploadDelay = 50;
        host_ = std::make_unique<EngineHost>(*engine_, window_);
        link_->SetHost(host_.get());
        window_.engine = engine_.get();
    }

    // Starts a run of the script and keeps the event loop going until it has ended.
    bool RunScript(const std::string& script) {
        EXPECT_TRUE(WriteText(device_.File("test.sld"), script));
        engine_->Run().ScriptFileName = "test.sld";
        engine_->StartRun(false);
        return KeepEventsGoingUntil([this] { return !engine_->Running(); }, 30s);
    }

    // Runs the event loop (not a sleep: the port's notifications wait for it) until the
    // condition holds; false at the deadline.
    static bool KeepEventsGoingUntil(const std::function<bool()>& done,
                                     std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        QEventLoop loop;
        QTimer check;
        check.setInterval(5);
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (done() || std::chrono::steady_clock::now() >= deadline) {
                loop.quit();
            }
        });
        check.start();
        if (!done()) {
            loop.exec();
        }
        return done();
    }

    static std::string UploadScript(const std::string& file) {
        return "_TC \"UL^M\"\n_LA 00070000\n_LV 1\n_LF " + file + "\n_LD\n";
    }

    Bytes StoredFile() const { return StoredFileOf(device_); }
    static Bytes StoredFileOf(const DevsimHarness& device) {
        return ReadFile(device.File("store/00070000.bin"));
    }

    // Closes the port and opens it again on another device, as the settings dialog would.
    void ReopenOn(DevsimHarness& other) {
        std::filesystem::create_directory(other.File("store"));
        DeviceConfig config;
        config.storeDir = other.File("store");
        ASSERT_TRUE(other.StartInProcess(config)) << other.Error();
        const std::string ini = other.WriteLoaderIni(1, {});
        PortMap::SetGlobal(std::make_shared<PortMap>(PortMap::Build(ini)));
        link_->CloseAndDropTriggers();
        ASSERT_TRUE(link_->OpenWithSettings(settings_, linkSettings_));
        link_->SetUploadMode(true);
    }

    DevsimHarness device_;
    ScriptedBoxes boxes_;
    RecordingWindow window_;
    std::unique_ptr<TVaxoComPort> port_;
    std::unique_ptr<ComPortLink> portLink_;
    std::unique_ptr<LinkOperations> link_;
    std::unique_ptr<ScriptEngine> engine_;
    std::unique_ptr<EngineHost> host_;
    std::string startDir_;
    Rs232Settings settings_;
    LinkSettings linkSettings_;
};

TEST_F(EngineOnPortTest, CleanUploadKeepsTheLampGreenWhileTheGaugeClimbsTo100) {
    Start({});
    const Bytes data = AllByteValues(64 * 1024);
    ASSERT_TRUE(WriteFile(device_.File("data.bin"), data));

    ASSERT_TRUE(RunScript(UploadScript("data.bin")));
    EXPECT_TRUE(boxes_.Shown.empty()) << boxes_.Shown.front().Text;
    EXPECT_EQ(StoredFile(), data);
    EXPECT_EQ(window_.lamps, std::vector<LampColour>{LampGreen});

    // During the transfer the gauge only climbs, up to 100; then the verification's 50 and
    // the 0 of the finished upload.
    const std::vector<int>& gauge = window_.uploadGauge;
    ASSERT_GT(gauge.size(), 10u) << "the gauge moved in few steps";
    const std::vector<int> transfer(gauge.begin(), gauge.end() - 2);
    EXPECT_TRUE(std::is_sorted(transfer.begin(), transfer.end()));
    EXPECT_EQ(transfer.back(), 100);
    EXPECT_EQ(std::vector<int>(gauge.end() - 2, gauge.end()), (std::vector<int>{50, 0}));
    EXPECT_EQ(std::count(window_.lampGreenAtGauge.begin(), window_.lampGreenAtGauge.end(), false),
              0);
    EXPECT_EQ(window_.labels,
              (std::vector<std::string>{"data.bin", "Verifying Upload", "Upload Progress"}));
}

TEST_F(EngineOnPortTest, DeviceErrorTurnsTheLampRedAndTheSamePortUploadsAgainAfterwards) {
    DeviceConfig config;
    config.errAfter = 4096;
    Start(config);
    ASSERT_TRUE(WriteFile(device_.File("big.bin"), AllByteValues(32 * 1024)));
    boxes_.Answers = {MbOk};

    ASSERT_TRUE(RunScript(UploadScript("big.bin")));
    ASSERT_EQ(boxes_.Shown.size(), 1u);
    EXPECT_EQ(boxes_.Shown[0].Kind, MsgKind::Error);
    EXPECT_EQ(boxes_.Shown[0].Buttons, unsigned{MbOk});
    EXPECT_EQ(boxes_.Shown[0].Text,
              "Upload error encountered, script aborted! Reset remote system.\rFile: big.bin");
    EXPECT_EQ(window_.lamps, (std::vector<LampColour>{LampGreen, LampRed}));
    EXPECT_TRUE(StoredFile().empty());

    // The device lets the rest of the refused file go by; then a file below its fault
    // threshold goes through the same port.
    ASSERT_TRUE(KeepEventsGoingUntil([this] { return !device_.Server()->Discarding(); }, 10s));
    const Bytes small = AllByteValues(1000);
    ASSERT_TRUE(WriteFile(device_.File("small.bin"), small));
    ASSERT_TRUE(RunScript(UploadScript("small.bin")));
    EXPECT_EQ(boxes_.Shown.size(), 1u);
    EXPECT_EQ(window_.lamps.back(), LampGreen);
    EXPECT_EQ(StoredFile(), small);
}

TEST_F(EngineOnPortTest, FailedVerificationShowsTheCommunicationBoxThenTheUploadErrorBox) {
    DeviceConfig config;
    config.corruptAt = 10;
    Start(config);
    ASSERT_TRUE(WriteFile(device_.File("bad.bin"), AllByteValues(2000)));
    boxes_.Answers = {MbOk, MbOk};

    ASSERT_TRUE(RunScript(UploadScript("bad.bin")));
    ASSERT_EQ(boxes_.Shown.size(), 2u);
    EXPECT_EQ(boxes_.Shown[0].Text,
              "Communication test failed. Upload of bad.bin may have failed!\rScript Line: 5");
    EXPECT_EQ(boxes_.Shown[1].Text,
              "Upload error encountered, script aborted! Reset remote system.\rFile: bad.bin");
    // The refusal is the verdict (no second try); the report keeps the share handed over.
    ASSERT_GE(window_.uploadGauge.size(), 3u);
    EXPECT_EQ(std::vector<int>(window_.uploadGauge.end() - 3, window_.uploadGauge.end()),
              (std::vector<int>{50, 90, 100}));
    EXPECT_EQ(window_.lamps.back(), LampRed);
    EXPECT_TRUE(StoredFile().empty());
}

TEST_F(EngineOnPortTest, DeviceHangingUpEndsTheRunWithTheUploadErrorAndThePortReopens) {
    DeviceConfig config;
    config.hangupAfter = 20000;
    Start(config);
    ASSERT_TRUE(WriteFile(device_.File("cut.bin"), AllByteValues(128 * 1024)));
    // The hang-up ends the upload at once, without a verification.
    boxes_.Answers = {MbOk, MbOk, MbOk, MbOk, MbOk};

    ASSERT_TRUE(RunScript(UploadScript("cut.bin")));
    ASSERT_EQ(boxes_.Shown.size(), 1u);
    EXPECT_EQ(boxes_.Shown[0].Text,
              "Upload error encountered, script aborted! Reset remote system.\rFile: cut.bin");
    EXPECT_EQ(window_.lamps.back(), LampRed);

    DevsimHarness fresh;
    ReopenOn(fresh);
    const std::size_t shown = boxes_.Shown.size();
    const Bytes data = AllByteValues(5000);
    ASSERT_TRUE(WriteFile(device_.File("again.bin"), data));
    ASSERT_TRUE(RunScript(UploadScript("again.bin")));
    EXPECT_EQ(boxes_.Shown.size(), shown);
    EXPECT_EQ(window_.lamps.back(), LampGreen);
    EXPECT_EQ(StoredFileOf(fresh), data);
}

} // namespace
} // namespace pellwick::e2e
