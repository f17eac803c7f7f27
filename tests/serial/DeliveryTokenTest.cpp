// The hand-shake between the dispatch worker and the GUI thread for one notification.
#include "serial/NotificationWindow.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace pellwick;
using Clock = std::chrono::steady_clock;

TEST(DeliveryTokenTest, TheWaitEndsWithTheHandler) {
    // A quick handler and a slower one; both much quicker than the 3 s limit.
    for (const int handlerMs : {0, 30}) {
        DeliveryToken token;
        std::thread gui([&] {
            ASSERT_TRUE(token.Begin());
            std::this_thread::sleep_for(std::chrono::milliseconds(handlerMs));
            token.Finish();
        });
        const auto t0 = Clock::now();
        EXPECT_TRUE(token.WaitDone(3000));
        EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1000));
        gui.join();
    }
}

TEST(DeliveryTokenTest, ANotificationNeverBegunIsAbandonedAtTheLimitAndCannotBeginLater) {
    {
        DeliveryToken token;
        const auto t0 = Clock::now();
        EXPECT_FALSE(token.WaitDone(50));
        EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(50));
        EXPECT_FALSE(token.Begin());
    }
    // Abandoned from elsewhere while the sender waits: the wait ends at once.
    DeliveryToken token;
    std::thread other([&] { token.Abandon(); });
    const auto t0 = Clock::now();
    EXPECT_FALSE(token.WaitDone(3000));
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1000));
    other.join();
}

TEST(DeliveryTokenTest, ABegunHandlerIsWaitedForPastTheLimit) {
    DeliveryToken token;
    ASSERT_TRUE(token.Begin());
    std::thread gui([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        token.Finish();
    });
    EXPECT_TRUE(token.WaitDone(10));
    gui.join();
}

TEST(DeliveryTokenTest, TheSettledSignalIsSetWhenHandledOrAbandonedAndNotBefore) {
    for (const bool handled : {true, false}) {
        auto signal = std::make_shared<TVaxoEvent>(false);
        DeliveryToken token(signal);
        if (handled) {
            ASSERT_TRUE(token.Begin());
            EXPECT_FALSE(signal->Wait(0));
            token.Finish();
        } else {
            token.Abandon();
        }
        EXPECT_TRUE(token.Settled());
        EXPECT_TRUE(signal->Wait(0));
    }
}
