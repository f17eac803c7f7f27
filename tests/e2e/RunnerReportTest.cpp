// The reports of pellwick-run (--report, --junit) after a clean run, a refused file, a cancel
// and a port that cannot be opened; a report that cannot be written or may not replace what its
// name holds; a closed output; the port on the command line and the port list.
#include "e2e/RunReportCheck.h"
#include "e2e/RunnerFixture.h"

#include "ini/PrivateProfile.h"
#include "support/LineRate.h"
#include "support/WaitUntil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellwick::e2e {
namespace {

using RunnerReportTest = RunnerFixture;
using namespace std::chrono_literals;

constexpr const char* Script = "_SC \"UL^M\"\n"
                               "_LA 00050000\n_LV 1.0\n_LF first.bin\n_LD\n"
                               "_LA 00060000\n_LV 2.0\n_LF second.bin\n_LD\n";

TEST_F(RunnerReportTest, ReportsTellEachFilesOutcomeAndHowTheRunEnded) {
    struct Row {
        const char* name;
        DeviceConfig device;
        std::size_t firstSize;
        bool portOnCommandLine; // loader.ini names no device; --port gives the simulator
        bool interrupt;         // SIGINT once the device has 8 KiB
        int status;
        const char* exitName;
        const char* message; // start of the run's message
        std::vector<std::string> outcomes;
        int junitTests, junitFailures, junitSkipped;
    };
    DeviceConfig refusing;
    refusing.errAfter = 4096;
    DeviceConfig refusingAtCr;
    refusingAtCr.refuseVerify = true;
    DeviceConfig slow;
    slow.baud = 38400;
    DeviceConfig silentAtCr;
    silentAtCr.ignoreVerify = 2;
    DeviceConfig hangingUp;
    hangingUp.hangupAfter = 8192;
    // clang-format off
    const std::vector<Row> rows = {
        {"clean", {}, 20000, true, false, 0, "clean", "",
         {"verified", "verified"}, 2, 0, 0},
        {"refused", refusing, 64 * 1024, false, false, 3, "refused", "Upload error",
         {"refused", "not sent"}, 2, 1, 1},
        {"refused at verification", refusingAtCr, 1000, false, false, 3, "refused",
         "Upload error", {"refused", "not sent"}, 2, 1, 1},
        {"not verified", silentAtCr, 1000, false, false, 3, "not verified", "Upload error",
         {"not verified", "not sent"}, 2, 1, 1},
        {"hung up", hangingUp, 64 * 1024, false, false, 3, "hung up", "Upload error",
         {"hung up", "not sent"}, 2, 1, 1},
        {"cancelled", slow, 256 * 1024, false, true, 3, "cancelled", "Upload error",
         {"cancelled", "not sent"}, 3, 1, 2},
        {"port error", {}, 1000, false, false, 4, "port error", "Error Opening Selected Comm Port",
         {"not sent", "not sent"}, 3, 1, 2},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DevsimHarness device;
        std::filesystem::create_directory(device.File("store"));
        DeviceConfig config = row.device;
        config.storeDir = device.File("store");
        ASSERT_TRUE(device.StartInProcess(config)) << device.Error();
        const bool pointedAtDevice = row.portOnCommandLine || row.status != 4;
        const std::string missing = device.File("no-such-tty");
        device.WriteLoaderIni(
            1, {{"Upload Settings", "Delay", "50"},
                {"Ports", "COM1",
                 pointedAtDevice && !row.portOnCommandLine ? device.SlavePath() : missing}});
        const Bytes first = AllByteValues(row.firstSize);
        ASSERT_TRUE(WriteFile(device.File("first.bin"), first));
        ASSERT_TRUE(WriteFile(device.File("second.bin"), AllByteValues(1000)));
        ASSERT_TRUE(WriteText(device.File("test.sld"), Script));
        std::vector<std::string> args = {"--report", "out/run.json", "--junit=out/run.xml"};
        if (row.portOnCommandLine) {
            args.insert(args.end(), {"--port", device.SlavePath()});
        }
        args.push_back("test.sld");
        std::filesystem::create_directory(device.File("out"));

        RunnerProcess runner;
        ASSERT_TRUE(runner.Start(device.Folder(), args)) << runner.Error();
        if (row.interrupt) {
            (void)test::WaitUntil([&] { return device.Server()->BytesReceived() >= 8 * 1024; },
                                  30s);
            ASSERT_TRUE(runner.Signal(SIGINT));
        }
        ASSERT_EQ(runner.Wait(RunDeadline), row.status) << runner.Output();

        const QJsonObject report = ReadCheckedReport(device.File("out/run.json"));
        EXPECT_EQ(row.status, report["exit"]["status"].toInt());
        EXPECT_EQ(row.exitName, report["exit"]["name"].toString().toStdString());
        const std::string message = report["exit"]["message"].toString().toStdString();
        EXPECT_EQ(0u, message.rfind(row.message, 0)) << message;
        EXPECT_EQ(std::string(row.message).empty(), message.empty()) << message;
        EXPECT_EQ("test.sld", report["script"].toString().toStdString());
        EXPECT_EQ("COM1", report["port"]["name"].toString().toStdString());
        EXPECT_EQ(pointedAtDevice ? device.SlavePath() : missing,
                  report["port"]["device"].toString().toStdString());
        EXPECT_EQ(row.outcomes, Outcomes(report));

        const QJsonArray files = report["files"].toArray();
        ASSERT_EQ(2, files.size());
        EXPECT_EQ("00050000", files[0]["address"].toString().toStdString());
        EXPECT_EQ(static_cast<int>(row.firstSize), files[0]["size"].toInt());
        EXPECT_EQ("0000" + Checksum16(first), files[0]["checksum"].toString().toStdString());
        EXPECT_EQ("2.0", files[1]["version"].toString().toStdString());
        for (const QJsonValue file : files) {
            const bool sent = file["outcome"].toString() != "not sent";
            EXPECT_EQ(sent, file["transfer_seconds"].toDouble() > 0);
            EXPECT_EQ(sent, file["bytes_per_second"].toDouble() > 0);
            // Every file that failed tells why, in a sentence and in the box that ended it.
            const bool failed = sent && file["outcome"].toString() != "verified";
            EXPECT_EQ(failed, !file["message"].toString().isEmpty());
            EXPECT_EQ(failed, !file["cause"].toString().isEmpty());
        }

        const JUnitSummary junit = ReadJUnit(device.File("out/run.xml"));
        EXPECT_EQ(row.junitTests, junit.tests);
        EXPECT_EQ(row.junitFailures, junit.failures);
        EXPECT_EQ(row.junitSkipped, junit.skipped);
        // Written atomically: nothing but the two reports is left behind.
        EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator(device.File("out")),
                                   std::filesystem::directory_iterator()));
        device.Stop();
    }
}

