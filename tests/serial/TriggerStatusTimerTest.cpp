// Trigger handles, timer triggers and status triggers, on a device double whose output, modem
// lines and line errors the test controls.
#include "DeliveryFixture.h"

using namespace pellwick;
using namespace pellwick::test;

using TriggerHandleTest = FakeDeliveryFixture;
using TimerTriggerTest = FakeDeliveryFixture;
using StatusTriggerTest = FakeDeliveryFixture;

TEST_F(TriggerHandleTest, HandlesCountInEightsAndStatusHandlesCarryTheirKind) {
    Open();
    EXPECT_EQ(8, dispatcher->AddDataMatchTrigger("A", 1, false));
    EXPECT_EQ(16, dispatcher->AddTickTrigger());
    EXPECT_EQ(24 | skOutputFree, dispatcher->AddStatusWatch(skOutputFree));
    EXPECT_EQ(ecBadArgument, dispatcher->AddStatusWatch(6));
    EXPECT_EQ(32 | skOutputSent, dispatcher->AddStatusWatch(skOutputSent));
    // Arming a handle of the wrong list is refused.
    EXPECT_EQ(ecBadTriggerHandle, dispatcher->ArmTickTrigger(27, 1, true));
    EXPECT_EQ(ecBadTriggerHandle, dispatcher->ArmTickTrigger(8, 1, true));
    EXPECT_EQ(ecBadTriggerHandle, dispatcher->ArmStatusWatch(16, 1, true));
    EXPECT_EQ(0, dispatcher->ArmTickTrigger(16, 1, false));
    EXPECT_EQ(0, dispatcher->ArmStatusWatch(27, 10, false));
    // A reopen starts the count again.
    dispatcher->CloseDevice();
    ASSERT_EQ(0, dispatcher->OpenDevice("/fake", 19200, 0, 8, 1, 4096, 100, true, true));
    EXPECT_EQ(8, dispatcher->AddTickTrigger());
}

TEST_F(TriggerHandleTest, DeleteTriggerAndTheAvailabilityHandle) {
    OpenAttached();
    dispatcher->SetAvailThreshold(2);
    EXPECT_EQ(0, dispatcher->DeleteTrigger(AvailTriggerHandle));
    EXPECT_EQ(ecBadTriggerHandle, dispatcher->DeleteTrigger(0));
    int data = dispatcher->AddDataMatchTrigger("xyz", 3, false);
    EXPECT_EQ(0, dispatcher->DeleteTrigger(data));
    EXPECT_EQ(ecBadTriggerHandle, dispatcher->DeleteTrigger(data));
    int sentinel = dispatcher->AddDataMatchTrigger("!", 1, false);
    Feed("abcxyz!");
    ASSERT_TRUE(WaitUntil([&] { return gui.Count(MsgTriggerData) == 1; }));
    EXPECT_EQ(static_cast<std::uint32_t>(sentinel), gui.Received().back().wParam);
    // Neither the threshold that was switched off nor the deleted trigger said anything.
    EXPECT_EQ(0u, gui.Count(MsgTriggerAvail));
    EXPECT_EQ(1u, gui.Received().size());
}

TEST_F(TriggerHandleTest, ReinstatedTriggersKeepTheirHandlesAndNewOnesDoNotCollide) {
    OpenAttached();
    int data = dispatcher->AddDataMatchTrigger("OK", 2, false);
    int timer = dispatcher->AddTickTrigger();
    int status = dispatcher->AddStatusWatch(skOutputUsed);
    dispatcher->SetAvailThreshold(50);
    TriggerSaveRecord save;
    dispatcher->SnapshotTriggers(save);
    dispatcher->CloseDevice();
    ASSERT_EQ(0, dispatcher->OpenDevice("/fake", 19200, 0, 8, 1, 4096, 100, true, true));
    dispatcher->ReinstateTriggers(save);
    int fresh = dispatcher->AddDataMatchTrigger("NO", 2, false);
    EXPECT_NE(data, fresh);
    EXPECT_NE(timer, fresh);
    EXPECT_NE(status & ~7, fresh);
    // The reinstated triggers answer to their old handles.
    EXPECT_EQ(0, dispatcher->ArmTickTrigger(timer, 1, false));
    EXPECT_EQ(0, dispatcher->ArmStatusWatch(status, 0, false));
    Feed("OK");
    ASSERT_TRUE(WaitUntil([&] { return gui.Count(MsgTriggerData) == 1; }));
    EXPECT_EQ(static_cast<std::uint32_t>(data), gui.Received().back().wParam);
    EXPECT_EQ(0, dispatcher->DeleteTrigger(fresh));
    EXPECT_EQ(0, dispatcher->DeleteTrigger(data));
    EXPECT_EQ(ecBadTriggerHandle, dispatcher->DeleteTrigger(data));
}

