// pellwick-run against a misbehaving device or setting: each fault ends with its exit status
// and the right message boxes, nothing hangs, and a clean run in the same folder works after it.
#include "e2e/RunnerFixture.h"

#include <csignal>

namespace pellwick::e2e {
namespace {

using RunnerFaultTest = RunnerFixture;
using namespace std::chrono_literals;

std::string UploadScript(const std::string& file) {
    return "_SC \"UL^M\"\n_LA 00050000\n_LV 1.0\n_LF " + file + "\n_LD\n";
}

TEST_F(RunnerFaultTest, DeviceErrorMidTransferIsAnUploadErrorAndASmallerFileStillGoesThrough) {
    DeviceConfig config;
    config.errAfter = 4096;
    StartDevice(config);
    ASSERT_TRUE(WriteFile(File("mid.bin"), AllByteValues(64 * 1024)));

    EXPECT_EQ(RunScript(UploadScript("mid.bin")), 3) << Output();
    EXPECT_NE(Output().find(UploadErrorBox("mid.bin")), std::string::npos) << Output();
    ASSERT_EQ(Device().Server()->Uploads().size(), 1u);
    EXPECT_FALSE(Device().Server()->Uploads()[0].accepted);

    // The same device, once it has let the rest of the refused file go by: a file below the
    // fault's threshold passes.
    ASSERT_TRUE(WaitForDeviceQuiet(10s));
    const Bytes small = AllByteValues(1000);
    ASSERT_TRUE(WriteFile(File("small.bin"), small));
    EXPECT_EQ(RunScript(UploadScript("small.bin")), 0) << Output();
    EXPECT_EQ(ReadFile(File("store/00050000.bin")), small);
}

TEST_F(RunnerFaultTest, NoPromptAfterTheDataReportsTheFailedVerificationThenTheUploadError) {
    // A lost byte makes the device wait for one more: the first verifying CR completes the
    // data and gets no answer, the retry gets the error string.
    DeviceConfig config;
    config.dropAt = 100;
    StartDevice(config);
    ASSERT_TRUE(WriteFile(File("lost.bin"), AllByteValues(2000)));

    EXPECT_EQ(RunScript(UploadScript("lost.bin")), 3) << Output();
    const auto failed =
        Output().find("[Error] Communication test failed. Upload of lost.bin may have failed!\n"
                      "    Script Line: 5\n");
    const auto aborted = Output().find(UploadErrorBox("lost.bin"));
    ASSERT_NE(failed, std::string::npos) << Output();
    ASSERT_NE(aborted, std::string::npos) << Output();
    EXPECT_LT(failed, aborted);
    EXPECT_TRUE(Device().Server()->Uploads().empty() || !Device().Server()->Uploads()[0].accepted);
    ExpectCleanRunAgainstFreshDevice();
}

TEST_F(RunnerFaultTest, CtrlCDuringASlowTransferCancelsWithAnUploadError) {
    DeviceConfig config;
    config.baud = 38400;
    StartDevice(config);
    const std::size_t size = 256 * 1024;
    ASSERT_TRUE(WriteFile(File("slow.bin"), AllByteValues(size)));
    ASSERT_TRUE(WriteText(File("test.sld"), UploadScript("slow.bin")));

    RunnerProcess runner;
    ASSERT_TRUE(runner.Start(Folder(), {"test.sld"})) << runner.Error();
    ASSERT_TRUE(WaitForDeviceBytes(8 * 1024, 30s)) << runner.Output();
    ASSERT_TRUE(runner.Signal(SIGINT));
    EXPECT_EQ(runner.Wait(RunDeadline), 3) << runner.Output();
    const std::string& out = runner.Output();
    const auto asked = out.find("[Warning] Cancel current upload?\n    -> Yes\n");
    const auto aborted = out.find(UploadErrorBox("slow.bin"));
    ASSERT_NE(asked, std::string::npos) << out;
    ASSERT_NE(aborted, std::string::npos) << out;
    EXPECT_LT(asked, aborted);
    // The transfer stopped: the device never got the whole file.
    EXPECT_LT(Device().Server()->BytesReceived(), size);
    EXPECT_TRUE(Device().Server()->Uploads().empty() || !Device().Server()->Uploads()[0].accepted);
    ExpectCleanRunAgainstFreshDevice();
}

TEST_F(RunnerFaultTest, DeviceHangingUpMidTransferEndsTheRunWithAnUploadError) {
    DeviceConfig config;
    config.hangupAfter = 20000;
    StartDevice(config);
    ASSERT_TRUE(WriteFile(File("cut.bin"), AllByteValues(256 * 1024)));

    EXPECT_EQ(RunScript(UploadScript("cut.bin")), 3) << Output();
    EXPECT_NE(Output().find(UploadErrorBox("cut.bin")), std::string::npos) << Output();
    EXPECT_TRUE(Device().Server()->Uploads().empty() || !Device().Server()->Uploads()[0].accepted);
    ExpectCleanRunAgainstFreshDevice();
}

TEST_F(RunnerFaultTest, PortThatCannotBeOpenedExitsWithFour) {
    StartDevice({}, {{"Ports", "COM1", File("no-such-tty")}});
    EXPECT_EQ(RunScript(UploadScript("x.bin")), 4) << Output();
    EXPECT_NE(Output().find("[Error] Error Opening Selected Comm Port !"), std::string::npos)
        << Output();
    EXPECT_EQ(Device().Server()->BytesReceived(), 0u);
}

TEST_F(RunnerFaultTest, TriggerStringTooLongForThePortIsReportedAndTheRunEndsCleanly) {
    struct Row {
        const char* Key;
        int Status;         // normal prompt: the port set-up; upload prompt: the run's start
        const char* Report; // what the operator is told
    };
    for (const Row& row : {Row{"Prompt", 4, "[Error] Error Opening Selected Comm Port !"},
                           Row{"UL Prompt", 3, "[Error] "}}) {
        SCOPED_TRACE(row.Key);
        DevsimHarness device;
        StartDeviceIn(device, {}, {{"Trigger", row.Key, std::string(23, 'P')}});
        std::string output;
        ASSERT_TRUE(WriteText(device.File("test.sld"), UploadScript("x.bin")));
        EXPECT_EQ(RunnerProcess::Run(device.Folder(), {"test.sld"}, output, RunDeadline),
                  row.Status)
            << output;
        EXPECT_NE(output.find(row.Report), std::string::npos) << output;
        EXPECT_EQ(output.find("Bad trigger handle"), std::string::npos) << output;
        EXPECT_EQ(output.find("terminate"), std::string::npos) << output;
    }
}

TEST_F(RunnerFaultTest, ScriptThatCannotBeReadExitsWithFive) {
    StartDevice();
    std::string output;
    EXPECT_EQ(RunnerProcess::Run(Folder(), {"missing.sld"}, output, RunDeadline), 5) << output;
    EXPECT_NE(output.find("[Error] Script file \"missing.sld\" not found !"), std::string::npos)
        << output;
    // The default script, when none is given, and a folder in place of a script.
    EXPECT_EQ(RunnerProcess::Run(Folder(), {}, output, RunDeadline), 5) << output;
    EXPECT_NE(output.find("\"loader.sld\" not found"), std::string::npos) << output;
    std::filesystem::create_directory(File("dir.sld"));
    EXPECT_EQ(RunnerProcess::Run(Folder(), {"dir.sld"}, output, RunDeadline), 5) << output;
}

TEST_F(RunnerFaultTest, CommandAnsweredWithTheErrorStringIsAScriptErrorUnlessIgnored) {
    StartDevice();
    const Bytes data = AllByteValues(500);
    ASSERT_TRUE(WriteFile(File("after.bin"), data));
    const std::string script = "_TC \"UL^M\"\n"
                               "_TC \"BAD^M\"\n"
                               "_LA 00060000\n"
                               "_LV 1\n"
                               "_LF after.bin\n"
                               "_LD\n";

    EXPECT_EQ(RunScript(script), 2) << Output();
    EXPECT_NE(Output().find("[Error] Script error encountered! - System not responding or "
                            "command error.\n    File Name: test.sld\n    Line Number: 2\n"
                            "    The device answered \"ERR^M^J>\" to \"BAD^M\".\n"
                            "    -> Abort\n"),
              std::string::npos)
        << Output();
    EXPECT_TRUE(Device().Server()->Uploads().empty()) << "the run went on after Abort";

    // Going past the error is no clean run.
    EXPECT_EQ(RunScript(script, {"--ignore"}), 6) << Output();
    EXPECT_NE(Output().find("-> Ignore"), std::string::npos) << Output();
    EXPECT_EQ(ReadFile(File("store/00060000.bin")), data);
}

TEST(RunnerCommandLineTest, BadCommandLineExitsWithOneAndHelpDocumentsEveryStatus) {
    TempFolder folder;
    std::string output;
    EXPECT_EQ(RunnerProcess::Run(folder.Path(), {"--bogus"}, output), 1) << output;
    EXPECT_NE(output.find("unknown option --bogus"), std::string::npos) << output;
    EXPECT_EQ(RunnerProcess::Run(folder.Path(), {"a.sld", "b.sld"}, output), 1) << output;
    for (const char* rate : {"49", "4000001", "fast", "0x1000"}) {
        EXPECT_EQ(RunnerProcess::Run(folder.Path(), {"--baud", rate}, output), 1) << output;
        EXPECT_NE(output.find(std::string("--baud expects a rate from 50 to 4000000 baud, not \"") +
                              rate),
                  std::string::npos)
            << output;
    }
    EXPECT_EQ(RunnerProcess::Run(folder.Path(), {"--help"}, output), 0) << output;
    for (const char* status : {"\n  0 ", "\n  1 ", "\n  2 ", "\n  3 ", "\n  4 ", "\n  5 ", "\n  6 ",
                               "\n  7 ", "\n  8 "}) {
        EXPECT_NE(output.find(status), std::string::npos) << status << " in " << output;
    }
    // Where loader.log goes and what it is, and where the outcomes are kept instead.
    EXPECT_NE(output.find("creates loader.log anew"), std::string::npos) << output;
    EXPECT_NE(output.find("the report (--report, --junit) keeps it"), std::string::npos) << output;
    // A bad command line touches nothing in the folder.
    EXPECT_TRUE(std::filesystem::is_empty(folder.Path()));
}

} // namespace
} // namespace pellwick::e2e

