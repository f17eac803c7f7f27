// The port component on a pseudo-terminal mapped to COM1, with events on the GUI thread.
#include "DispatcherFixture.h"
#include "ErrorNumberOf.h"
#include "serial/TVaxoCustomComPort.h"
#include "serial/TVaxoWin32Dispatcher.h"
#include "serial/errors/OpenFailure.h"
#include "serial/portmap/PortMap.h"
#include "support/PumpUntil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

using namespace pellwick;
using namespace pellwick::test;

namespace {

class ComPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        port.SetComNumber(1);
        port.SetAutoOpen(false);
    }
    void TearDown() override {
        port.SetOpen(false);
        PumpUntil([&] { return port.PortState() == TVaxoCustomComPort::State::Closed; });
    }

    PtyPair pty;
    PtyPair pty2;
    ScopedHook<std::shared_ptr<const PortMap>> map_{
        PortMap::GlobalHook(), std::make_shared<PortMap>(std::map<int, std::string>{
                                   {1, pty.SlavePath()}, {2, pty2.SlavePath()}})};
    ScopedHook<TVaxoCustomComPort::PortSelector> selector_{TVaxoCustomComPort::PortSelectorHook(),
                                                           nullptr};
    TVaxoComPort port;
};

} // namespace

TEST_F(ComPortTest, DefaultsOfANewComponent) {
    TVaxoComPort fresh;
    EXPECT_EQ(dlWin32, fresh.DeviceLayer());
    EXPECT_EQ(0, fresh.ComNumber());
    EXPECT_EQ(19200, fresh.Baud());
    EXPECT_EQ(8, fresh.DataBits());
    EXPECT_EQ(1, fresh.StopBits());
    EXPECT_EQ(4096, fresh.InSize());
    EXPECT_EQ(4096, fresh.OutSize());
    EXPECT_TRUE(fresh.AutoOpen());
    EXPECT_FALSE(fresh.Open());
    EXPECT_TRUE(fresh.DTR());
    EXPECT_TRUE(fresh.RTS());
    EXPECT_EQ("VAXO.TRC", fresh.TraceName());
    EXPECT_EQ(tmAuto, fresh.TapiMode());
    EXPECT_EQ(1, fresh.AvailLength());
}

TEST_F(ComPortTest, FlowThresholdsAreDerivedFromInSize) {
    port.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
    EXPECT_EQ(3686, port.BufferFull());
    EXPECT_EQ(409, port.BufferResume());

    TVaxoComPort sw;
    sw.SetSWFlowOptions(swfBoth);
    EXPECT_EQ(3072, sw.BufferFull());
    EXPECT_EQ(1024, sw.BufferResume());

    TVaxoComPort plain;
    plain.SetBufferFull(5000); // 90 % of the value given, not of InSize
    EXPECT_EQ(4500, plain.BufferFull());
}

TEST_F(ComPortTest, Rs485ExcludesRtsFlowAndTheOtherWayRound) {
    port.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS | hwfUseDTR);
    port.SetRS485Mode(true);
    EXPECT_EQ(hwfUseDTR, port.HWFlowOptions());
    EXPECT_FALSE(port.RTS());
    port.SetHWFlowOptions(hwfRequireCTS);
    EXPECT_FALSE(port.RS485Mode());
}

TEST_F(ComPortTest, PropertiesThatOnlyReadOneWay) {
    port.SetUseMSRShadow(false);
    EXPECT_TRUE(port.UseMSRShadow());
    port.SetTracing(tlDump);
    EXPECT_EQ(tlOff, port.Tracing());
    port.SetDeviceLayer(dlFossil);
    EXPECT_EQ(dlWin32, port.DeviceLayer());
}

TEST_F(ComPortTest, QueriesOnAClosedPortNeedNoDevice) {
    EXPECT_FALSE(port.CtsSignal());
    EXPECT_EQ(0, port.InputCount());
    EXPECT_EQ(port.OutSize(), port.OutputRoom());
    port.DropTrigger(8); // nothing happens
    EXPECT_EQ(ecCommNotOpen, ErrorNumberOf([&] { port.WriteText("x"); }));
}

TEST_F(ComPortTest, OpenConfiguresTheDeviceAndSettingOpenTwiceDoesNothing) {
    port.SetBaud(9600);
    port.SetOpen(true);
    ASSERT_TRUE(port.Open());
    EXPECT_EQ(TVaxoCustomComPort::State::Open, port.PortState());
    port.SetOpen(true);
    EXPECT_EQ(TVaxoCustomComPort::State::Open, port.PortState());
    std::uint32_t baud;
    int parity, data, stop;
    port.CurrentDispatcher()->QueryLine(baud, parity, data, stop);
    EXPECT_EQ(9600u, baud);
    port.WriteText("hello");
    EXPECT_EQ("hello", Str(pty.Read(5)));
}

