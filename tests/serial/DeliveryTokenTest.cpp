// The hand-shake between the dispatch worker and the GUI thread for one notification.
#include "serial/NotificationDelivery.h"
#include "serial/NotificationWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
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

// The GUI thread begins a wait that holds the input (and gives up the notification in flight)
// while the dispatch worker is about to deliver one: whichever comes first, no handler may run
// once the wait has begun.
TEST(DeliveryTokenTest, NoNotificationRunsOnceAWaitHoldsTheInput) {
    struct QueueWindow : INotificationWindow {
        void PostNotification(std::uint32_t, std::uint32_t, std::uint32_t,
                              std::shared_ptr<DeliveryToken> token) override {
            std::lock_guard lock(mutex);
            posted.push_back(std::move(token));
        }
        std::mutex mutex;
        std::deque<std::shared_ptr<DeliveryToken>> posted;
    };
    NotificationDelivery delivery;
    QueueWindow window;
    int ranWhileHeld = 0;
    for (int round = 0; round < 2000; ++round) {
        std::atomic<bool> held{false};
        std::atomic<bool> delivered{false};
        std::thread worker([&] {
            delivery.Deliver(window, 1, 0, 0, nullptr, &held);
            delivered = true;
        });
        if (round % 2 == 0) {
            std::this_thread::yield();
        }
        held = true;
        delivery.AbandonCurrent();
        // The GUI thread's next turns: whatever was posted must be given up by now.
        while (!delivered) {
            std::lock_guard lock(window.mutex);
            for (; !window.posted.empty(); window.posted.pop_front()) {
                if (window.posted.front()->Begin()) {
                    ++ranWhileHeld;
                    window.posted.front()->Finish();
                }
            }
        }
        worker.join();
    }
    EXPECT_EQ(ranWhileHeld, 0);
}
