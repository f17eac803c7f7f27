// Stopping the workers while the output worker waits for a device that takes no more bytes.
#include "DispatcherFixture.h"

#include <future>

using namespace pellwick;
using namespace pellwick::test;

namespace {

// Queues a block each time the output worker has written everything and gone back to waiting
// for more, until the peer (which reads nothing) takes no more: the worker then waits for room
// on the device with no new output announced.
bool FillUntilStuck(TVaxoWin32Dispatcher& d) {
    const std::string block(4096, 'b');
    for (int i = 0; i < 1000; ++i) {
        if (d.QueueBlock(block.data(), 4096) != 0) {
            return false;
        }
        if (!WaitUntil([&] { return d.OutputUsed() == 0; }, 300)) {
            return true;
        }
    }
    return false;
}

// Runs fn on its own thread; false when it has not returned within the limit (the thread is
// then left behind, and the process ends with the failure rather than hang the suite).
bool ReturnsWithin(std::function<void()> fn, int ms) {
    auto done = std::async(std::launch::async, std::move(fn));
    if (done.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready) {
        return true;
    }
    ADD_FAILURE() << "still waiting after " << ms << " ms";
    std::fflush(stdout);
    std::_Exit(1);
}

} // namespace

using WorkerStopTest = PtyFixture;

TEST_F(WorkerStopTest, DestroyingADispatcherWhoseOutputIsStuckEnds) {
    OpenPty(16384);
    ASSERT_TRUE(FillUntilStuck(*dispatcher));
    // Let the output worker settle into its wait for room on the device.
    auto t0 = std::chrono::steady_clock::now();
    WaitUntil(
        [&] { return std::chrono::steady_clock::now() - t0 > std::chrono::milliseconds(100); });
    EXPECT_TRUE(ReturnsWithin([&] { dispatcher.reset(); }, 10000));
}

TEST_F(WorkerStopTest, ClosingWhileOutputIsStuckEndsAndDiscardsIt) {
    OpenPty(16384);
    ASSERT_TRUE(FillUntilStuck(*dispatcher));
    EXPECT_TRUE(ReturnsWithin([&] { EXPECT_EQ(0, dispatcher->CloseDevice()); }, 10000));
    EXPECT_FALSE(dispatcher->WorkersStarted());
    EXPECT_EQ(0u, dispatcher->OutputUsed());
}
