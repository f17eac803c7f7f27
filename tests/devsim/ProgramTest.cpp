// The pellwick-devsim program itself: its command line, its path announcement, its signals, its
// transcript and its emulated line rate.
#include "devsim/DevsimOptions.h"
#include "support/DevsimHarness.h"
#include "support/LinePeer.h"
#include "support/WaitUntil.h"

#include <array>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pellwick {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Output {
    int status = -1;
    std::string text;
};

Output RunProgram(const std::string& args) {
    Output out;
    const std::string command = DevsimHarness::ExecutablePath() + " " + args + " 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    std::array<char, 4096> buffer{};
    while (const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) {
        out.text.append(buffer.data(), n);
    }
    const int status = pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(ProgramTest, HelpDocumentsEveryOptionAndWrongOptionsAreRefused) {
    const Output help = RunProgram("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--prompt",
                               "--error",
                               "--upload-prompt",
                               "--upload-error",
                               "--result",
                               "--command",
                               "--upload-command",
                               "--normal-command",
                               "--echo",
                               "--store",
                               "--data-timeout",
                               "--baud",
                               "--burst",
                               "--silent",
                               "--err-after",
                               "--corrupt-at",
                               "--drop-at",
                               "--garbage",
                               "--flood",
                               "--hangup-after",
                               "--delay",
                               "--transcript",
                               "--device",
                               "--path-file",
                               "--link",
                               "--unplug-after-ms",
                               "--unplug-after-bytes",
                               "--replug-after-ms",
                               "--cycles",
                               "--err-repeat",
                               "--err-repeat-ms",
                               "--verify-delay",
                               "--ignore-verify",
                               "--unsolicited-error-ms",
                               "--unsolicited-error-line",
                               "--refuse-command"}) {
        EXPECT_NE(help.text.find(option), std::string::npos) << option;
    }
    for (const char* args :
         {"--bogus", "--baud fast", "--prompt", "--prompt '\\x4'", "--upload-command GO",
          // A repeat of an error that never comes, a refusal of nothing or
          // of no time at all.
          "--err-repeat 3", "--refuse-command :2", "--refuse-command VER:0",
          "--unsolicited-error-line 0",
          // An unplug needs a link to take away, and a pseudo-terminal to
          // close.
          "--unplug-after-ms 5", "--unplug-after-bytes 5 --link /tmp/x --device /dev/null"}) {
        const Output refused = RunProgram(args);
        EXPECT_EQ(refused.status, UsageExitStatus) << args;
        EXPECT_NE(refused.text.find(" (see --help)\n"), std::string::npos) << refused.text;
    }
}

TEST(ProgramTest, StoreFolderIsMadeAtStartOrTheStartFails) {
    DevsimHarness device;
    const std::string store = device.File("a/b/store");
    ASSERT_TRUE(device.StartProcess({"--store", store})) << device.Error();
    EXPECT_TRUE(fs::is_directory(store));
    EXPECT_EQ(device.Stop(), 0);
    // Under a plain file no folder can be made.
    std::ofstream(device.File("plain")) << "x";
    const Output refused = RunProgram("--store " + device.File("plain") + "/store");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.text.find("cannot make the folder"), std::string::npos) << refused.text;
}

TEST(ProgramTest, FaultOptionsReachTheDeviceConfig) {
    DevsimOptions options;
    ASSERT_EQ(options.Parse({"--err-after",
                             "5",
                             "--err-repeat",
                             "4",
                             "--err-repeat-ms=30",
                             "--verify-delay",
                             "7000",
                             "--ignore-verify",
                             "2",
                             "--unsolicited-error-ms",
                             "40",
                             "--unsolicited-error-line",
                             "3",
                             "--refuse-command",
                             "ver:3",
                             "--refuse-command",
                             "UL",
                             "--refuse-command",
                             "A:B:2",
                             "--refuse-command",
                             "VER:1"}),
              "");
    const DeviceConfig& device = options.device;
    EXPECT_EQ(device.errRepeat, 4);
    EXPECT_EQ(device.errRepeatMs, 30);
    EXPECT_EQ(device.verifyDelayMs, 7000);
    EXPECT_EQ(device.ignoreVerify, 2);
    EXPECT_EQ(device.unsolicitedErrorMs, 40);
    EXPECT_EQ(device.unsolicitedErrorLine, 3);
    // The count follows the last colon; a name given again, in any case, replaces its count.
    std::string refusals;
    for (const RefusedCommand& refusal : device.refusedCommands) {
        refusals += refusal.name + ":" + std::to_string(refusal.count) + " ";
    }
    EXPECT_EQ(refusals, "UL:1 A:B:2 VER:1 ");
}

