// Rings, queueing, taking and peeking, on a device double whose output can be held back.
#include "DispatcherFixture.h"

using namespace pellwick;
using namespace pellwick::test;

using DispatcherOutputRingTest = FakeDeviceFixture;
using DispatcherInputRingTest = FakeDeviceFixture;

// Queueing is all or none up to exactly the free room, and cleared bytes never reach the device.
TEST_F(DispatcherOutputRingTest, QueueBlockFitsExactlyOrQueuesNothingAndClearDiscards) {
    state->writeGate = false;
    Open(4096, 100);
    std::string block(100, 'x');
    EXPECT_EQ(0, dispatcher->QueueBlock(block.data(), 100));
    EXPECT_EQ(100u, dispatcher->OutputUsed());
    EXPECT_EQ(0u, dispatcher->OutputFree());
    dispatcher->ClearOutput();
    EXPECT_EQ(0u, dispatcher->OutputUsed());
    ASSERT_EQ(0, dispatcher->QueueBlock(block.data(), 60));
    EXPECT_EQ(ecOutputBufferTooSmall, dispatcher->QueueBlock(block.data(), 41));
    EXPECT_EQ(60u, dispatcher->OutputUsed());
    EXPECT_EQ(0, dispatcher->QueueBlock(block.data(), 0));
    dispatcher->ClearOutput();
    EXPECT_EQ(0u, dispatcher->OutputUsed());
    OnDevice([](auto& s) { s.writeGate = true; });
    ASSERT_EQ(0, dispatcher->QueueBlock("new", 3));
    ASSERT_TRUE(WaitUntil([&] { return Written().size() == 3; }));
    EXPECT_EQ("new", Str(Written()));
    EXPECT_EQ(3u, dispatcher->OutputHanded());
}

TEST_F(DispatcherOutputRingTest, WrappedRingIsRotatedAndWrittenInOneRunInOrder) {
    state->allowance = 50; // the device takes 50 bytes, then nothing more for now
    Open(4096, 100);
    const std::string first = Bytes(80, 'A'), second = Bytes(40, 'a');
    ASSERT_EQ(0, dispatcher->QueueBlock(first.data(), 80));
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->OutputUsed() == 30; }));
    EXPECT_EQ(50u, dispatcher->OutputHanded());
    // 30 bytes wait at 50..79; these 40 wrap around the end of the 100-byte ring.
    ASSERT_EQ(0, dispatcher->QueueBlock(second.data(), 40));
    EXPECT_EQ(70u, dispatcher->OutputUsed());
    OnDevice([](auto& s) { s.allowance = -1; });
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->OutputUsed() == 0; }));
    EXPECT_EQ(first + second, Str(Written()));
    std::lock_guard lock(state->lock);
    // The waiting bytes never went out split at the ring's end: either the 70 bytes in one run
    // (rotated), or the 30 bytes the writer had already taken and then the 40 new ones.
    ASSERT_GE(state->writeSizes.size(), 2u);
    EXPECT_EQ(50u, state->writeSizes[0]);
    std::vector<std::size_t> rest(state->writeSizes.begin() + 1, state->writeSizes.end());
    EXPECT_TRUE(rest == std::vector<std::size_t>({70}) ||
                rest == std::vector<std::size_t>({30, 40}))
        << "writes after the first: " << rest.size();
}

TEST_F(DispatcherInputRingTest, TakePeekAndEmptyRing) {
    Open();
    Feed("ABC");
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->InputUsed() == 3; }));
    std::uint8_t b = 0;
    ASSERT_EQ(0, dispatcher->PeekByteAt(1, b));
    EXPECT_EQ('A', b);
    ASSERT_EQ(0, dispatcher->PeekByteAt(3, b));
    EXPECT_EQ('C', b);
    EXPECT_EQ(ecBufferIsEmpty, dispatcher->PeekByteAt(4, b));
    char buf[4] = {};
    EXPECT_EQ(ecBufferIsEmpty, dispatcher->TakeBlock(buf, 4));
    EXPECT_EQ(3u, dispatcher->InputUsed()); // a failed take removes nothing
    ASSERT_EQ(0, dispatcher->TakeByte(b));
    EXPECT_EQ('A', b);
    ASSERT_EQ(2, dispatcher->TakeBlock(buf, 2));
    EXPECT_EQ("BC", std::string(buf, 2));
    EXPECT_FALSE(dispatcher->HasInput());
    EXPECT_EQ(0u, dispatcher->InputUsed());
    EXPECT_EQ(ecBufferIsEmpty, dispatcher->TakeByte(b));
}

TEST_F(DispatcherInputRingTest, InputBeyondAFullRingWaitsInDriverAndFollowsWhenRoomIsMade) {
    Open();
    std::string data;
    for (int i = 0; i < 8192 + 100; ++i) {
        data += static_cast<char>(i * 7);
    }
    Feed(data);
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->InputUsed() == InputRingSize; }));
    EXPECT_EQ(100u, OnDevice([](auto& s) { return s.input.size(); })); // held back in the driver
    std::vector<std::uint8_t> got(1000);
    ASSERT_EQ(1000, dispatcher->TakeBlock(got.data(), 1000));
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->InputUsed() == InputRingSize - 900; }, 2000));
    std::vector<std::uint8_t> rest(InputRingSize - 900);
    ASSERT_EQ(static_cast<int>(rest.size()), dispatcher->TakeBlock(rest.data(), rest.size()));
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(data, Str(got)); // wrapped twice, nothing lost, nothing reordered
}

TEST_F(DispatcherInputRingTest, ClearInputDiscardsRingAndDriverInput) {
    Open();
    Feed("discard me");
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->InputUsed() == 10; }));
    dispatcher->ClearInput();
    EXPECT_FALSE(dispatcher->HasInput());
    Feed("x");
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->InputUsed() == 1; }));
}
