// The engine on real pseudo-terminals: byte transparency, exclusive open, missing devices and
// a peer that hangs up.
#include "DispatcherFixture.h"
#include <atomic>

#include <ctime>

using namespace pellwick;
using namespace pellwick::test;

namespace {

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        // Every byte value, in an order that is not a plain count.
        v[i] = static_cast<std::uint8_t>((i * 167 + seed + (i >> 8)) & 0xFF);
    }
    return v;
}

// Queues all of data in blocks as the room in the output ring allows; a block larger than the
// ring goes in ring-sized pieces.
void QueueAll(TVaxoWin32Dispatcher& d, const std::vector<std::uint8_t>& data, std::size_t block) {
    std::size_t done = 0;
    const std::size_t ring = d.OutputFree() + d.OutputUsed();
    while (done < data.size()) {
        std::size_t n = std::min({block, ring, data.size() - done});
        int r = d.QueueBlock(data.data() + done, static_cast<std::uint32_t>(n));
        if (r == ecOutputBufferTooSmall) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        ASSERT_EQ(0, r);
        done += n;
    }
}

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

} // namespace

using DispatcherPtyTest = PtyFixture;

class DispatcherTransparencyTest : public PtyFixture,
                                   public ::testing::WithParamInterface<std::size_t> {};

TEST_P(DispatcherTransparencyTest, EveryByteValuePassesBothWaysUnchanged) {
    const std::size_t block = GetParam();
    OpenPty();
    const std::size_t total = std::max<std::size_t>(block * 3, 256 * 4);
    auto out = Pattern(total, 11);
    std::vector<std::uint8_t> received;
    std::thread reader([&] { received = pty.Read(total, 20000); });
    QueueAll(*dispatcher, out, block);
    reader.join();
    EXPECT_EQ(out, received);
    // Every byte was handed to the driver; what a pseudo-terminal holds, it does not tell.
    EXPECT_TRUE(WaitUntil([&] { return dispatcher->OutputHanded() == total; }));
    EXPECT_EQ(-1, dispatcher->DriverOutputQueued());

    auto in = Pattern(total, 29);
    std::thread writer([&] { pty.Write(in); });
    std::vector<std::uint8_t> got;
    // Takes a block each round as the test's reader would; a failed take ends the wait.
    const auto takeBlock = [&] {
        const std::uint32_t n =
            std::min<std::uint32_t>(dispatcher->InputUsed(), static_cast<std::uint32_t>(block));
        if (n == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return;
        }
        std::vector<std::uint8_t> chunk(n);
        ASSERT_EQ(static_cast<int>(n), dispatcher->TakeBlock(chunk.data(), n));
        got.insert(got.end(), chunk.begin(), chunk.end());
    };
    (void)WaitUntil([&] { return got.size() >= total || HasFatalFailure(); }, 20000, takeBlock);
    writer.join();
    EXPECT_EQ(in, got);
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, DispatcherTransparencyTest,
                         ::testing::Values(std::size_t{1}, std::size_t{50}, std::size_t{4096},
                                           std::size_t{100000}));

TEST_F(DispatcherPtyTest, ASecondOpenOfAHeldDeviceIsAccessDenied) {
    OpenPty();
    TVaxoWin32Dispatcher second(nullptr);
    EXPECT_EQ(dr::DeviceAccessDenied,
              second.OpenDevice(pty.SlavePath(), 19200, 0, 8, 1, 4096, 4096, true, true));
    EXPECT_FALSE(second.DeviceIsOpen());
    // After the first closes, the device is free again.
    dispatcher->CloseDevice();
    EXPECT_EQ(0, second.OpenDevice(pty.SlavePath(), 19200, 0, 8, 1, 4096, 4096, true, true));
    second.CloseDevice();
}

TEST_F(DispatcherPtyTest, AMissingDeviceIsNotFoundAndANonTerminalFails) {
    TVaxoWin32Dispatcher d(nullptr);
    for (const std::string path : {"/dev/pellwick-no-such-device", "\\\\.\\COM77", "/dev/null"}) {
        SCOPED_TRACE(path);
        const int r = d.OpenDevice(path, 19200, 0, 8, 1, 4096, 4096, true, true);
        EXPECT_TRUE(path == "/dev/null" ? r < 0 : r == dr::DeviceNotFound) << r;
        EXPECT_FALSE(d.DeviceIsOpen());
    }
}

TEST_F(DispatcherPtyTest, PeerHangUpNeitherSpinsNorBlocksCloseAndReopen) {
    std::atomic<int> losses{0};
    dispatcher = std::make_unique<TVaxoWin32Dispatcher>(nullptr);
    dispatcher->SetLostHandler([&losses] { ++losses; });
    ASSERT_EQ(0, dispatcher->OpenDevice(pty.SlavePath(), 19200, 0, 8, 1, 4096, 16384, true, true));
    pty.Write("last words");
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->InputUsed() == 10; }));
    pty.CloseMaster();
    // Discarding on the gone line succeeds, also before the event worker has noticed.
    EXPECT_EQ(0, dispatcher->ClearInput());
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->DeviceHungUp(); }));
    ASSERT_TRUE(WaitUntil([&] { return losses == 1; }));
    // Output into a vanished device is dropped, not kept for ever.
    std::string block(5000, 'z');
    ASSERT_EQ(0, dispatcher->QueueBlock(block.data(), 5000));
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->OutputUsed() == 0; }));
    double cpu0 = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    double cpu = ProcessCpuSeconds() - cpu0;
    EXPECT_LT(cpu, 0.1) << "workers spin after the hang-up";
    EXPECT_EQ(0, dispatcher->ClearInput());
    EXPECT_EQ(0, dispatcher->ClearOutput());
    EXPECT_EQ(0u, dispatcher->InputUsed());
    EXPECT_EQ(0, dispatcher->CloseDevice());
    // A new peer on a new pseudo-terminal: the same dispatcher object opens again.
    PtyPair again;
    ASSERT_EQ(0, dispatcher->OpenDevice(again.SlavePath(), 19200, 0, 8, 1, 4096, 4096, true, true));
    ASSERT_EQ(0, dispatcher->QueueBlock("ok", 2));
    EXPECT_EQ("ok", Str(again.Read(2)));
    dispatcher->CloseDevice();
    EXPECT_EQ(1, losses) << "a close is no loss";
}
