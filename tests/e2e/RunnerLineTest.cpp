// pellwick-run on a line that misbehaves the way real ones do: a refusal on a slow line is told
// with one number everywhere, and a line that takes nothing more is told after 5 s and ended at
// once by Ctrl-C; its lock file goes where the environment says.
#include "e2e/RunReportCheck.h"
#include "e2e/RunnerFixture.h"
#include "support/ScopedEnv.h"

#include <QJsonArray>
#include <QJsonObject>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>

namespace pellwick::e2e {
namespace {

using RunnerLineTest = RunnerFixture;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string UploadScript = "_SC \"UL^M\"\n_LA 00070000\n_LV 1\n_LF a.bin\n_LD\n";

// At 9600 baud the device refuses after 3000 of 6000 bytes: the cause, the report's bytes_sent
// and the runner's table give the bytes the line had carried then, and the transfer's time is
// the time until then, not that of the whole file.
TEST_F(RunnerLineTest, ARefusalOnASlowLineIsToldWithOneNumber) {
    DeviceConfig config;
    config.baud = 9600;
    config.errAfter = 3000;
    StartDevice(config, {{"RS232Settings", "Baud Rate", "9600"}});
    ASSERT_TRUE(WriteFile(File("a.bin"), AllByteValues(6000)));
    EXPECT_EQ(RunScript(UploadScript, {"--report", "run.json"}), 3) << Output();
    const QJsonObject file = ReadCheckedReport(File("run.json"))["files"].toArray()[0].toObject();
    EXPECT_EQ(file["outcome"].toString(), "refused");
    const int sent = file["bytes_sent"].toInt();
    EXPECT_GE(sent, 2900);
    EXPECT_LE(sent, 3400);
    const std::string cause = file["cause"].toString().toStdString();
    EXPECT_EQ(cause,
              "The device answered \"ERR\" after " + std::to_string(sent) + " of 6000 bytes.");
    EXPECT_GE(file["transfer_seconds"].toDouble(), 2.9);
    EXPECT_LE(file["transfer_seconds"].toDouble(), 3.9);
    EXPECT_TRUE(std::regex_search(Output(), std::regex(" " + std::to_string(sent) + " bytes ")))
        << Output();
}

class RunnerHeldLineTest : public RunnerFixture {
protected:
    // Starts a run whose device stops reading after 1000 bytes of a file far larger than the
    // line's buffers; returns once the device has stopped.
    void StartHeld(RunnerProcess& runner) {
        DeviceConfig config;
        config.stallAfter = 1000;
        StartDevice(config);
        ASSERT_TRUE(WriteFile(File("a.bin"), AllByteValues(512 * 1024)));
        ASSERT_TRUE(WriteText(File("test.sld"), UploadScript));
        ASSERT_TRUE(runner.Start(Folder(), {"test.sld"})) << runner.Error();
        ASSERT_TRUE(WaitForDeviceBytes(1000, 30s)) << runner.Output();
    }
};

TEST_F(RunnerHeldLineTest, NothingLeavingFor5SecondsEndsTheRunWithWhatHoldsTheLine) {
    RunnerProcess runner;
    StartHeld(runner);
    const auto held = Clock::now();
    EXPECT_EQ(runner.Wait(30s), 3) << runner.Output();
    EXPECT_GE(Clock::now() - held, 4500ms);
    EXPECT_LE(Clock::now() - held, 9000ms);
    EXPECT_NE(runner.Output().find(UploadErrorBox("a.bin") +
                                   "\n    Nothing left for 5 s: the device takes no more bytes."),
              std::string::npos)
        << runner.Output();
}

// The lock file goes to the folder PELLWICK_LOCK_DIR names, holds the runner's PID, and goes
// when the run ends; tests run side by side only because of this.
TEST_F(RunnerHeldLineTest, TheLineIsLockedInTheFolderTheEnvironmentNames) {
    namespace fs = std::filesystem;
    const std::string locks = Folder() + "/locks";
    fs::create_directory(locks);
    const ScopedEnv lockDir("PELLWICK_LOCK_DIR", locks.c_str());
    RunnerProcess runner;
    StartHeld(runner);
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(locks)) {
        files.push_back(entry.path());
    }
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string().rfind("LCK..pts_", 0), 0u) << files[0];
    int pid = 0;
    std::ifstream(files[0]) >> pid;
    EXPECT_EQ(pid, runner.Pid());
    ASSERT_TRUE(runner.Signal(SIGINT));
    EXPECT_EQ(runner.Wait(10s), 3) << runner.Output();
    EXPECT_FALSE(fs::exists(files[0]));
}

TEST_F(RunnerHeldLineTest, CtrlCEndsItAtOnce) {
    RunnerProcess runner;
    StartHeld(runner);
    std::this_thread::sleep_for(500ms); // the line has filled
    const auto cancelled = Clock::now();
    ASSERT_TRUE(runner.Signal(SIGINT));
    ASSERT_TRUE(runner.WaitForOutput("Cancelled by the operator.", 5s)) << runner.Output();
    EXPECT_LE(Clock::now() - cancelled, 500ms);
    EXPECT_EQ(runner.Wait(10s), 3) << runner.Output();
}

} // namespace
} // namespace pellwick::e2e
