// Line settings, flow control, modem lines and line errors, on a device double.
#include "DispatcherFixture.h"

#include <functional>
#include <iterator>
#include <utility>

using namespace pellwick;
using namespace pellwick::test;

namespace {
int SetLineCalls(FakeSerialDevice::State& s) {
    return s.setLineCalls;
}

class DispatcherLineTest : public FakeDeviceFixture {
protected:
    // Runs change; returns how often it set the device's line and how long it took in ms.
    std::pair<int, long long> TimedLineSets(const std::function<void()>& change) {
        const int before = OnDevice(SetLineCalls);
        const auto t0 = Clock::now();
        change();
        const long long ms = MsSince(t0);
        return {OnDevice(SetLineCalls) - before, ms};
    }
};
} // namespace

TEST_F(DispatcherLineTest, UnchangedSettingsNeitherTouchTheDeviceNorWait) {
    Open();
    // At 300 baud a change would first wait 18 character times (600 ms) for the line to drain.
    ASSERT_EQ(0, dispatcher->ConfigureLine(300, 0, 8, 1));
    const auto [sets, ms] = TimedLineSets([&] {
        EXPECT_EQ(0, dispatcher->ConfigureLine(300, 0, 8, 1));
        EXPECT_EQ(0, dispatcher->ConfigureLine(0, 5, 9, 3)); // all "keep"
    });
    EXPECT_EQ(0, sets);
    EXPECT_LT(ms, 300);
}

TEST_F(DispatcherLineTest, ChangeAt9600WaitsEighteenCharacterTimesFirst) {
    Open();
    ASSERT_EQ(0, dispatcher->ConfigureLine(9600, 0, 8, 1));
    const auto [sets, ms] =
        TimedLineSets([&] { EXPECT_EQ(0, dispatcher->ConfigureLine(19200, 0, 8, 1)); });
    EXPECT_GE(ms, 19); // (10,000,000 div 9600) x 10 bits x 18 = 18.7 ms, rounded up
    EXPECT_EQ(1, sets);
    std::uint32_t baud;
    int parity, data, stop;
    dispatcher->QueryLine(baud, parity, data, stop);
    EXPECT_EQ(19200u, baud);
    EXPECT_EQ(0, parity);
    EXPECT_EQ(8, data);
    EXPECT_EQ(1, stop);
}

TEST_F(DispatcherLineTest, FiveDataBitsUseOneAndAHalfStopBits) {
    Open();
    ASSERT_EQ(0, dispatcher->ConfigureLine(9600, 2, 5, 2));
    std::lock_guard lock(state->lock);
    EXPECT_EQ(One5StopBits, state->line.stopBits);
    EXPECT_EQ(2, state->line.parity);
}

TEST_F(DispatcherLineTest, HardwareFlowThresholdsBecomeDriverLimits) {
    Open(4096, 100);
    ASSERT_EQ(0, dispatcher->ConfigureHardwareFlow(3686, 409, 2 | 8));
    {
        std::lock_guard lock(state->lock);
        EXPECT_EQ(410, state->line.xoffLim);
        EXPECT_EQ(409, state->line.xonLim);
        EXPECT_TRUE(state->line.outxCtsFlow);
        EXPECT_EQ(LineControl::Handshake, state->line.rtsControl);
    }
    EXPECT_EQ(ecBadArgument, dispatcher->ConfigureHardwareFlow(400, 409, 2));
    EXPECT_EQ(ecBadArgument, dispatcher->ConfigureHardwareFlow(4097, 409, 2));
    std::uint32_t hw, sw;
    std::uint8_t xon, xoff;
    dispatcher->QueryFlow(hw, sw, xon, xoff);
    EXPECT_EQ(2u | 8u, hw);
    EXPECT_EQ(0u, sw);
}