TEST_F(ComPortTest, OpenFailuresRaiseTheirErrors) {
    port.SetComNumber(9); // not in the port map
    EXPECT_EQ(ecBadId, ErrorNumberOf([&] { port.SetOpen(true); }));
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(TVaxoCustomComPort::State::Closed, port.PortState());

    TVaxoWin32Dispatcher holder(nullptr);
    ASSERT_EQ(0, holder.OpenDevice(pty.SlavePath(), 19200, 0, 8, 1, 4096, 4096, true, true));
    port.SetComNumber(1);
    EXPECT_EQ(ecAlreadyOpen, ErrorNumberOf([&] { port.SetOpen(true); }));
    holder.CloseDevice();

    port.SetTapiMode(tmOn);
    EXPECT_EQ(ecNotOpenedByTapi, ErrorNumberOf([&] { port.SetOpen(true); }));
}

// An open remembered while loading fails with nobody to catch it: the message that shows it
// carries the device's reason on its second line.
TEST_F(ComPortTest, AnOpenAfterLoadingThatFailsIsShownWithTheDevicesReason) {
    PortMap::SetGlobal(
        std::make_shared<PortMap>(std::map<int, std::string>{{3, "/nonexistent/ttyPellwick"}}));
    std::string shown;
    {
        const ScopedHook display{TVaxoCustomComPort::ExceptionDisplayHook(),
                                 [&](const std::exception& e) { shown = e.what(); }};
        port.SetComNumber(3);
        port.BeginLoading();
        port.SetOpen(true);
        port.EndLoading();
    }
    EXPECT_FALSE(port.Open());
    EXPECT_NE(shown.find("\r/nonexistent/ttyPellwick: No such file or directory"),
              std::string::npos)
        << shown;
}

// A failed open whose reason nobody showed (a reopen that fails quietly) must not lend that
// reason to the next failure, which happens before any device is tried.
TEST_F(ComPortTest, AFailedOpenCarriesNoReasonOfAnEarlierOne) {
    PortMap::SetGlobal(
        std::make_shared<PortMap>(std::map<int, std::string>{{3, "/nonexistent/ttyPellwick"}}));
    port.SetComNumber(3);
    EXPECT_NE(0, ErrorNumberOf([&] { port.SetOpen(true); }));
    port.SetComNumber(9); // not in the port map
    EXPECT_EQ(ecBadId, ErrorNumberOf([&] { port.SetOpen(true); }));
    EXPECT_EQ("Error Opening Selected Comm Port !",
              WithOpenFailure("Error Opening Selected Comm Port !"));
}

TEST_F(ComPortTest, PortZeroAsksTheSelectorAndCancelIsNoPortSelected) {
    port.SetComNumber(0);
    TVaxoCustomComPort::SetPortSelector([](int&) { return false; });
    EXPECT_EQ(ecNoPortSelected, ErrorNumberOf([&] { port.SetOpen(true); }));
    EXPECT_FALSE(port.Open());
    TVaxoCustomComPort::SetPortSelector([](int& n) {
        n = 2;
        return true;
    });
    port.SetOpen(true);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(2, port.ComNumber());
    port.SetOpen(false);
    port.SetComNumber(0);
    port.SetPromptForPort(false);
    EXPECT_EQ(ecNoPortSelected, ErrorNumberOf([&] { port.SetOpen(true); }));
}

TEST_F(ComPortTest, DataTriggerEventRunsOnTheGuiThreadWithTheMatchStillWaiting) {
    port.SetOpen(true);
    std::uint16_t fired = 0;
    std::uint16_t waiting = 0;
    port.SetOnTriggerData([&](TVaxoCustomComPort& cp, std::uint16_t h) {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        fired = h;
        waiting = cp.InputCount();
    });
    std::uint16_t handle = port.NewTextTrigger("OK", false);
    EXPECT_EQ(8, handle);
    pty.Write("xxOKyy");
    ASSERT_TRUE(PumpUntil([&] { return fired != 0; }));
    EXPECT_EQ(handle, fired);
    EXPECT_GE(waiting, 4); // "xxOK" at least
}

TEST_F(ComPortTest, ChangingComNumberWhileOpenKeepsTriggerHandles) {
    port.SetOpen(true);
    int fired = 0;
    port.SetOnTriggerData([&](TVaxoCustomComPort&, std::uint16_t) { ++fired; });
    std::uint16_t handle = port.NewTextTrigger("GO", false);
    port.SetComNumber(2);
    ASSERT_TRUE(port.Open());
    pty2.Write("GO");
    ASSERT_TRUE(PumpUntil([&] { return fired == 1; }));
    port.DropTrigger(handle); // the old handle is still valid
    EXPECT_EQ(ecBadTriggerHandle, ErrorNumberOf([&] { port.DropTrigger(handle); }));
}

TEST_F(ComPortTest, ClosingInsideAHandlerIsDeferredAndTheNextOpenWorks) {
    port.SetOpen(true);
    bool closedInside = false;
    port.SetOnTriggerData([&](TVaxoCustomComPort& cp, std::uint16_t) {
        cp.SetOpen(false);
        closedInside = true;
        EXPECT_EQ(TVaxoCustomComPort::State::Closing,
                  cp.PortState()); // closing: window and dispatcher stay for now
    });
    port.NewTextTrigger("BYE", false);
    pty.Write("BYE");
    ASSERT_TRUE(PumpUntil([&] { return closedInside; }));
    ASSERT_TRUE(PumpUntil([&] { return port.PortState() == TVaxoCustomComPort::State::Closed; }));
    port.SetOpen(true);
    ASSERT_TRUE(port.Open());
    port.WriteText("again");
    EXPECT_EQ("again", Str(pty.Read(5)));
}

