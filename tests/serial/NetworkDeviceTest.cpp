// The dispatcher on a port on the network: ser2net on 127.0.0.1 serves a pseudo-terminal whose
// other side the test plays. Qt-free, so that the device's thread runs under ThreadSanitizer.
#include "DispatcherFixture.h"
#include "serial/DevicePathWatch.h"
#include "serial/errors/OpenFailure.h"
#include "support/Ser2netServer.h"
#include "support/WaitUntil.h"

#include <atomic>
#include <poll.h>

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
    std::string TakeAll(std::size_t count) {
        std::string got;
        WaitUntil([&] {
            std::uint8_t byte;
            while (dispatcher->TakeByte(byte) == 0) {
                got += static_cast<char>(byte);
            }
            return got.size() >= count;
        });
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
        server.Kill();
        EXPECT_TRUE(WaitUntil([&] { return lost.load(); })) << server.Address();
        EXPECT_TRUE(dispatcher->DeviceHungUp());
        dispatcher->CloseDevice();
    }
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

} // namespace
} // namespace pellwick::test
