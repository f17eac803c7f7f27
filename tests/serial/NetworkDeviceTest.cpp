// The dispatcher on a port on the network: ser2net on 127.0.0.1 serves a pseudo-terminal whose
// other side the test plays. Qt-free, so that the device's thread runs under ThreadSanitizer.
#include "DispatcherFixture.h"
#include "serial/DevicePathWatch.h"
#include "serial/errors/OpenFailure.h"
#include "support/Ser2netServer.h"
#include "support/WaitUntil.h"

#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellwick::test {
namespace {

class NetworkDeviceTest : public PtyFixture {
protected:
    void SetUp() override {
        if (!Ser2netServer::Available()) {
            GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh installs it)";
        }
    }
    int OpenAt(const std::string& address) {
        dispatcher = std::make_unique<TVaxoWin32Dispatcher>(nullptr);
        dispatcher->SetLostHandler([this] { lost = true; });
        return dispatcher->OpenDevice(address, 115200, 0, 8, 1, 4096, 16384, true, true);
    }
    std::string TakeAll(std::size_t count, int timeoutMs = kWaitMs) {
        std::string got;
        const auto taken = [&] {
            std::uint8_t byte;
            while (dispatcher->TakeByte(byte) == 0) {
                got += static_cast<char>(byte);
            }
            return got.size() >= count;
        };
        WaitUntil(taken, timeoutMs);
        return got;
    }

    Ser2netServer server;
    std::atomic<bool> lost{false};
};

TEST_F(NetworkDeviceTest, BytesCrossBothWaysAndAServerThatGoesIsAHangUp) {
    for (auto protocol : {Ser2netServer::Protocol::Rfc2217, Ser2netServer::Protocol::RawTcp}) {
        lost = false;
        ASSERT_TRUE(server.Start({pty.SlavePath()}, protocol, "115200n81")) << server.Error();
        ASSERT_EQ(OpenAt(server.Address()), 0) << TakeOpenFailure();
        const std::string out = Bytes(3000, 'a');
        ASSERT_EQ(dispatcher->QueueBlock(out.data(), static_cast<std::uint32_t>(out.size())), 0);
        EXPECT_EQ(Str(pty.Read(out.size())), out) << server.Address();
        pty.Write(std::string("\x00\xff\r\n answer", 10));
        EXPECT_EQ(TakeAll(10), std::string("\x00\xff\r\n answer", 10)) << server.Address();
        // The server goes while output flows: writing to a connection that is gone must not
        // end the program (SIGPIPE).
        const std::string more = Bytes(200, 'b');
        dispatcher->QueueBlock(more.data(), static_cast<std::uint32_t>(more.size()));
        server.Kill();
        EXPECT_TRUE(WaitUntil([&] {
            dispatcher->QueueBlock(more.data(), static_cast<std::uint32_t>(more.size()));
            return lost.load();
        })) << server.Address();
        EXPECT_TRUE(dispatcher->DeviceHungUp());
        dispatcher->CloseDevice();
        while (!pty.ReadFor(50).empty()) {
        }
    }
}

// A purge has done its work before what is written after it, and leaves the server alone: a
// late one would discard the next command on its way, or its answer.
TEST_F(NetworkDeviceTest, APurgeGoesBeforeTheNextCommand) {
    ASSERT_TRUE(server.Start({pty.SlavePath()}, Ser2netServer::Protocol::Rfc2217, "115200n81"))
        << server.Error();
    ASSERT_EQ(OpenAt(server.Address()), 0) << TakeOpenFailure();
    for (int round = 0; round < 100; ++round) {
        dispatcher->ClearOutput();
        dispatcher->ClearInput();
        ASSERT_EQ(dispatcher->QueueBlock("?", 1), 0);
        ASSERT_EQ(Str(pty.Read(1)), "?") << round;
        pty.Write("!");
        ASSERT_EQ(TakeAll(1, 2000), "!") << round;
    }
}