// Timed cycles: each unplug takes the link away before the line hangs up; each plug-in is a
// new pseudo-terminal behind the same link; after the last cycle the device stays. The
// transcript goes on across the plug-ins.
TEST(ProgramTest, TimedCyclesUnplugAndReplugBehindTheLink) {
    DevsimHarness harness;
    const std::string link = harness.File("ttyPLUG");
    const std::string transcript = harness.File("transcript.txt");
    ASSERT_TRUE(
        harness.StartProcess({"--link", link, "--unplug-after-ms", "300", "--replug-after-ms",
                              "200", "--cycles", "2", "--transcript", transcript}))
        << harness.Error();
    const auto linked = [&] { return fs::exists(fs::symlink_status(link)); };
    const auto waitFor = [&](bool present) {
        return test::WaitUntil([&] { return linked() == present; }, 10000);
    };
    std::vector<std::string> lines;
    for (int cycle = 0; cycle < 2; ++cycle) {
        ASSERT_TRUE(waitFor(true));
        const std::string line = fs::read_symlink(link).string();
        lines.push_back(line);
        LinePeer peer;
        ASSERT_TRUE(peer.Open(link));
        ASSERT_TRUE(peer.Write("VER\r"));
        EXPECT_EQ(peer.ReadUntil("#"), "VER=2.10\r\n#");
        EXPECT_TRUE(peer.WaitHangup());
        EXPECT_FALSE(linked()) << "the link must go before the line hangs up";
    }
    ASSERT_TRUE(waitFor(true));
    lines.push_back(fs::read_symlink(link).string());
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_TRUE(linked()) << "no unplug after the last cycle";
    for (const std::string& line : lines) {
        EXPECT_EQ(line.rfind("/dev/pts/", 0), 0u) << line;
    }
    EXPECT_EQ(harness.Stop(), 0);
    EXPECT_FALSE(linked());

    std::istringstream entries(ReadFile(transcript));
    int plugIns = 0;
    int commands = 0;
    double last = 0;
    for (std::string entry; std::getline(entries, entry);) {
        plugIns += entry.ends_with(" * device ready");
        commands += entry.ends_with(" < VER\\r");
        const double stamp = std::stod(entry);
        EXPECT_GE(stamp, last) << entry;
        last = stamp;
    }
    EXPECT_EQ(plugIns, 3);
    EXPECT_EQ(commands, 2);
}

