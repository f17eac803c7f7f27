// Data and availability triggers on a real pseudo-terminal, delivered to a stand-in GUI thread.
#include "DeliveryFixture.h"
#include "serial/Triggers.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace pellwick;
using namespace pellwick::test;

using DataTriggerTest = PtyDeliveryFixture;
using AvailabilityTest = PtyDeliveryFixture;

TEST_F(DataTriggerTest, FiresOnceAmongOtherBytesWithTheMatchStillWaiting) {
    OpenAttached();
    int ok = dispatcher->AddDataMatchTrigger("OK", 2, false);
    ASSERT_GT(ok, 0);
    std::string seen;
    std::uint32_t usedInHandler = 0;
    HandlersEnd guiDone(gui);
    gui.SetHandler([&](const Notification& n) {
        if (n.msg != MsgTriggerData || n.wParam != static_cast<std::uint32_t>(ok)) {
            return;
        }
        usedInHandler = dispatcher->InputUsed();
        for (std::uint32_t i = 1; i <= 4; ++i) {
            std::uint8_t b = 0;
            if (dispatcher->PeekByteAt(i, b) == 0) {
                seen += static_cast<char>(b);
            }
        }
    });
    pty.Write("xxOKyy");
    Sync();
    auto received = gui.Received();
    ASSERT_EQ(1u, CountOf(received, MsgTriggerData, ok));
    const Notification& n = received.front();
    EXPECT_EQ(MsgTriggerData, n.msg);
    EXPECT_EQ(2u, Extra(n));
    EXPECT_EQ(static_cast<std::uint32_t>(dispatcher->PortHandle()), n.lParam >> 16);
    EXPECT_EQ("xxOK", seen);
    EXPECT_GE(usedInHandler, 4u);
    // Nobody took anything: all bytes (and the marker) are still there afterwards.
    EXPECT_EQ(7u, dispatcher->InputUsed());
}

TEST_F(DataTriggerTest, IgnoreCaseOverlapsPrefixesAndEveryByteValue) {
    OpenAttached();
    int ok = dispatcher->AddDataMatchTrigger("ok", 2, true);
    int okExact = dispatcher->AddDataMatchTrigger("ok", 2, false);
    int aa = dispatcher->AddDataMatchTrigger("aa", 2, false);
    int aab = dispatcher->AddDataMatchTrigger("aab", 3, false);
    const std::string binary("\x00\xFF\x80", 3);
    int nulHigh = dispatcher->AddDataMatchTrigger(binary.data(), 3, true);
    pty.Write("Ok-aaa-aaab" + std::string("-\x00\x00\xFF\x80z", 6));
    Sync();
    EXPECT_EQ(1u, DataCount(ok));
    EXPECT_EQ(0u, DataCount(okExact));
    // aa fires on the second and third a of "aaa", and twice more inside "aaab".
    EXPECT_EQ(4u, DataCount(aa));
    EXPECT_EQ(1u, DataCount(aab));
    EXPECT_EQ(1u, DataCount(nulHigh));
}

// The byte that completes a match may start the next one, whichever match slot that candidate
// opened in; the partial candidates before it are dropped.
TEST(DataTriggerMatchTest, CompletingByteAlwaysStartsTheNextCandidate) {
    struct Row {
        std::string pattern;
        std::string input;
        std::string fires; // '1' where a match ends
    };
    for (const Row& row : std::vector<Row>{{"aa", "aaaaa", "01111"},
                                           {"aaa", "aaaaaaa", "0010101"},
                                           {"aba", "abababa", "0010101"}}) {
        DataTrigger t;
        t.length = static_cast<std::uint32_t>(row.pattern.size());
        std::copy(row.pattern.begin(), row.pattern.end(), t.pattern.begin());
        std::string fires;
        for (const char c : row.input) {
            t.Feed(static_cast<std::uint8_t>(c));
            fires += t.matched ? '1' : '0';
            t.matched = false; // as the dispatcher does when it delivers the match
        }
        EXPECT_EQ(row.fires, fires) << row.pattern << " in " << row.input;
    }
}

TEST_F(DataTriggerTest, PatternSplitOverTwoReadsFiresWhenTheSecondPartArrives) {
    OpenAttached();
    int ok = dispatcher->AddDataMatchTrigger("OK", 2, false);
    int o = dispatcher->AddDataMatchTrigger("O", 1, false);
    pty.Write("O");
    // Once the trigger for the first part has run, the first read has been scanned.
    ASSERT_TRUE(WaitUntil([&] { return DataCount(o) == 1; }));
    EXPECT_EQ(0u, DataCount(ok));
    pty.Write("K");
    ASSERT_TRUE(WaitUntil([&] { return DataCount(ok) == 1; }));
    Sync();
    EXPECT_EQ(1u, DataCount(ok));
    EXPECT_EQ(1u, DataCount(o));
}

