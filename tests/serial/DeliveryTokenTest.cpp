// The hand-shake between the dispatch worker and the GUI thread for one notification.
#include "serial/NotificationWindow.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace pellwick;
using Clock = std::chrono::steady_clock;

TEST(DeliveryTokenTest, AwakeAndSleepingWaitsBothEndWithTheHandler) {
    for (const int spin : {0, 200, 2000000}) {
        SCOPED_TRACE(spin);
        // A quick handler and a slower one: slower than a short awake wait, so that the
        // sleeping part ends it, and much quicker than a 2 s one, which must end with it.
        for (const int handlerMs : {0, 30}) {
            DeliveryToken token;
            std::thread gui([&] {
                ASSERT_TRUE(token.Begin());
                std::this_thread::sleep_for(std::chrono::milliseconds(handlerMs));
                token.Finish();
            });
            const auto t0 = Clock::now();
            EXPECT_TRUE(token.WaitDone(3000, spin));
            EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1000));
            gui.join();
        }
    }
}

TEST(DeliveryTokenTest, ANotificationNeverBegunIsAbandonedAtTheLimitAndCannotBeginLater) {
    for (const int spin : {0, 200}) {
        DeliveryToken token;
        const auto t0 = Clock::now();
        EXPECT_FALSE(token.WaitDone(50, spin));
        EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(50));
        EXPECT_FALSE(token.Begin());
    }
    // Abandoned from elsewhere while the sender waits awake: the wait ends at once.
    DeliveryToken token;
    std::thread other([&] { token.Abandon(); });
    const auto t0 = Clock::now();
    EXPECT_FALSE(token.WaitDone(3000, 2000000));
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
    EXPECT_TRUE(token.WaitDone(10, 200));
    gui.join();
}