TEST_F(TimerTriggerTest, EighteenTicksFireAfterAtLeast990MsOnce) {
    OpenAttached();
    int timer = dispatcher->AddTickTrigger();
    Clock::time_point firedAt{};
    HandlersEnd guiDone(gui);
    gui.SetHandler([&](const Notification& n) {
        if (n.msg == MsgTriggerTimer) {
            firedAt = Clock::now();
        }
    });
    auto t0 = Clock::now();
    ASSERT_EQ(0, dispatcher->ArmTickTrigger(timer, 18, true));
    ASSERT_TRUE(WaitUntil([&] { return gui.Count(MsgTriggerTimer) == 1; }, 10000));
    auto received = gui.Received();
    EXPECT_EQ(static_cast<std::uint32_t>(timer), received[0].wParam);
    EXPECT_EQ(0u, Extra(received[0]));
    long long elapsed = 0;
    gui.RunOnGui([&] {
        elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(firedAt - t0).count();
    });
    EXPECT_GE(elapsed, 990);
    // 1045 ms plus one 50 ms wake, with generous slack for a loaded machine.
    EXPECT_LT(elapsed, 1045 + 500);
    // Fired timers stay inactive; re-arming with 0 ticks reuses the stored count.
    gui.ClearReceived();
    auto t1 = Clock::now();
    ASSERT_EQ(0, dispatcher->ArmTickTrigger(timer, 0, true));
    ASSERT_TRUE(WaitUntil([&] { return gui.Count(MsgTriggerTimer) == 1; }, 10000));
    EXPECT_GE(MsSince(t1), 990);
}

TEST_F(TimerTriggerTest, DisarmedTimerStaysQuiet) {
    OpenAttached();
    int quiet = dispatcher->AddTickTrigger();
    int probe = dispatcher->AddTickTrigger();
    ASSERT_EQ(0, dispatcher->ArmTickTrigger(quiet, 1, true));
    ASSERT_EQ(0, dispatcher->ArmTickTrigger(quiet, 1, false));
    ASSERT_EQ(0, dispatcher->ArmTickTrigger(probe, 4, true));
    ASSERT_TRUE(WaitUntil([&] { return gui.Count(MsgTriggerTimer) == 1; }));
    EXPECT_EQ(static_cast<std::uint32_t>(probe), gui.Received().back().wParam);
}

TEST_F(StatusTriggerTest, OutputFreeFiresOnceWithTheFreeCountUntilArmedAgain) {
    SetGate(false);
    OpenAttached(4096, 2000);
    std::string block(1500, 'q');
    ASSERT_EQ(0, dispatcher->QueueBlock(block.data(), 1500));
    int h = dispatcher->AddStatusWatch(skOutputFree);
    std::uint32_t freeSeen = 0;
    HandlersEnd guiDone(gui);
    gui.SetHandler([&](const Notification&) { freeSeen = dispatcher->OutputFree(); });
    ASSERT_EQ(0, dispatcher->ArmStatusWatch(h, 1000, true));
    LetTwoTicksPass();
    EXPECT_EQ(0u, StatusCount(h)); // 500 free: not yet
    SetGate(true);
    ASSERT_TRUE(WaitUntil([&] { return StatusCount(h) == 1; }));
    gui.RunOnGui([] {}); // the handler has finished
    const Notification n = gui.Received().back();
    EXPECT_GE(Extra(n), 1000u);
    EXPECT_LE(Extra(n), freeSeen); // the count when it fired; only more room came since
    // Fired: more output and drain do not fire it again until it is re-armed.
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->OutputUsed() == 0; }));
    ASSERT_EQ(0, dispatcher->QueueBlock(block.data(), 1500));
    ASSERT_TRUE(WaitUntil([&] { return dispatcher->OutputUsed() == 0; }));
    LetTwoTicksPass();
    EXPECT_EQ(1u, StatusCount(h));
    ASSERT_EQ(0, dispatcher->ArmStatusWatch(h, 1000, true));
    ASSERT_TRUE(WaitUntil([&] { return StatusCount(h) == 2; }));
    EXPECT_EQ(2000u, Extra(gui.Received().back()));
}