TEST_F(ComPortTest, OpenWhileClosingReopensWhenTheCloseHasFinished) {
    port.SetOpen(true);
    port.SetOnTriggerData([&](TVaxoCustomComPort& cp, std::uint16_t) {
        cp.SetOpen(false);
        cp.SetOpen(true); // remembered: reopens after the deferred close
    });
    port.NewTextTrigger("X", false);
    pty.Write("X");
    ASSERT_TRUE(PumpUntil(
        [&] { return port.PortState() == TVaxoCustomComPort::State::Open && port.Open(); }));
}

TEST_F(ComPortTest, AwaitTextFindsTheTextAndIgnoresCaseOfLettersOnly) {
    port.SetOpen(true);
    std::string seen;
    port.SetOnWaitChar([&](TVaxoCustomComPort&, char c) { seen += c; });
    EXPECT_TRUE(port.AwaitText("", 1, false, false));
    pty.Write("VER=2.10\r\n#tail");
    EXPECT_TRUE(port.AwaitText("#", 40, false, true));
    EXPECT_EQ("VER=2.10\r\n#", seen);
    EXPECT_EQ(4, port.InputCount()); // bytes after the text stay waiting
}

TEST_F(ComPortTest, AwaitTextDoesNotBacktrackAndTimesOut) {
    port.SetOpen(true);
    pty.Write("aaab");
    auto t0 = Clock::now();
    EXPECT_FALSE(port.AwaitText("aab", 4, false, false));
    EXPECT_GE(MsSince(t0), 3 * 55);
}

TEST_F(ComPortTest, ATriggerForTheAwaitedTextFiresAfterTheNextByte) {
    port.SetOpen(true);
    int fired = 0;
    port.SetOnTriggerData([&](TVaxoCustomComPort&, std::uint16_t) { ++fired; });
    port.NewTextTrigger("OK", false);
    // The reply arrives while the wait runs (so the dispatcher reads it without scanning).
    std::thread device([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Write("OK");
    });
    const bool found = port.AwaitText("OK", 40, false, false);
    device.join();
    ASSERT_TRUE(found);
    QTest::qWait(200);
    EXPECT_EQ(0, fired); // nothing was delivered during the wait nor since
    pty.Write("\r");
    ASSERT_TRUE(PumpUntil([&] { return fired == 1; }));
}

TEST_F(ComPortTest, OutputLevelTriggersPaceBlocks) {
    port.SetOpen(true);
    std::uint16_t room = port.NewStatusTrigger(skOutputFree);
    std::uint16_t drain = port.NewStatusTrigger(skOutputUsed);
    EXPECT_EQ(3, room & 7);
    int blocks = 0;
    bool drained = false;
    std::string block(50, 'b');
    port.SetOnTriggerOutbuffFree([&](TVaxoCustomComPort& cp) {
        cp.WriteBlock(block.data(), 50);
        if (++blocks < 20) {
            cp.ArmStatusTrigger(room, 50, true);
        } else {
            cp.ArmStatusTrigger(drain, 0, true);
        }
    });
    port.SetOnTriggerOutbuffUsed([&](TVaxoCustomComPort&) { drained = true; });
    port.ArmStatusTrigger(room, 50, true);
    ASSERT_TRUE(PumpUntil([&] { return drained; }));
    EXPECT_EQ(20, blocks);
    EXPECT_EQ(1000u, pty.Read(1000).size());
}

TEST_F(ComPortTest, OpenAndCloseAreAnnouncedToRoutinesInReverseOrder) {
    static std::vector<std::string> calls;
    calls.clear();
    auto first = [](void* ctx, TVaxoCustomComPort*, bool opening) {
        calls.push_back(std::string(static_cast<const char*>(ctx)) + (opening ? "+" : "-"));
    };
    port.AddNotifyProc(first, const_cast<char*>("a"));
    port.AddNotifyProc(
        +[](void* ctx, TVaxoCustomComPort*, bool opening) {
            calls.push_back(std::string(static_cast<const char*>(ctx)) + (opening ? "+" : "-"));
        },
        const_cast<char*>("b"));
    port.SetOpen(true);
    port.SetOpen(false);
    EXPECT_EQ((std::vector<std::string>{"b+", "a+", "b-", "a-"}), calls);
    port.RemoveNotifyProc(first, nullptr);
    calls.clear();
    port.SetOpen(true);
    EXPECT_EQ((std::vector<std::string>{"b+"}), calls);
}

TEST(PortNameOfTest, IsComAndTheNumber) {
    EXPECT_EQ("COM1", PortNameOf(1));
    EXPECT_EQ("COM12", PortNameOf(12));
}