namespace pellwick::e2e {
namespace {

// The station script starts the runner before the board is plugged in: --wait-port waits for
// the device's path; a device that never comes, or a Ctrl-C during the wait, ends the run with
// its own status and a written report.
TEST(RunnerWaitPortTest, WaitsForTheDeviceOrEndsWithPortMissing) {
    using namespace std::chrono_literals;
    enum class Then { Nothing, PlugIn, Interrupt };
    struct Row {
        Then then;
        const char* seconds;
        int status;
        std::string error; // the error the run ends with; where the link goes is appended
    };
    const Row rows[] = {
        {Then::Nothing, "1", 9, "[Error] The port's device "},
        {Then::PlugIn, "20", 0, ""},
        {Then::Interrupt, "20", 9, "[Error] The wait for the port's device "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.then));
        DevsimHarness device;
        const std::string link = device.File("by-id/usb-board");
        ASSERT_FALSE(device.WriteLoaderIni(1, {{"Ports", "COM1", link}}).empty());
        ASSERT_TRUE(WriteText(device.File("test.sld"), "_TC \"UL^M\"\n"));
        RunnerProcess runner;
        ASSERT_TRUE(runner.Start(device.Folder(),
                                 {"--wait-port", row.seconds, "--report", "run.json", "test.sld"}))
            << runner.Error();
        // The link's folder does not exist yet either, as before udev's first by-id link.
        ASSERT_TRUE(runner.WaitForOutput(
            std::string("waiting up to ") + row.seconds + " s for " + link, 10s))
            << runner.Output();
        if (row.then == Then::PlugIn) {
            std::filesystem::create_directory(device.File("by-id"));
            ASSERT_TRUE(device.StartProcess({"--link", link})) << device.Error();
        } else if (row.then == Then::Interrupt) {
            ASSERT_TRUE(runner.Signal(SIGINT));
        }
        EXPECT_EQ(runner.Wait(30s), row.status) << runner.Output();
        if (!row.error.empty()) {
            EXPECT_NE(runner.Output().find(row.error + link), std::string::npos) << runner.Output();
            EXPECT_NE(ReadText(device.File("run.json")).find("port missing"), std::string::npos);
        }
    }
}

} // namespace
} // namespace pellwick::e2e
