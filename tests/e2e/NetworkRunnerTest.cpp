// pellwick-run on a port on the network: Debian's ser2net on 127.0.0.1 serves the simulator's
// pseudo-terminal, the runner reaches it with --port rfc2217://... or tcp://....
#include "e2e/RunnerFixture.h"
#include "outcome/RunnerExit.h"
#include "support/LoopbackListener.h"
#include "support/Ser2netServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace pellwick::e2e {
namespace {

using namespace std::chrono_literals;

const char* const kThreeFiles = "_SC \"UL^M\"\n_DY 5\n"
                                "_LA 1000\n_LV 1\n_LF one.bin\n_LD\n"
                                "_LA 2000\n_LV 2\n_LF two.bin\n_LD\n"
                                "_LA 3000\n_LV 3\n_LF three.bin\n_LD\n";

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

class NetworkRunnerTest : public RunnerFixture {
protected:
    void SetUp() override {
        if (!Ser2netServer::Available()) {
            GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh installs it)";
        }
    }

    // Three files in the folder; after a run, each must be stored as it was.
    void WriteThreeFiles() {
        files_ = {{"one.bin", AllByteValues(3000)},
                  {"two.bin", AllByteValues(700)},
                  {"three.bin", AllByteValues(9000)}};
        for (const auto& [name, data] : files_) {
            ASSERT_TRUE(WriteFile(File(name), data));
        }
    }
    void ExpectThreeFilesStored() {
        const char* const stored[] = {"store/1000.bin", "store/2000.bin", "store/3000.bin"};
        for (std::size_t i = 0; i < files_.size(); ++i) {
            EXPECT_EQ(ReadFile(File(stored[i])), files_[i].second) << files_[i].first;
        }
    }

    std::vector<std::pair<std::string, Bytes>> files_;
};