TEST_F(StatusTriggerTest, OutputUsedZeroFiresWhenTheRingHasBeenWritten) {
    SetGate(false);
    OpenAttached(4096, 200);
    ASSERT_EQ(0, dispatcher->QueueBlock(std::string(120, 'u').data(), 120));
    int h = dispatcher->AddStatusWatch(skOutputUsed);
    std::size_t writtenAtFire = 0;
    HandlersEnd guiDone(gui);
    gui.SetHandler([&](const Notification&) { writtenAtFire = Written().size(); });
    ASSERT_EQ(0, dispatcher->ArmStatusWatch(h, 0, true));
    LetTwoTicksPass();
    EXPECT_EQ(0u, StatusCount(h));
    SetGate(true);
    ASSERT_TRUE(WaitUntil([&] { return StatusCount(h) == 1; }));
    gui.RunOnGui([] {});
    EXPECT_EQ(0u, Extra(gui.Received().back()));
    EXPECT_EQ(120u, writtenAtFire);
}

TEST_F(StatusTriggerTest, OutputSentFiresOnceAfterAQueueBlock) {
    OpenAttached();
    int h = dispatcher->AddStatusWatch(skOutputSent);
    ASSERT_EQ(0, dispatcher->ArmStatusWatch(h, 0, true));
    LetTwoTicksPass();
    EXPECT_EQ(0u, StatusCount(h));
    ASSERT_EQ(0, dispatcher->QueueBlock("go", 2));
    ASSERT_TRUE(WaitUntil([&] { return StatusCount(h) == 1; }));
}

TEST_F(StatusTriggerTest, ModemWatchFiresWhenAMaskedSignalChanges) {
    OpenAttached();
    int cts = dispatcher->AddStatusWatch(skModem);
    int dsr = dispatcher->AddStatusWatch(skModem);
    ASSERT_EQ(0, dispatcher->ArmStatusWatch(cts, msCtsOn, true));
    ASSERT_EQ(0, dispatcher->ArmStatusWatch(dsr, msDsrOn, true));
    OnDevice([](auto& s) { s.modem = msCtsOn; });
    ASSERT_TRUE(WaitUntil([&] { return StatusCount(cts) == 1; }));
    EXPECT_EQ(0u, Extra(gui.Received().back()));
    // DSR did not change; the watch stays armed and fires when it does.
    EXPECT_EQ(0u, StatusCount(dsr));
    OnDevice([](auto& s) { s.modem = msCtsOn | msDsrOn; });
    ASSERT_TRUE(WaitUntil([&] { return StatusCount(dsr) == 1; }));
    EXPECT_EQ(1u, StatusCount(cts));
}

TEST_F(StatusTriggerTest, LineErrorWatchFiresOnlyForItsErrorClasses) {
    OpenAttached();
    int overrun = dispatcher->AddStatusWatch(skLineError);
    int framing = dispatcher->AddStatusWatch(skLineError);
    ASSERT_EQ(0, dispatcher->ArmStatusWatch(overrun, 1, true));
    ASSERT_EQ(0, dispatcher->ArmStatusWatch(framing, 4 | 8, true));
    OnDevice([](auto& s) { s.counts.frame = 1; });
    ASSERT_TRUE(WaitUntil([&] { return StatusCount(framing) == 1; }));
    EXPECT_EQ(0u, StatusCount(overrun));
    EXPECT_EQ(4, dispatcher->TakeLineError());
}

using AvailabilityRingTest = FakeDeliveryFixture;

TEST_F(AvailabilityRingTest, ARingFilledInOneReadBackToTheLastNoticeIsStillAnnounced) {
    OpenAttached();
    dispatcher->SetAvailThreshold(10);
    std::atomic<std::size_t> taken{0};
    HandlersEnd guiDone(gui);
    gui.SetHandler([&](const Notification& n) {
        if (n.msg != MsgTriggerAvail) {
            return;
        }
        std::vector<std::uint8_t> buf(n.wParam);
        if (dispatcher->TakeBlock(buf.data(), n.wParam) == static_cast<int>(n.wParam)) {
            taken += n.wParam;
        }
    });
    Feed(std::string(100, 'a'));
    ASSERT_TRUE(WaitUntil([&] { return taken.load() == 100 && !dispatcher->Delivering(); }));
    // One read fills the ring exactly: the head comes round to where the last notice was.
    Feed(std::string(InputRingSize + 100, 'b'));
    EXPECT_TRUE(WaitUntil([&] { return taken.load() == 100 + InputRingSize + 100; }))
        << "stalled with " << taken.load() << " bytes taken, " << dispatcher->InputUsed()
        << " waiting";
}
