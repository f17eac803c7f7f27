// Delivery to the GUI thread under stress: a GUI thread that does not answer, handlers that
// close the port or edit triggers, the wait-for-text flag, and uploads paced by their own
// status-trigger handler.
#include "DeliveryFixture.h"

#include <atomic>
#include <future>

using namespace pellwick;
using namespace pellwick::test;

using DeliveryTest = PtyDeliveryFixture;

TEST_F(DeliveryTest, NotificationTheGuiNeverTakesUpIsDroppedAfterTheLimitAndNeverRunsLate) {
    OpenAttached();
    int ok = dispatcher->AddDataMatchTrigger("OK", 2, false);
    std::atomic<int> handled{0};
    HandlersEnd guiDone(gui);
    gui.SetHandler([&](const Notification& n) {
        if (n.msg == MsgTriggerData && n.wParam == static_cast<std::uint32_t>(ok)) {
            ++handled;
        }
    });
    // The GUI thread is stuck in other work until the test lets it go.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    gui.Post([released] { released.wait(); });
    pty.Write("OK");
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->Delivering(); }));
    auto t0 = Clock::now();
    ASSERT_TRUE(WaitUntil([&] { return !dispatcher->Delivering(); }, 10000));
    long long waited = MsSince(t0);
    EXPECT_GE(waited, TVaxoBaseDispatcher::DeliveryTimeoutMs - 200);
    release.set_value();
    gui.RunOnGui([] {}); // everything queued before has been taken off the queue
    EXPECT_EQ(0, handled.load());
    EXPECT_EQ(0u, gui.Count(MsgTriggerData));
    // The dispatcher goes on with the next notification.
    pty.Write("OK");
    ASSERT_TRUE(WaitUntil([&] { return handled.load() == 1; }));
    Sync();
    EXPECT_EQ(1, handled.load());
}

TEST_F(DeliveryTest, CloseFromInsideADataHandlerReturnsAtOnceAndTheDispatcherOpensAgain) {
    OpenAttached();
    int ok = dispatcher->AddDataMatchTrigger("OK", 2, false);
    std::atomic<long long> closeMs{-1};
    std::atomic<int> closeResult{1};
    HandlersEnd guiDone(gui);
    gui.SetHandler([&](const Notification& n) {
        if (n.msg == MsgTriggerData && n.wParam == static_cast<std::uint32_t>(ok)) {
            auto t0 = Clock::now();
            closeResult = dispatcher->CloseDevice();
            closeMs = MsSince(t0);
        }
    });
    pty.Write("OK");
    ASSERT_TRUE(WaitUntil([&] { return closeMs.load() >= 0; }));
    EXPECT_EQ(0, closeResult.load());
    EXPECT_LT(closeMs.load(), 1000); // far from the delivery limit: nothing waited for it
    ASSERT_TRUE(WaitUntil([&] { return !dispatcher->WorkersStarted(); }));
    EXPECT_FALSE(dispatcher->DeviceIsOpen());
    std::uint8_t byte = 0;
    EXPECT_EQ(ecBufferIsEmpty, dispatcher->TakeByte(byte));

    gui.SetHandler(nullptr);
    gui.ClearReceived();
    ASSERT_EQ(0, dispatcher->OpenDevice(pty.SlavePath(), 19200, 0, 8, 1, 4096, 16384, true, true));
    EXPECT_TRUE(dispatcher->WorkersStarted());
    int again = dispatcher->AddDataMatchTrigger("OK", 2, false);
    pty.Write("OK");
    ASSERT_TRUE(WaitUntil([&] { return DataCount(again) == 1; }));
    ASSERT_EQ(0, dispatcher->QueueBlock("back", 4));
    EXPECT_EQ("back", Str(pty.Read(4)));
}

