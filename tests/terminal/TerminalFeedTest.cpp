// The terminal feed without a window: the real port component on a pseudo-terminal (the test
// plays the device on the master side) feeds a screen buffer that reports to a recording view.
#include "terminal/TerminalFeed.h"
#include "FakeTerminalView.h"
#include "TerminalPtyFixture.h"
#include "serial/DispatcherTypes.h"
#include "serial/NotificationWindow.h"
#include "serial/TVaxoWin32Dispatcher.h"
#include "terminal/TBuffer.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace pellwick;
using namespace pellwick::test;

namespace {

class TerminalFeedTest : public TerminalPtyFixture {
protected:
    void TearDown() override {
        // The port's dispatcher goes with the port: the feed must not keep pointing at it.
        feed.ForgetDispatcher();
        TerminalPtyFixture::TearDown();
    }
    void Attach() {
        OpenPort();
        feed.TakeDispatcher(port->CurrentDispatcher()->PortHandle());
        ASSERT_TRUE(feed.Attach());
        feed.SetReceiveObserver([this](std::span<const std::uint8_t> bytes) {
            received.append(bytes.begin(), bytes.end());
        });
    }

    FakeTerminalView view;
    TBuffer buffer{view, 80, 200};
    TerminalFeed feed{buffer};
    std::string received; // what the observer was told
};

TEST_F(TerminalFeedTest, StreamLargerThanTheInputRingReachesObserverAndScreenWholeAndInOrder) {
    Attach();
    std::string sent;
    for (int i = 0; sent.size() < 64 * 1024; ++i) {
        sent += "line " + std::to_string(i) + "\r\n";
    }
    // The device writes what the line takes while the feed drains it.
    std::size_t written = 0;
    const bool all = PumpUntil([&] {
        const ssize_t n = write(pty.Master(), sent.data() + written, sent.size() - written);
        written += n > 0 ? static_cast<std::size_t>(n) : 0;
        return received.size() >= sent.size();
    });
    ASSERT_TRUE(all) << received.size() << " of " << sent.size();
    EXPECT_EQ(sent, received);
    const std::string last = sent.substr(sent.rfind("line ", sent.size() - 3));
    EXPECT_EQ(last.substr(0, last.size() - 2), RowText(buffer, buffer.CursorRow() - 1));
    EXPECT_EQ(0, buffer.CursorColumn());
    EXPECT_FALSE(view.statuses.empty()); // each batch ends with a refresh
}

TEST_F(TerminalFeedTest, ViewModesChangeWhatTheScreenShowsButNotWhatTheObserverGets) {
    struct Case {
        const char* name;
        bool hex;
        LineEndMapping ends;
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {"text", false, {}, {"a", " b"}},
        {"LF widened", false, {LineEnd::Cr, false, true}, {"a", "b"}},
        {"hex", true, {}, {"61 0A 62" + std::string(41, ' ') + "a.b"}},
    };
    Attach();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        buffer.ClearAll();
        received.clear();
        feed.SetHexView(c.hex);
        feed.SetLineEnds(c.ends);
        pty.Write("a\nb");
        ASSERT_TRUE(PumpUntil([&] { return received.size() == 3; }));
        EXPECT_EQ("a\nb", received);
        for (std::size_t row = 0; row < c.rows.size(); ++row) {
            EXPECT_EQ(c.rows[row], RowText(buffer, static_cast<int>(row)));
        }
        feed.SetHexView(false);
    }
}

TEST(TerminalFeedDropTest, NotificationDroppedWithItsFeedReleasesTheWaitingSender) {
    FakeTerminalView view;
    TBuffer buffer(view, 80, 200);
    auto handled = std::make_shared<DeliveryToken>();
    auto dropped = std::make_shared<DeliveryToken>();
    {
        TerminalFeed feed(buffer);
        feed.PostNotification(MsgTriggerAvail, 1, 0, handled);
        QCoreApplication::processEvents();
        feed.PostNotification(MsgTriggerAvail, 1, 0, dropped);
    } // destroyed before the second notification was handled
    EXPECT_TRUE(handled->WaitDone(0));
    // Abandoned: the sender stops waiting at once instead of after the delivery time-out.
    const bool stillPending = dropped->Begin();
    if (stillPending) {
        dropped->Finish();
    }
    EXPECT_FALSE(stillPending);
}

} // namespace