TEST_F(DataTriggerTest, TriggersMatchingOnTheSameByteArriveNewestFirst) {
    OpenAttached();
    int k = dispatcher->AddDataMatchTrigger("K", 1, false);
    int ok = dispatcher->AddDataMatchTrigger("OK", 2, false);
    pty.Write("OK");
    ASSERT_TRUE(WaitUntil([&] { return gui.Count(MsgTriggerData) == 2; }));
    auto received = gui.Received();
    EXPECT_EQ(static_cast<std::uint32_t>(ok), received[0].wParam);
    EXPECT_EQ(2u, Extra(received[0]));
    EXPECT_EQ(static_cast<std::uint32_t>(k), received[1].wParam);
    EXPECT_EQ(1u, Extra(received[1]));
}

TEST_F(DataTriggerTest, LengthLimitsAndTheEmptyPattern) {
    OpenAttached();
    const std::string longest = "ABCDEFGHIJKLMNOPQRSTU"; // 21 bytes
    EXPECT_EQ(ecTriggerTooLong,
              dispatcher->AddDataMatchTrigger("ABCDEFGHIJKLMNOPQRSTUV", 22, false));
    int full = dispatcher->AddDataMatchTrigger(longest.data(), 21, false);
    ASSERT_GT(full, 0);
    int empty = dispatcher->AddDataMatchTrigger("", 0, false);
    ASSERT_GT(empty, 0);
    EXPECT_NE(full, empty);
    pty.Write("xx" + longest + "yy");
    Sync();
    EXPECT_EQ(1u, DataCount(full));
    EXPECT_EQ(21u, Extra(gui.Received().front()));
    EXPECT_EQ(0u, DataCount(empty));
}

TEST_F(AvailabilityTest, ThresholdNoticeAnnouncesTheBytesAheadOfAMatchFirst) {
    OpenAttached();
    dispatcher->SetAvailThreshold(10);
    int end = dispatcher->AddDataMatchTrigger("END", 3, false);
    std::string taken;
    std::string frontAtData;
    HandlersEnd guiDone(gui);
    gui.SetHandler([&](const Notification& n) {
        if (n.msg == MsgTriggerAvail) {
            std::string buf(n.wParam, '\0');
            ASSERT_EQ(static_cast<int>(n.wParam), dispatcher->TakeBlock(buf.data(), n.wParam));
            taken += buf;
        } else if (n.msg == MsgTriggerData) {
            for (std::uint32_t i = 1; i <= 3; ++i) {
                std::uint8_t b = 0;
                if (dispatcher->PeekByteAt(i, b) == 0) {
                    frontAtData += static_cast<char>(b);
                }
            }
        }
    });
    pty.Write("abcdefghijEND");
    ASSERT_TRUE(WaitUntil([&] { return gui.Count(MsgTriggerData) == 1; }));
    gui.RunOnGui([] {});
    auto received = gui.Received();
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(MsgTriggerAvail, received[0].msg);
    EXPECT_EQ(10u, received[0].wParam);
    EXPECT_EQ(MsgTriggerData, received[1].msg);
    EXPECT_EQ(static_cast<std::uint32_t>(end), received[1].wParam);
    EXPECT_EQ("abcdefghij", taken);
    EXPECT_EQ("END", frontAtData);
    EXPECT_EQ(3u, dispatcher->InputUsed());
}

TEST_F(AvailabilityTest, EveryWindowReadsTheSameBytesWhichLeaveOnceByTheLargestRead) {
    FakeGuiWindow second;
    OpenAttached();
    dispatcher->AttachWindowHandler(&second);
    struct Detach {
        TVaxoBaseDispatcher& d;
        FakeGuiWindow& w;
        ~Detach() { d.DetachWindowHandler(&w); }
    } detach{*dispatcher, second};
    dispatcher->SetAvailThreshold(8);
    std::string firstGot, secondGot;
    HandlersEnd guiDone(gui);
    gui.SetHandler([&](const Notification& n) {
        if (n.msg == MsgTriggerAvail) {
            char buf[3];
            ASSERT_EQ(3, dispatcher->TakeBlock(buf, 3));
            firstGot.assign(buf, 3);
        }
    });
    HandlersEnd secondDone(second);
    second.SetHandler([&](const Notification& n) {
        if (n.msg == MsgTriggerAvail) {
            EXPECT_EQ(n.wParam, dispatcher->InputUsed()); // the first window's read is not seen
            char buf[5];
            ASSERT_EQ(5, dispatcher->TakeBlock(buf, 5));
            secondGot.assign(buf, 5);
        }
    });
    pty.Write("abcdefgh");
    ASSERT_TRUE(WaitUntil([&] { return second.Count(MsgTriggerAvail) == 1; }));
    second.RunOnGui([] {});
    ASSERT_TRUE(WaitUntil([&] { return !dispatcher->Delivering(); }));
    EXPECT_EQ(1u, gui.Count(MsgTriggerAvail));
    EXPECT_EQ("abc", firstGot);
    EXPECT_EQ("abcde", secondGot);
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->InputUsed() == 3; }));
    char rest[3];
    ASSERT_EQ(3, dispatcher->TakeBlock(rest, 3));
    EXPECT_EQ("fgh", std::string(rest, 3));
}