TEST_F(DeliveryTest, HandlerMayAddArmAndDeleteTriggersDuringDelivery) {
    OpenAttached();
    int ok = dispatcher->AddDataMatchTrigger("OK", 2, false);
    std::atomic<int> xy{0}, timer{0};
    HandlersEnd guiDone(gui);
    gui.SetHandler([&](const Notification& n) {
        if (n.msg == MsgTriggerData && n.wParam == static_cast<std::uint32_t>(ok)) {
            xy = dispatcher->AddDataMatchTrigger("XY", 2, false);
            timer = dispatcher->AddTickTrigger();
            dispatcher->ArmTickTrigger(static_cast<std::uint32_t>(timer.load()), 1, true);
            EXPECT_EQ(0, dispatcher->DeleteTrigger(static_cast<std::uint32_t>(ok)));
        }
    });
    pty.Write("OKOK");
    ASSERT_TRUE(WaitUntil([&] { return gui.Count(MsgTriggerTimer) == 1; }));
    EXPECT_EQ(static_cast<std::uint32_t>(timer.load()), gui.Received().back().wParam);
    pty.Write("XY");
    ASSERT_TRUE(WaitUntil([&] { return DataCount(xy.load()) == 1; }));
    Sync();
    EXPECT_EQ(1u, DataCount(ok)); // deleted by its own handler: the second OK found nothing
    EXPECT_EQ(1u, gui.Count(MsgTriggerTimer));
}

TEST_F(DeliveryTest, BytesReadWhileWaitingForTextAreScannedAtTheNextByte) {
    OpenAttached();
    int ok = dispatcher->AddDataMatchTrigger("OK", 2, false);
    int probe = dispatcher->AddTickTrigger();
    EXPECT_FALSE(dispatcher->SetWaitingForText(true));
    ASSERT_EQ(0, dispatcher->ArmTickTrigger(static_cast<std::uint32_t>(probe), 1, true));
    pty.Write("OK");
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->InputUsed() == 2; }));
    char reply[2];
    ASSERT_EQ(2, dispatcher->TakeBlock(reply, 2)); // the waiting side takes the reply itself
    EXPECT_EQ("OK", std::string(reply, 2));
    // Nothing is delivered while the flag is set, not even the expired timer.
    auto t0 = Clock::now();
    ASSERT_TRUE(WaitUntil([&] { return MsSince(t0) > 300; }));
    EXPECT_TRUE(gui.Received().empty());
    EXPECT_TRUE(dispatcher->SetWaitingForText(false));
    ASSERT_TRUE(WaitUntil([&] { return gui.Count(MsgTriggerTimer) == 1; }));
    EXPECT_EQ(0u, DataCount(ok)); // no byte has arrived since
    pty.Write("x");
    ASSERT_TRUE(WaitUntil([&] { return DataCount(ok) == 1; }));
    Sync();
    EXPECT_EQ(1u, DataCount(ok));
}

TEST_F(DeliveryTest, DiscardAndWaitForTextWhileTheGuiIsBusyDoNotWaitOutPendingNotifications) {
    OpenAttached();
    dispatcher->AddDataMatchTrigger(">", 1, false);
    HandlersEnd guiDone(gui);
    // The GUI thread is busy elsewhere (an upload's verification); the test thread plays the
    // part of that work.
    struct Release {
        std::promise<void> promise;
        ~Release() { promise.set_value(); }
    } release;
    std::shared_future<void> released = release.promise.get_future().share();
    gui.Post([released] { released.wait(); });
    pty.Write(">x>x>x>x"); // each prompt a notification the GUI thread cannot take up
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->Delivering(); }));
    const auto t0 = Clock::now();
    ASSERT_EQ(0, dispatcher->ClearInput());
    EXPECT_EQ(0u, dispatcher->InputUsed()); // gone now, not when the delivery gives up
    EXPECT_FALSE(dispatcher->SetWaitingForText(true));
    pty.Write("OK");
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->InputUsed() == 2; }, 10000));
    // Far below one delivery limit (3000 ms), let alone one per pending prompt.
    EXPECT_LT(MsSince(t0), 1500);
    char reply[2];
    ASSERT_EQ(2, dispatcher->TakeBlock(reply, 2));
    EXPECT_EQ("OK", std::string(reply, 2));
    EXPECT_TRUE(dispatcher->SetWaitingForText(false));
}

