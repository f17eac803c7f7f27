// The link on the real port component against the device simulator on a pseudo-terminal.
#include "LinkFakes.h"
#include "link/ComPortLink.h"
#include "link/LinkOperations.h"
#include "serial/TVaxoCustomComPort.h"
#include "serial/portmap/PortMap.h"
#include "support/DevsimHarness.h"
#include "support/PtyPair.h"
#include "support/PumpUntil.h"

#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <thread>

namespace pellwick {
namespace {

using Clock = std::chrono::steady_clock;
using test::FakeLinkHost;
using test::PumpUntil;
using test::ScriptedBoxes;
using test::Unscripted;

std::string UploadHeader(const std::vector<std::uint8_t>& data, const std::string& address) {
    unsigned sum = 0;
    for (auto b : data)
        sum += b;
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%04X", sum & 0xFFFFu);
    return "LF " + address + " " + std::to_string(data.size()) + " " + checksum + " 1.0\r";
}

class LinkDeviceTest : public ::testing::Test {
protected:
    void Start(const DeviceConfig& config, const LinkSettings& linkSettings = {},
               std::int32_t baud = 115200) {
        ASSERT_TRUE(device.StartInProcess(config)) << device.Error();
        PortMap::SetGlobal(
            std::make_shared<PortMap>(std::map<int, std::string>{{1, device.SlavePath()}}));
        TVaxoCustomComPort::SetExceptionDisplay(
            [](const std::exception& e) { ADD_FAILURE() << "handler raised: " << e.what(); });
        port.SetAutoOpen(false);
        port.SetPromptForPort(false);
        link.SetHost(&host);
        Rs232Settings settings;
        settings.BaudRate = baud;
        // A pseudo-terminal has no modem lines: CTS would never allow output.
        settings.UseRts = false;
        settings.RequireCts = false;
        ASSERT_TRUE(link.OpenWithSettings(settings, linkSettings));
    }
    void TearDown() override {
        link.CloseAndDropTriggers();
        device.Stop();
    }
    bool HostCalled(const std::string& call) const {
        return std::find(host.Calls.begin(), host.Calls.end(), call) != host.Calls.end();
    }