// While the handshake drives RTS it takes the line over raised (ready to receive), whatever RTS
// was by hand, and then neither a setting nor a hand moves it: a UART whose driver only drops and
// raises RTS as its input fills and drains would never raise it again. Without the handshake RTS
// is as set by hand again.
TEST_F(DispatcherLineTest, RtsUnderHardwareFlowIsTheHandshakesAlone) {
    dispatcher = std::make_unique<TVaxoWin32Dispatcher>(nullptr);
    ASSERT_EQ(0, dispatcher->OpenDevice("/fake", 19200, 0, 8, 1, 4096, 100, true, false));
    const auto rts = [&] { return OnDevice([](auto& s) { return s.rts; }); };
    ASSERT_FALSE(rts());
    ASSERT_EQ(0, dispatcher->ConfigureHardwareFlow(3686, 409, hwfUseRTS));
    EXPECT_TRUE(rts());
    std::uint32_t baud = 9600;
    const std::function<int()> changes[] = {
        [&] { return dispatcher->DriveRts(0) == 1 ? 0 : -1; },
        [&] { return dispatcher->ConfigureLine(baud += 100, 2, 7, 1); },
        [&] { return dispatcher->ConfigureFlowChars(17, 19); },
        [&] { return dispatcher->ConfigureSoftwareFlow(3072, 1024, sfObeyXoff); },
        [&] { return dispatcher->StopSoftwareFlow(); },
        [&] { return dispatcher->ConfigureHardwareFlow(3686, 409, hwfUseRTS | hwfRequireCTS); },
    };
    for (const bool raised : {true, false}) { // false: the driver has dropped it, input full
        for (std::size_t i = 0; i < std::size(changes); ++i) {
            OnDevice([raised](auto& s) { s.rts = raised; });
            ASSERT_EQ(0, changes[i]()) << i;
            EXPECT_EQ(raised, rts()) << "change " << i;
        }
    }
    ASSERT_EQ(0, dispatcher->ConfigureHardwareFlow(3686, 409, 0));
    EXPECT_FALSE(rts());
    EXPECT_EQ(0, dispatcher->DriveDtr(0));
    EXPECT_FALSE(OnDevice([](auto& s) { return s.dtr; }));
}

TEST_F(DispatcherLineTest, SoftwareFlowSetsXonXoffCharacters) {
    Open();
    ASSERT_EQ(0, dispatcher->ConfigureSoftwareFlow(3072, 1024, 3));
    std::uint32_t hw, sw;
    std::uint8_t xon, xoff;
    dispatcher->QueryFlow(hw, sw, xon, xoff);
    EXPECT_EQ(3u, sw);
    EXPECT_EQ(17, xon);
    EXPECT_EQ(19, xoff);
    ASSERT_EQ(0, dispatcher->StopSoftwareFlow());
    dispatcher->QueryFlow(hw, sw, xon, xoff);
    EXPECT_EQ(0u, sw);
}

TEST_F(DispatcherLineTest, ModemChangesAreRecordedAndEachQueryClearsItsChangeBit) {
    Open();
    EXPECT_FALSE(dispatcher->CtsAsserted());
    OnDevice([](auto& s) { s.modem = msCtsOn | msDcdOn; });
    ASSERT_TRUE(WaitUntil([&] { return (dispatcher->ModemBits() & 0x09) == 0x09; }));
    EXPECT_EQ(0x90u, dispatcher->ModemBits() & 0xF0);
    EXPECT_TRUE(dispatcher->CtsAsserted());
    EXPECT_EQ(0u, dispatcher->ModemBits() & 0x01);
    EXPECT_TRUE(dispatcher->DcdAsserted());
    EXPECT_FALSE(dispatcher->DsrAsserted());
    EXPECT_EQ(0u, dispatcher->ModemBits() & 0x0F);
}

TEST_F(DispatcherLineTest, LineErrorsAreReportedInOrderAndBreakSeparately) {
    Open();
    OnDevice([](auto& s) { s.counts.parity = s.counts.frame = s.counts.brk = 1; });
    ASSERT_TRUE(WaitUntil([&] {
        return (dispatcher->ErrorBits() & (ceRxParity | ceBreak)) != 0 &&
               (dispatcher->ErrorBits() & ceFrame) != 0;
    }));
    EXPECT_EQ(3, dispatcher->TakeLineError()); // parity comes before framing
    EXPECT_EQ(9, dispatcher->TakeLineError()); // errors cleared, break kept
    EXPECT_TRUE(dispatcher->TakeBreakFlag());
    EXPECT_FALSE(dispatcher->TakeBreakFlag());
    EXPECT_EQ(0, dispatcher->TakeLineError());
}

TEST_F(DispatcherLineTest, Rs485WithoutDriverSupportRefusesOutput) {
    Open();
    dispatcher->ApplyRs485Mode(true);
    EXPECT_EQ(ecBaseAddressNotSet, dispatcher->QueueBlock("x", 1));
    dispatcher->ApplyRs485Mode(false);
    EXPECT_EQ(0, dispatcher->QueueBlock("x", 1));
}