TEST_F(RunnerReportTest, AReportThatCannotBeWrittenHasAnExitStatusOfItsOwn) {
    StartDevice();
    ASSERT_TRUE(WriteFile(File("first.bin"), AllByteValues(100)));
    ASSERT_TRUE(WriteFile(File("second.bin"), AllByteValues(100)));
    EXPECT_EQ(RunScript(Script, {"--report", "no/such/folder/run.json"}), 8) << Output();
    EXPECT_NE(Output().find("pellwick-run: Unable to write the report " +
                            File("no/such/folder/run.json")),
              std::string::npos)
        << Output();
    // The upload itself went through.
    EXPECT_EQ(ReadFile(File("store/00060000.bin")), AllByteValues(100));
}

// A report name that holds anything but a regular file is refused before the port is opened and
// left as it was; an old report under the other name is cleared all the same.
TEST_F(RunnerReportTest, AReportNameThatIsNoRegularFileIsRefusedBeforeTheRun) {
    StartDevice();
    ASSERT_TRUE(WriteFile(File("first.bin"), AllByteValues(100)));
    ASSERT_TRUE(WriteFile(File("second.bin"), AllByteValues(100)));
    ASSERT_EQ(::mkfifo(File("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("first.bin", File("link.xml").c_str()), 0);
    for (const std::string refused : {"fifo", "link.xml"}) {
        SCOPED_TRACE(refused);
        ASSERT_TRUE(WriteText(File("old.json"), "{}"));
        EXPECT_EQ(RunScript(Script, {"--report", "old.json", "--junit", refused}), 8) << Output();
        EXPECT_NE(Output().find("pellwick-run: " + File(refused) + " is a "), std::string::npos)
            << Output();
        EXPECT_FALSE(std::filesystem::exists(File("old.json")));
    }
    EXPECT_TRUE(std::filesystem::is_fifo(File("fifo")));
    EXPECT_TRUE(std::filesystem::is_symlink(File("link.xml")));
    EXPECT_EQ(ReadFile(File("first.bin")), AllByteValues(100));
    EXPECT_EQ(Device().Server()->BytesReceived(), 0u);
}

// Standard error into a reader that stops early (`2>&1 | head -c 20`): the printing stops, the
// run and its report go on, and the exit status is the run's.
TEST_F(RunnerReportTest, AClosedOutputStopsThePrintingNotTheRun) {
    StartDevice();
    ASSERT_TRUE(WriteFile(File("first.bin"), AllByteValues(20000)));
    ASSERT_TRUE(WriteFile(File("second.bin"), AllByteValues(1000)));
    ASSERT_TRUE(WriteText(File("test.sld"), Script));
    RunnerProcess runner;
    ASSERT_TRUE(runner.Start(Folder(), {"--report", "run.json", "test.sld"})) << runner.Error();
    ASSERT_TRUE(runner.WaitForOutput("progress", 30s)) << runner.Output();
    runner.CloseOutput();
    EXPECT_EQ(runner.Wait(RunDeadline), 0);
    EXPECT_EQ((std::vector<std::string>{"verified", "verified"}),
              Outcomes(ReadCheckedReport(File("run.json"))));
    EXPECT_EQ(ReadFile(File("store/00060000.bin")), AllByteValues(1000));
}

TEST_F(RunnerReportTest, BaudOptionOpensThePortAtItsRateForThisRunOnly) {
    DeviceConfig paced;
    paced.baud = 115200; // a few seconds of transfer, to look at the line meanwhile
    // A [Line] rate out of range is not this run's business: no warning that names another rate.
    StartDevice(paced, {{"RS232Settings", "Baud Rate", "9600"}, {"Line", "Baud Rate", "10"}});
    // Held before the runner takes the line, to read its rate from outside.
    const int line = ::open(Device().SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(line, 0);
    ASSERT_TRUE(WriteFile(File("big.bin"), AllByteValues(32 * 1024)));
    ASSERT_TRUE(WriteText(File("test.sld"), "_SC \"UL^M\"\n_LA big\n_LV 1\n_LF big.bin\n_LD\n"));
    RunnerProcess runner;
    ASSERT_TRUE(runner.Start(Folder(), {"--baud", "250000", "--report", "run.json", "test.sld"}));
    EXPECT_TRUE(test::WaitUntil([&] { return test::KernelLineRate(line) == 250000; }));
    EXPECT_EQ(runner.Wait(RunDeadline), 0) << runner.Output();
    ::close(line);
    EXPECT_EQ(runner.Output().find("[Line]"), std::string::npos) << runner.Output();
    EXPECT_EQ(ReadCheckedReport(File("run.json"))["line"].toObject()["baud"].toInt(), 250000);
    EXPECT_EQ(ReadFile(File("store/big.bin")), AllByteValues(32 * 1024));
    const PrivateProfile ini(File("loader.ini"));
    EXPECT_EQ(ini.ReadString("RS232Settings", "Baud Rate", ""), "9600");
    EXPECT_EQ(ini.ReadString("Line", "Baud Rate", ""), "10");
}

TEST_F(RunnerReportTest, PortListShowsEveryNumberWithItsDevice) {
    // A port on the network is listed with its address, without a connection.
    StartDevice({}, {{"Ports", "COM7", "/dev/null"}, {"Ports", "COM9", "rfc2217://[::1]:9"}});
    std::string output;
    EXPECT_EQ(RunnerProcess::Run(Folder(), {"--list-ports"}, output), 0) << output;
    EXPECT_EQ("PORT\tDEVICE\tBY-ID\tVENDOR\tPRODUCT\tSERIAL\nCOM1\t" + Device().SlavePath() +
                  "\t\t\t\t\nCOM7\t/dev/null\t\t\t\t\nCOM9\trfc2217://[::1]:9\t\t\t\t\n",
              output);
    // The same as JSON, a "\"" in a device path escaped.
    const std::string quoted = Folder() + "/a\"b";
    ASSERT_TRUE(Device().WriteLoaderIni(1, {{"Ports", "COM7", quoted}}).size() > 0);
    EXPECT_EQ(RunnerProcess::Run(Folder(), {"--list-ports", "--json"}, output), 0) << output;
    QJsonParseError error;
    const QJsonArray ports = QJsonDocument::fromJson(output.c_str(), &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << output;
    ASSERT_EQ(ports.size(), 2) << output;
    EXPECT_EQ(ports[0]["port"].toString(), "COM1");
    EXPECT_EQ(ports[1]["number"].toInt(), 7);
    EXPECT_EQ(ports[1]["device"].toString().toStdString(), quoted);
    for (const char* key :
         {"by_id", "vendor_id", "manufacturer", "product_id", "product", "serial"})
        EXPECT_TRUE(ports[1][key].isString()) << key;
    EXPECT_EQ(RunnerProcess::Run(Folder(), {"--json"}, output), 1) << output;
    EXPECT_EQ(RunnerProcess::Run(Folder(), {"--report"}, output), 1) << output;
    EXPECT_NE(output.find("--report needs a value"), std::string::npos) << output;
}

} // namespace
} // namespace pellwick::e2e