TEST_F(DeliveryTest, UploadPacedByItsOwnStatusHandlerMovesAtLineSpeed) {
    // 400 blocks of 50 bytes, each queued by the handler of an output-free trigger that the
    // handler re-arms. Driven only by the 50 ms wake this would take 20 s.
    constexpr int kBlocks = 400;
    constexpr std::uint32_t kBlock = 50;
    OpenAttached(1024);
    std::vector<std::uint8_t> data(kBlocks * kBlock);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 31 + i / 256);
    }
    int h = dispatcher->AddStatusWatch(skOutputFree);
    std::atomic<int> queued{0};
    HandlersEnd guiDone(gui);
    gui.SetHandler([&](const Notification& n) {
        if (n.msg != MsgTriggerStatus || queued.load() >= kBlocks) {
            return;
        }
        ASSERT_EQ(0, dispatcher->QueueBlock(&data[queued.load() * kBlock], kBlock));
        ++queued;
        if (queued.load() < kBlocks) {
            dispatcher->ArmStatusWatch(static_cast<std::uint32_t>(h), kBlock, true);
        }
    });
    std::vector<std::uint8_t> received;
    std::thread peer([&] { received = pty.Read(data.size(), 20000); });
    auto t0 = Clock::now();
    ASSERT_EQ(0, dispatcher->ArmStatusWatch(static_cast<std::uint32_t>(h), kBlock, true));
    peer.join();
    long long ms = MsSince(t0);
    gui.RunOnGui([] {}); // the last handler has returned
    EXPECT_EQ(kBlocks, queued.load());
    EXPECT_EQ(data.size(), received.size());
    EXPECT_TRUE(data == received);
    EXPECT_LT(ms, 8000) << "paced by the 50 ms wake instead of the line";
}

TEST_F(DeliveryTest, ABurstLargerThanTheDriverBufferArrivesWholeInNotificationsThatFillTheRing) {
    // The peer writes 256 KiB at once, far more than the line discipline's 4 KiB buffer; the
    // handler takes what each availability notice announces, as the terminal does.
    OpenAttached();
    dispatcher->SetAvailThreshold(1);
    std::vector<std::uint8_t> data(256 * 1024);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 167 + (i >> 9));
    }
    InputTaker taker;
    HandlersEnd guiDone(gui);
    gui.SetHandler(taker.For(*dispatcher));
    std::thread writer([&] { pty.Write(data); });
    ASSERT_TRUE(WaitUntil([&] { return taker.taken.load() >= data.size(); }, 20000));
    writer.join();
    gui.RunOnGui([] {});
    EXPECT_TRUE(taker.got == data);
    // What arrives while a notification is handled is staged beside the ring, so the next
    // notifications carry more than one driver buffer's worth.
    EXPECT_GT(taker.largest, 4096u);
}

// While a window takes the input (a terminal), the port's own window only hears that input
// came: posted, not waited for. A port window stuck in other work no longer holds every batch
// of a flood for the delivery limit, and is not sent a second notice before the first is taken.
TEST_F(DeliveryTest, APortWindowStuckInOtherWorkDoesNotHoldTheInputOfTheWindowThatTakesIt) {
    OpenAttached();
    dispatcher->SetAvailThreshold(1);
    FakeGuiWindow terminal;
    InputTaker taker;
    HandlersEnd terminalDone(terminal);
    terminal.SetHandler(taker.For(*dispatcher));
    dispatcher->AttachWindowHandler(&terminal, true);
    HandlersEnd guiDone(gui);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    gui.Post([released] { released.wait(); });

    std::vector<std::uint8_t> data(64 * 1024);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 31 + (i >> 8));
    }
    std::thread writer([&] { pty.Write(data); });
    const bool whole = WaitUntil([&] { return taker.taken.load() >= data.size(); }, 2000);
    release.set_value();
    writer.join();
    ASSERT_TRUE(whole) << taker.taken.load() << " of " << data.size() << " bytes in 2 s";
    gui.RunOnGui([] {});
    EXPECT_TRUE(taker.got == data);
    // The notices queued while it was stuck: one, whatever the number of batches.
    EXPECT_EQ(1u, gui.Count(MsgTriggerAvail));
    dispatcher->DetachWindowHandler(&terminal);
}