TEST(ProgramTest, AnnouncesItsLineAndEndsCleanlyOnSigterm) {
    DevsimHarness harness;
    const std::string pathFile = harness.File("line.path");
    const std::string link = harness.File("ttyDEV");
    ASSERT_TRUE(
        harness.StartProcess({"--path-file", pathFile, "--link", link, "--prompt", "\\r\\nOK#"}))
        << harness.Error();
    EXPECT_EQ(harness.SlavePath().rfind("/dev/pts/", 0), 0u) << harness.SlavePath();
    EXPECT_EQ(ReadFile(pathFile), harness.SlavePath() + "\n");
    EXPECT_EQ(fs::read_symlink(link), harness.SlavePath());

    LinePeer peer;
    ASSERT_TRUE(peer.Open(link));
    ASSERT_TRUE(peer.Write("\r"));
    EXPECT_EQ(peer.ReadUntil("OK#"), "\r\nOK#");

    EXPECT_EQ(harness.Stop(), 0);
    EXPECT_FALSE(fs::exists(pathFile));
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST(ProgramTest, SigintEndsItCleanlyToo) {
    DevsimHarness harness;
    ASSERT_TRUE(harness.StartProcess()) << harness.Error();
    ASSERT_EQ(kill(harness.Pid(), SIGINT), 0);
    EXPECT_EQ(harness.WaitExit(), 0);
}

TEST(ProgramTest, HangupFaultClosesTheLineAndEndsTheProgram) {
    DevsimHarness harness;
    ASSERT_TRUE(harness.StartProcess({"--hangup-after", "3"})) << harness.Error();
    LinePeer peer;
    ASSERT_TRUE(peer.Open(harness.SlavePath()));
    ASSERT_TRUE(peer.Write("VER\r"));
    EXPECT_TRUE(peer.WaitHangup());
    EXPECT_EQ(harness.WaitExit(), 0);
}

TEST(ProgramTest, TranscriptRecordsBothDirectionsAndEventsWithTimes) {
    DevsimHarness harness;
    const std::string transcript = harness.File("transcript.txt");
    ASSERT_TRUE(harness.StartProcess({"--transcript", transcript})) << harness.Error();
    LinePeer peer;
    ASSERT_TRUE(peer.Open(harness.SlavePath()));
    ASSERT_TRUE(peer.Write("VER\rUL\r"));
    ASSERT_EQ(peer.ReadUntil(">"), "VER=2.10\r\n#>");
    ASSERT_EQ(harness.Stop(), 0);

    const std::string text = ReadFile(transcript);
    const std::regex line(R"(^ *\d+\.\d{6} [<>*] .*$)");
    std::istringstream lines(text);
    int count = 0;
    for (std::string entry; std::getline(lines, entry); ++count) {
        EXPECT_TRUE(std::regex_match(entry, line)) << entry;
    }
    EXPECT_GE(count, 5);
    EXPECT_NE(text.find(" > VER=2.10\\r\\n#\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" * upload mode\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" * stopped\n"), std::string::npos) << text;
}

TEST(ProgramTest, EmulatedBaudRateLimitsAWriterToTheLineRate) {
    // 460800 baud is 46080 bytes a second at 10 bits a byte.
    constexpr double rate = 46080.0;
    // More than a pseudo-terminal buffers (some tens of kilobytes), so the writer must wait.
    constexpr double lineBuffer = 65536.0;
    DevsimHarness harness;
    ASSERT_TRUE(harness.StartProcess({"--baud", "460800"})) << harness.Error();
    LinePeer peer;
    ASSERT_TRUE(peer.Open(harness.SlavePath()));
    ASSERT_TRUE(peer.Write("UL\r"));
    ASSERT_EQ(peer.ReadUntil(">"), ">");

    const std::string data(3 * 46080, 'x');
    const std::string header = "LF 1 " + std::to_string(data.size()) + " " + [&] {
        char sum[8];
        std::snprintf(sum, sizeof sum, "%04X", static_cast<unsigned>(data.size() * 'x') & 0xFFFF);
        return std::string(sum);
    }() + " 1\r";
    const std::string all = header + data + "\r";
    const auto start = Clock::now();
    ASSERT_TRUE(peer.Write(all, std::chrono::seconds(30)));
    const double written = std::chrono::duration<double>(Clock::now() - start).count();
    ASSERT_EQ(peer.ReadUntil(">", std::chrono::seconds(30)), ">");
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    // At most one burst beyond the rate; the upper bound only guards against a stalled line.
    const double ideal = (static_cast<double>(all.size()) - 64) / rate;
    EXPECT_GE(elapsed, ideal * 0.98) << "elapsed " << elapsed << " s";
    EXPECT_LE(elapsed, ideal * 3 + 3) << "elapsed " << elapsed << " s";
    // The writer itself was held back once the line's buffer was full.
    EXPECT_GE(written, (static_cast<double>(all.size()) - lineBuffer) / rate * 0.9)
        << "writes took " << written << " s";
    EXPECT_EQ(harness.Stop(), 0);
}

} // namespace
} // namespace pellwick
