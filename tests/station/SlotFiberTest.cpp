// The slot's own stack: a step that waits lets the event loop and the other slots go on, and
// ends where it would have ended had it blocked.
#include "station/SlotFiber.h"
#include "support/PumpUntil.h"

#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

namespace pellwick {
namespace {

using Clock = std::chrono::steady_clock;

TEST(SlotFiberTest, WaitingStepsLeaveTheThreadToTheOthers) {
    SlotFiber first, second;
    std::string order;
    first.Run([&] {
        order += "a";
        first.Sleep(300);
        order += "A";
    });
    second.Run([&] {
        order += "b";
        for (int i = 0; i < 20; ++i) {
            second.Pause(false);
        }
        second.Sleep(50);
        order += "B";
    });
    EXPECT_EQ(order, "ab");
    EXPECT_TRUE(first.Busy());
    // The event loop runs meanwhile: a timer comes on time.
    Clock::duration longestGap{};
    auto last = Clock::now();
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, Clock::now() - last);
        last = Clock::now();
    });
    beat.start(5);
    ASSERT_TRUE(test::PumpUntil([&] { return !first.Busy() && !second.Busy(); }, 5000));
    EXPECT_EQ(order, "abBA");
    EXPECT_LT(longestGap, std::chrono::milliseconds(100));
}

TEST(SlotFiberTest, ATickDuringAWaitRunsOnTheCallersStack) {
    SlotFiber fiber;
    int steps = 0;
    fiber.Run([&] {
        fiber.Sleep(100);
        ++steps;
    });
    // The engine defers such a tick; it must not wait itself, nor wait on the busy stack.
    const auto before = Clock::now();
    fiber.Run([&] {
        fiber.Sleep(200);
        ++steps;
    });
    EXPECT_EQ(steps, 1);
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(200));
    ASSERT_TRUE(test::PumpUntil([&] { return !fiber.Busy(); }, 5000));
    EXPECT_EQ(steps, 2);
}

TEST(SlotFiberTest, FinishRunsAWaitingStepToItsEndAndFailuresAreKept) {
    SlotFiber fiber;
    bool ended = false;
    fiber.Run([&] {
        fiber.Sleep(60000);
        ended = true;
        throw std::runtime_error("the port went");
    });
    ASSERT_TRUE(fiber.Busy());
    fiber.Finish();
    EXPECT_TRUE(ended);
    EXPECT_FALSE(fiber.Busy());
    EXPECT_EQ(fiber.TakeFailure(), "the port went");
    EXPECT_EQ(fiber.TakeFailure(), "");
}

} // namespace
} // namespace pellwick