// A server whose port another client holds (max-connections: 1) negotiates, says so in text
// and closes: the opening fails with that cause, and the writes to the closed connection on
// the way do not end the program (SIGPIPE).
TEST_F(NetworkDeviceTest, APortAnotherClientHoldsIsAFailedOpening) {
    ASSERT_TRUE(server.Start({pty.SlavePath()}, Ser2netServer::Protocol::Rfc2217, "115200n81"))
        << server.Error();
    const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(server.Port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (int round = 0; round < 3; ++round) {
        EXPECT_LT(OpenAt(server.Address()), 0);
        EXPECT_NE(TakeOpenFailure().find("the server closed the connection at once"),
                  std::string::npos);
    }
    close(holder);
}

TEST_F(NetworkDeviceTest, WatchWaitsForTheServerWithoutOpeningThePort) {
    const int port = Ser2netServer::FreePort();
    const std::string address = "rfc2217://127.0.0.1:" + std::to_string(port);
    EXPECT_LT(OpenAt(address), 0);
    EXPECT_NE(TakeOpenFailure().find("connection refused"), std::string::npos);
    DevicePathWatch watch;
    ASSERT_TRUE(watch.Start(address)) << watch.Error();
    EXPECT_FALSE(watch.Present());
    ASSERT_TRUE(
        server.Start({pty.SlavePath()}, Ser2netServer::Protocol::Rfc2217, "9600n81", {port}))
        << server.Error();
    pollfd p{watch.Fd(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 5000), 1);
    EXPECT_TRUE(watch.Update());
    EXPECT_EQ(OpenAt(address), 0) << TakeOpenFailure();
}

// DTR, RTS and break reach the server, each change once. A pseudo-terminal has no modem lines:
// ser2net's debug trace logs each attempt to set one as a failed line call. A break is
// ser2net's TCSBRK on the line, seen where strace can watch it.
TEST_F(NetworkDeviceTest, DtrRtsAndBreakReachTheServerOnceForEachChange) {
    const bool watchCalls = server.TraceCalls();
    ASSERT_TRUE(server.Start({pty.SlavePath()}, Ser2netServer::Protocol::Rfc2217, "115200n81"))
        << server.Error();
    ASSERT_EQ(OpenAt(server.Address()), 0) << TakeOpenFailure();
    const auto count = [](const std::string& text, const std::string& part) {
        std::size_t n = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++n;
        }
        return n;
    };
    const auto lineCalls = [&] { return count(server.Trace(), "termios_control"); };
    const auto breaks = [&] { return count(server.Calls(), "TCSBRK"); };
    // What opening did (ser2net's own line calls and the port's raising DTR and RTS) is done
    // once the trace stands still.
    ASSERT_TRUE(WaitUntil([&] { return lineCalls() >= 2; }, 5000)) << server.Trace();
    std::size_t wantLine = lineCalls();
    for (std::size_t seen = 0; seen != wantLine;) {
        seen = wantLine;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        wantLine = lineCalls();
    }
    std::size_t wantBreaks = breaks();
    struct Step {
        const char* what;
        std::function<void()> act;
        std::size_t lineCalls, breaks;
    };
    const Step steps[] = {
        {"DTR off", [&] { dispatcher->DriveDtr(0); }, 1, 0},
        {"DTR off again", [&] { dispatcher->DriveDtr(0); }, 0, 0},
        {"RTS off", [&] { dispatcher->DriveRts(0); }, 1, 0},
        {"DTR on", [&] { dispatcher->DriveDtr(1); }, 1, 0},
        {"break", [&] { dispatcher->SendBreak(); }, 0, watchCalls ? 1u : 0u},
    };
    for (const Step& step : steps) {
        step.act();
        wantLine += step.lineCalls;
        wantBreaks += step.breaks;
        EXPECT_TRUE(
            WaitUntil([&] { return lineCalls() >= wantLine && breaks() >= wantBreaks; }, 5000))
            << step.what << "\n"
            << server.Trace() << server.Calls();
    }
    // Nothing more comes: no change went twice.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(lineCalls(), wantLine) << server.Trace();
    EXPECT_EQ(breaks(), wantBreaks) << server.Calls();
}

} // namespace
} // namespace pellwick::test