// The baud rate set in loader.ini reaches the pseudo-terminal through the server (tcgetattr on
// the simulator's side), while ser2net's own configuration says 9600; the DTR and RTS that a
// pseudo-terminal cannot take are noted once, and the run does not wait for them.
TEST_F(NetworkRunnerTest, Rfc2217PortVerifiesThreeFilesAndSetsTheLineAtTheFarEnd) {
    StartDevice({}, {{"RS232Settings", "Baud Rate", "57600"}});
    WriteThreeFiles();
    Ser2netServer server;
    ASSERT_TRUE(server.Start({Device().SlavePath()}, Ser2netServer::Protocol::Rfc2217))
        << server.Error();
    // The script lingers at the end, so that the line is looked at while the server has it.
    ASSERT_TRUE(WriteText(File("test.sld"), std::string(kThreeFiles) + "_DY 150\n"));
    RunnerProcess runner;
    ASSERT_TRUE(runner.Start(Folder(), {"--port", server.Address(), "test.sld"}));
    const int slave = open(Device().SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(slave, 0);
    speed_t seen = 0;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (seen != B57600 && std::chrono::steady_clock::now() < deadline) {
        termios t{};
        if (tcgetattr(slave, &t) == 0) {
            seen = cfgetospeed(&t);
        }
        std::this_thread::sleep_for(20ms);
    }
    close(slave);
    EXPECT_EQ(seen, static_cast<speed_t>(B57600));
    EXPECT_EQ(runner.Wait(RunDeadline), ExitClean) << runner.Output();
    ExpectThreeFilesStored();
    // Which settings the note names depends on how the library pairs the server's answers
    // with its questions: the DTR and RTS that the server leaves unanswered take the answers
    // of other settings now and then.
    EXPECT_EQ(Count(runner.Output(), "did not confirm"), 1u) << runner.Output();
}

// A raw TCP port carries the bytes, and says once on the runner's output and in loader.log that
// the settings stay behind.
TEST_F(NetworkRunnerTest, RawTcpPortVerifiesThreeFilesAndSaysOnceThatSettingsStayHere) {
    // Output goes to the network no faster than the rate set here.
    StartDevice({}, {{"RS232Settings", "Baud Rate", "115200"}});
    WriteThreeFiles();
    Ser2netServer server;
    ASSERT_TRUE(server.Start({Device().SlavePath()}, Ser2netServer::Protocol::RawTcp, "115200n81"))
        << server.Error();
    EXPECT_EQ(RunScript(kThreeFiles, {"--port", server.Address()}), ExitClean) << Output();
    ExpectThreeFilesStored();
    EXPECT_EQ(Count(Output(), "carries the bytes only"), 1u) << Output();
    const std::string log = ReadText(File("loader.log"));
    EXPECT_EQ(Count(log, "Note: " + server.Address() + " carries the bytes only"), 1u) << log;
}

// A server that goes away is a hang-up: the run ends at once with its upload-error report.
TEST_F(NetworkRunnerTest, KillingTheServerMidTransferEndsTheRunAtOnceAsHangUp) {
    DeviceConfig config;
    config.baud = 115200;
    StartDevice(config);
    const Bytes data = AllByteValues(200 * 1024);
    ASSERT_TRUE(WriteFile(File("big.bin"), data));
    ASSERT_TRUE(WriteText(File("test.sld"), "_SC \"UL^M\"\n_LA 1000\n_LV 1\n_LF big.bin\n_LD\n"));
    Ser2netServer server;
    ASSERT_TRUE(server.Start({Device().SlavePath()}, Ser2netServer::Protocol::Rfc2217, "115200n81"))
        << server.Error();
    RunnerProcess runner;
    ASSERT_TRUE(
        runner.Start(Folder(), {"--port", server.Address(), "--report", "run.json", "test.sld"}));
    ASSERT_TRUE(WaitForDeviceBytes(10000, 30s));
    server.Kill();
    const auto killed = std::chrono::steady_clock::now();
    EXPECT_EQ(runner.Wait(RunDeadline), ExitUploadError) << runner.Output();
    EXPECT_LT(std::chrono::steady_clock::now() - killed, 2s);
    EXPECT_NE(runner.Output().find("The device hung up after"), std::string::npos)
        << runner.Output();
    EXPECT_NE(ReadText(File("run.json")).find("\"hung up\""), std::string::npos);
}

// Bad input ends in a clear message and nothing else: the port stays closed, the exit status
// says why.
TEST_F(NetworkRunnerTest, BadAddressesAndServersAreReportedWithTheirCause) {
    StartDevice({}, {{"Ports", "Connect Timeout", "1"}});
    ASSERT_TRUE(WriteText(File("test.sld"), "_SC \"UL^M\"\n"));
    Ser2netServer plainTelnet;
    ASSERT_TRUE(plainTelnet.Start({Device().SlavePath()}, Ser2netServer::Protocol::Telnet))
        << plainTelnet.Error();
    // A raw TCP port that another client holds: the server takes the connection, says so in
    // text and drops it, which only the hang-up tells.
    DevsimHarness second;
    ASSERT_TRUE(second.StartInProcess()) << second.Error();
    Ser2netServer heldTcp;
    ASSERT_TRUE(heldTcp.Start({second.SlavePath()}, Ser2netServer::Protocol::RawTcp))
        << heldTcp.Error();
    sockaddr_in held{};
    held.sin_family = AF_INET;
    held.sin_port = htons(static_cast<std::uint16_t>(heldTcp.Port()));
    held.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(holder, reinterpret_cast<sockaddr*>(&held), sizeof held), 0);
    // The connection is made before the server has taken it; a client of our own that the
    // server turns away shows that it has (it takes its clients in turn), so that the runner's
    // cannot come first on a slow machine.
    {
        const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_EQ(connect(probe, reinterpret_cast<sockaddr*>(&held), sizeof held), 0);
        timeval patience{5, 0};
        setsockopt(probe, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        char text[256];
        ssize_t n = 0;
        while ((n = read(probe, text, sizeof text)) > 0) {
        }
        close(probe);
        ASSERT_EQ(n, 0) << "the server did not turn away a second client within 5 s";
    }
    // A listener whose queue is full: new connections are neither accepted nor refused.
    int port = 0;
    const int listener = test::ListenOnLoopback(0, port);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    std::this_thread::sleep_for(100ms);
    const std::string silent = "rfc2217://127.0.0.1:" + std::to_string(port);

    struct Case {
        std::string port;
        int status;
        const char* cause;
    };
    const Case cases[] = {
        {"rfc2217://127.0.0.1:" + std::to_string(Ser2netServer::FreePort()), ExitPortError,
         "connection refused"},
        {plainTelnet.Address(), ExitPortError, "does not speak RFC 2217"},
        {silent, ExitPortError, "no answer within 1 s"},
        {"rfc2217://nosuchhost.invalid:3001", ExitPortError, "unknown host nosuchhost.invalid"},
        {"rfc2217://host;reboot:3001", ExitUsage, "is not a host name"},
        // Before the run starts or at its first command, as the drop comes.
        {heldTcp.Address(), ExitUploadError, "hung up"},
        {"tcp://[::1]", ExitUsage, "no :PORT"},
    };
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        std::string output;
        EXPECT_EQ(RunnerProcess::Run(Folder(), {"--port", c.port, "test.sld"}, output), c.status)
            << c.port << "\n"
            << output;
        EXPECT_NE(output.find(c.cause), std::string::npos) << c.port << "\n" << output;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << c.port;
    }
    // The same address in [Ports] is refused at the opening.
    ASSERT_FALSE(
        Device().WriteLoaderIni(1, {{"Ports", "COM1", "rfc2217://host;reboot:3001"}}).empty());
    EXPECT_EQ(RunScript("_SC \"UL^M\"\n"), ExitPortError) << Output();
    EXPECT_NE(Output().find("rfc2217://host;reboot:3001: \"host;reboot\" is not a host name"),
              std::string::npos)
        << Output();
    for (int fd : fillers) {
        close(fd);
    }
    close(holder);
    close(listener);
}

} // namespace
} // namespace pellwick::e2e
