// The notification event that the port's window and the terminal share: a sender waiting on
// its token is released whether the event runs, throws, is given up or is dropped unhandled.
#include "serial/NotificationEvent.h"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace pellwick;

TEST(NotificationEventTest, TheTokenIsSettledHoweverTheEventEnds) {
    enum class Ending { Runs, Throws, AbandonedFirst, Dropped };
    for (const Ending ending :
         {Ending::Runs, Ending::Throws, Ending::AbandonedFirst, Ending::Dropped}) {
        SCOPED_TRACE(static_cast<int>(ending));
        auto token = std::make_shared<DeliveryToken>();
        bool ran = false;
        {
            NotificationEvent event(1, 2, 3, token);
            if (ending == Ending::AbandonedFirst) {
                token->Abandon();
            }
            if (ending != Ending::Dropped) {
                auto handler = [&] {
                    ran = true;
                    if (ending == Ending::Throws) {
                        throw std::runtime_error("handler failed");
                    }
                };
                if (ending == Ending::Throws) {
                    EXPECT_THROW(event.Handle(handler), std::runtime_error);
                } else {
                    EXPECT_EQ(ending == Ending::Runs, event.Handle(handler));
                }
            }
        }
        EXPECT_TRUE(token->Settled());
        EXPECT_EQ(ending == Ending::Runs || ending == Ending::Throws, token->WaitDone(0));
        EXPECT_EQ(ending == Ending::Runs || ending == Ending::Throws, ran);
    }
}