    DevsimHarness device;
    ScopedHook<std::shared_ptr<const PortMap>> portMap_{PortMap::GlobalHook(), nullptr};
    ScopedHook<TVaxoCustomComPort::ExceptionDisplay> display_{
        TVaxoCustomComPort::ExceptionDisplayHook(), nullptr};
    TVaxoComPort port;
    ComPortLink portLink{port};
    ScriptedBoxes boxes{Unscripted::PressFirstButton};
    FakeLinkHost host;
    LinkOperations link{portLink, boxes};
};

TEST_F(LinkDeviceTest, VersionCommandAnswersTheValueAndThePromptTriggerClearsTheReplyLater) {
    Start({});
    std::string answer;
    link.SendInitCmd("VER\r", answer);
    EXPECT_EQ(answer, "2.10");
    EXPECT_EQ(link.State().ReplyText, "VER=2.10\r\n#");
    EXPECT_TRUE(boxes.Shown.empty());

    // The prompt that ended the wait is still in the trigger's view: the next byte that comes
    // while no wait runs fires the prompt trigger, which throws the waiting input away.
    port.WriteText("VER\r");
    EXPECT_TRUE(PumpUntil([&] { return link.State().ReplyText.empty(); }));
    EXPECT_TRUE(PumpUntil([&] { return port.InputCount() == 0; }));
}

TEST_F(LinkDeviceTest, SilentDeviceAnswersErrorAfterTheFullWait) {
    DeviceConfig config;
    config.silent = true;
    Start(config);
    std::string answer;
    const auto start = Clock::now();
    link.SendInitCmd("VER\r", answer);
    const auto waited = Clock::now() - start;
    EXPECT_EQ(answer, "ERROR");
    EXPECT_GE(waited, std::chrono::milliseconds(5000));
    EXPECT_TRUE(boxes.Shown.empty());
}

TEST_F(LinkDeviceTest, PromptInOtherCaseEndsTheWaitEarlyButAnswersError) {
    DeviceConfig config;
    config.prompt = "ok>";
    LinkSettings settings;
    settings.PromptText = "OK>";
    Start(config, settings);
    std::string answer;
    const auto start = Clock::now();
    link.SendInitCmd("\r", answer);
    EXPECT_EQ(answer, "ERROR");
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(5000));
    EXPECT_EQ(link.State().ReplyText, "ok>");
}

TEST_F(LinkDeviceTest, MebibyteUploadArrivesByteForByte) {
    DeviceConfig config;
    config.storeDir = device.Folder();
    Start(config);
    link.SetUploadMode(true);
    std::string answer;
    link.SendInitCmd("UL\r", answer);
    ASSERT_EQ(answer, "OK");

    std::vector<std::uint8_t> data(1 << 20);
    std::mt19937 random(7);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(random());
    link.SendDataString(UploadHeader(data, "00020000"));
    link.SendBuffer(data.data(), static_cast<std::uint32_t>(data.size()));
    ASSERT_TRUE(PumpUntil([&] { return HostCalled("EnableScriptTimer"); }, 120000));
    const TransferProgress progress = link.Progress();
    EXPECT_TRUE(progress.Drained);
    EXPECT_EQ(progress.Handed, static_cast<std::int64_t>(data.size()));
    EXPECT_EQ(port.Tag(), PhaseNone);

    link.SendInitCmd("\r", answer);
    EXPECT_EQ(answer, "OK");
    const auto uploads = device.Server()->Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_TRUE(uploads[0].accepted) << uploads[0].reason;
    std::ifstream stored(uploads[0].storedPath, std::ios::binary);
    const std::vector<std::uint8_t> received{std::istreambuf_iterator<char>(stored), {}};
    EXPECT_TRUE(received == data);
}

TEST_F(LinkDeviceTest, OnASlowLineTheGaugeAndTheSpeedFollowTheLineNotTheBuffers) {
    DeviceConfig config;
    config.baud = 9600;
    Start(config, {}, 9600);
    link.SetUploadMode(true);
    std::string answer;
    link.SendInitCmd("UL\r", answer);
    ASSERT_EQ(answer, "OK");

    // 10 s on the line at 960 bytes/s; the pseudo-terminal takes all of it at once.
    const std::vector<std::uint8_t> data(9600, 0x55);
    link.SendDataString(UploadHeader(data, "1"));
    const auto start = Clock::now();
    link.SendBuffer(data.data(), static_cast<std::uint32_t>(data.size()));
    ASSERT_TRUE(PumpUntil([&] { return Clock::now() - start >= std::chrono::seconds(5); }));
    EXPECT_NEAR(link.Progress().OnLinePercent(), 50, 5);
    ASSERT_FALSE(host.Gauge.empty());
    EXPECT_LE(host.Gauge.back(), 55);

    ASSERT_TRUE(PumpUntil([&] { return HostCalled("EnableScriptTimer"); }));
    const TransferProgress end = link.Progress();
    EXPECT_TRUE(end.Drained);
    ASSERT_EQ(end.Handed, 9600);
    EXPECT_NEAR(end.Handed / end.Seconds, 960, 48);
}

TEST_F(LinkDeviceTest, DeviceErrorDuringUploadStopsTheTransferAndReportsIt) {
    DeviceConfig config;
    config.baud = 115200; // slow enough that the error comes long before the end
    config.errAfter = 1000;
    Start(config);
    link.SetUploadMode(true);
    std::string answer;
    link.SendInitCmd("UL\r", answer);
    ASSERT_EQ(answer, "OK");

    // At the emulated line rate the whole file would take about 90 s.
    std::vector<std::uint8_t> data(1 << 20, 0x55);
    link.SendDataString(UploadHeader(data, "1"));
    link.SendBuffer(data.data(), static_cast<std::uint32_t>(data.size()));
    ASSERT_TRUE(PumpUntil([&] { return HostCalled("SetULError"); }));
    EXPECT_FALSE(HostCalled("EnableScriptTimer"));
    EXPECT_LT(device.Server()->BytesReceived(), data.size() / 2);
    EXPECT_EQ(port.Tag(), PhaseNone);
    EXPECT_FALSE(link.State().StopRequest);
}

// The wait for a quiet line before and after the verifying CR: at least the quiet (a tick's
// wait could end a millisecond after it began), not much more, and a trickle of bytes with
// shorter gaps taken whole.
TEST(LinkQuietTest, TakeInputWaitsForTheQuietOfTheLineRate) {
    struct Case {
        std::int32_t baud;
        int trickleBytes; // sent one every 5 ms while TakeInput runs
    };
    for (const Case c : {Case{115200, 0}, Case{9600, 0}, Case{9600, 30}}) {
        SCOPED_TRACE("baud " + std::to_string(c.baud) + ", trickle " +
                     std::to_string(c.trickleBytes));
        test::PtyPair pty;
        ScopedHook<std::shared_ptr<const PortMap>> portMap{
            PortMap::GlobalHook(),
            std::make_shared<PortMap>(std::map<int, std::string>{{1, pty.SlavePath()}})};
        TVaxoComPort port;
        port.SetAutoOpen(false);
        port.SetPromptForPort(false);
        ComPortLink portLink{port};
        ScriptedBoxes boxes{Unscripted::FailTest};
        FakeLinkHost host;
        LinkOperations link{portLink, boxes};
        link.SetHost(&host);
        Rs232Settings settings;
        settings.BaudRate = c.baud;
        settings.UseRts = false;
        settings.RequireCts = false;
        ASSERT_TRUE(link.OpenWithSettings(settings, {}));
        const auto quiet = LinkOperations::QuietFor(c.baud / 10.0);

        std::thread trickle([&] {
            for (int i = 0; i < c.trickleBytes; ++i) {
                pty.Write(std::string(1, static_cast<char>('a' + i % 26)));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        const auto start = Clock::now();
        const std::string taken = link.TakeInput();
        const auto took = Clock::now() - start;
        trickle.join();
        link.CloseAndDropTriggers();

        EXPECT_EQ(taken.size(), static_cast<std::size_t>(c.trickleBytes));
        EXPECT_GE(took, quiet);
        EXPECT_LT(took, quiet + std::chrono::milliseconds(5 * c.trickleBytes + 150));
    }
}

} // namespace
} // namespace pellwick
