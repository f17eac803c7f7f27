// The status light controller on a real port component: on a pseudo-terminal for received
// data, and on a device double for modem lines and line errors, which pseudo-terminals lack.
#include "lights/TVaxoSLController.h"
#include "lights/TVaxoStatusLight.h"
#include "serial/TVaxoWin32Dispatcher.h"
#include "serial/errors/EVaxoException.h"
#include "serial/portmap/PortMap.h"

#include "SerialTestSupport.h"
#include "support/PtyPair.h"
#include "support/PumpUntil.h"

#include <QCoreApplication>
#include <QTest>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <vector>

namespace pellwick {
namespace {

using Clock = std::chrono::steady_clock;
using test::PumpUntil;
constexpr int kTickMs = 55;

long long MsSince(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
}

class ControllerFixture : public ::testing::Test {
protected:
    void TearDown() override {
        controllers.clear();
        port.reset();
    }

    // COM1 is the given path; nothing else exists.
    void MakePort(const std::string& path) {
        PortMap::SetGlobal(std::make_shared<PortMap>(std::map<int, std::string>{{1, path}}));
        port = std::make_unique<TVaxoComPort>(&owner);
        port->SetComNumber(1);
        port->SetAutoOpen(false);
        port->SetPromptForPort(false);
    }
    // COM1 is a device double whose lines and error counts the test sets.
    void MakeFakePort() {
        device = std::make_shared<test::FakeSerialDevice::State>();
        auto state = device;
        TVaxoWin32Dispatcher::DeviceFactoryHook().Set(
            [state] { return std::make_unique<test::FakeSerialDevice>(state); });
        MakePort("/dev/fake-com1");
    }
    void MakeOpenFakePort() {
        MakeFakePort();
        port->SetOpen(true);
    }
    // Gives the port a status handler of its own, which counts its calls in `portCalls`.
    struct CountingHandler {
        int* calls;
        void operator()(TVaxoCustomComPort&, std::uint16_t) const { ++*calls; }
    };
    void GivePortAHandler() { port->SetOnTriggerStatus(CountingHandler{&portCalls}); }
    bool PortHasItsHandler() { return port->OnTriggerStatus().target<CountingHandler>(); }
    void SetModem(std::uint8_t bits) {
        std::lock_guard lock(device->lock);
        device->modem = bits;
    }
    void AddParityError() {
        std::lock_guard lock(device->lock);
        ++device->counts.parity;
    }
    void AddFramingError() {
        std::lock_guard lock(device->lock);
        ++device->counts.frame;
    }
    TVaxoSLController& MakeController() {
        controllers.push_back(std::make_unique<TVaxoSLController>(&owner));
        return *controllers.back();
    }
    TVaxoStatusLight* Lamp(TVaxoSLController& c, TLightSet::Slot slot) {
        lamps.push_back(std::make_unique<TVaxoStatusLight>());
        c.Lights().SetLight(slot, lamps.back().get());
        return lamps.back().get();
    }
    std::size_t StatusTriggerCount() {
        TriggerSaveRecord record;
        port->CurrentDispatcher()->SnapshotTriggers(record);
        return record.status.size() + record.timers.size();
    }

    ScopedHook<TVaxoWin32Dispatcher::DeviceFactory> deviceFactory_{
        TVaxoWin32Dispatcher::DeviceFactoryHook(), nullptr};
    ScopedHook<std::shared_ptr<const PortMap>> portMap_{PortMap::GlobalHook(), nullptr};
    QObject owner;
    std::shared_ptr<test::FakeSerialDevice::State> device;
    std::vector<std::unique_ptr<TVaxoStatusLight>> lamps;
    std::unique_ptr<TVaxoComPort> port;
    std::vector<std::unique_ptr<TVaxoSLController>> controllers;
    int portCalls = 0;
};

TEST_F(ControllerFixture, WatchingWithoutPortRaisesPortNotAssigned) {
    TVaxoSLController lone;
    EXPECT_EQ(nullptr, lone.ComPort());
    try {
        lone.SetWatching(true);
        FAIL() << "no exception";
    } catch (const EPortNotAssigned& e) {
        EXPECT_EQ(-1005, e.ErrorNumber());
        EXPECT_STREQ("ComPort component not assigned", e.what());
    }
    EXPECT_FALSE(lone.Watching());

    // Unlinking the port while watching gives the port its handler back, then raises.
    MakeOpenFakePort();
    GivePortAHandler();
    auto& c = MakeController();
    ASSERT_EQ(port.get(), c.ComPort()) << "the owner's port is the default";
    Lamp(c, TLightSet::CTS);
    c.SetWatching(true);
    EXPECT_THROW(c.SetComPort(nullptr), EPortNotAssigned);
    EXPECT_FALSE(c.Watching());
    port->OnTriggerStatus()(*port, 1);
    EXPECT_EQ(1, portCalls);
}

TEST_F(ControllerFixture, ErrorLampStaysLitForErrorOffTimeoutAndASecondErrorDoesNotExtendIt) {
    MakeOpenFakePort();
    auto& c = MakeController();
    auto* error = Lamp(c, TLightSet::ERROR);
    // Lamp changes as seen after each of the controller's handlers, with their times.
    std::vector<std::pair<bool, Clock::time_point>> changes;
    bool last = false;
    auto record = [&](TVaxoCustomComPort&, std::uint16_t) {
        if (error->Lit() != last) {
            last = error->Lit();
            changes.emplace_back(last, Clock::now());
        }
    };
    port->SetOnTriggerStatus(record);
    port->SetOnTriggerTimer(record);
    c.SetWatching(true);
    EXPECT_FALSE(error->Lit());

    const auto firstError = Clock::now();
    AddParityError();
    ASSERT_TRUE(PumpUntil([&] { return !changes.empty(); }));
    ASSERT_TRUE(changes[0].first);
    EXPECT_EQ(0, port->PendingLineError()) << "the controller takes the error it shows";

    // A second error a second later, while the lamp is lit.
    (void)PumpUntil([&] { return MsSince(changes[0].second, Clock::now()) >= 1000; }, 3000);
    const auto secondError = Clock::now();
    AddFramingError();
    ASSERT_TRUE(PumpUntil([&] { return changes.size() >= 2; }));
    ASSERT_FALSE(changes[1].first);
    const auto litFor = MsSince(firstError, changes[1].second);
    EXPECT_GE(litFor, 35 * kTickMs) << "lit for 36 ticks";
    EXPECT_LT(MsSince(secondError, changes[1].second), 35 * kTickMs)
        << "the second error did not restart the off timer";

    // The second error was kept by the port: it is shown once the lamp has gone off.
    ASSERT_TRUE(PumpUntil([&] { return changes.size() >= 4; }));
    EXPECT_TRUE(changes[2].first);
    EXPECT_FALSE(changes[3].first);
    EXPECT_FALSE(error->Lit());

    // The error trigger is armed again: a later error lights the lamp again.
    AddParityError();
    ASSERT_TRUE(PumpUntil([&] { return error->Lit(); }));
}

TEST_F(ControllerFixture, RxdLampStaysLitWhileInputWaitsAndGoesOffAtTheFirstCheckAfterReading) {
    test::PtyPair pty;
    MakePort(pty.SlavePath());
    port->SetOpen(true);
    auto& c = MakeController();
    auto* rxd = Lamp(c, TLightSet::RXD);
    int availCalls = 0;
    port->SetOnTriggerAvail([&](TVaxoCustomComPort&, std::uint16_t) { ++availCalls; });
    int checks = 0;
    port->SetOnTriggerTimer([&](TVaxoCustomComPort&, std::uint16_t) { ++checks; });
    c.SetWatching(true);

    pty.Write("abc");
    ASSERT_TRUE(PumpUntil([&] { return rxd->Lit(); }));
    EXPECT_GE(availCalls, 1) << "the port's own availability handler is still called";

    // Several off checks pass while the bytes wait unread.
    ASSERT_TRUE(PumpUntil([&] { return checks >= 5; }));
    EXPECT_TRUE(rxd->Lit());
    ASSERT_EQ(3, port->InputCount());

    char buffer[3];
    port->ReadBlock(buffer, sizeof buffer);
    const int checksAtRead = checks;
    ASSERT_TRUE(PumpUntil([&] { return !rxd->Lit(); }));
    EXPECT_EQ(checksAtRead + 1, checks) << "off at the first check after reading";

    // Lit again by new input.
    pty.Write("d");
    EXPECT_TRUE(PumpUntil([&] { return rxd->Lit(); }));
}

TEST_F(ControllerFixture, ModemLampsFollowTheLines) {
    MakeFakePort();
    SetModem(msDsrOn);
    port->SetOpen(true);
    ASSERT_TRUE(PumpUntil([&] { return port->DsrSignal(); }));
    auto& c = MakeController();
    auto* cts = Lamp(c, TLightSet::CTS);
    auto* dsr = Lamp(c, TLightSet::DSR);
    auto* dcd = Lamp(c, TLightSet::DCD);
    c.SetWatching(true);
    EXPECT_EQ(0x10 | 0x20 | 0x80, c.ModemMask());
    // Watching starts from the lines as they are.
    EXPECT_FALSE(cts->Lit());
    EXPECT_TRUE(dsr->Lit());
    EXPECT_FALSE(dcd->Lit());

    SetModem(msCtsOn | msDcdOn);
    ASSERT_TRUE(PumpUntil([&] { return cts->Lit() && dcd->Lit() && !dsr->Lit(); }));

    // The modem trigger is armed again after each change.
    SetModem(msDsrOn);
    ASSERT_TRUE(PumpUntil([&] { return !cts->Lit() && !dcd->Lit() && dsr->Lit(); }));

    c.SetWatching(false);
    EXPECT_FALSE(cts->Lit() || dsr->Lit() || dcd->Lit()) << "lamps go out when watching stops";
}

TEST_F(ControllerFixture, BreakRingAndTxdLampsLightAndGoOutAfterTheirTimeouts) {
    MakeOpenFakePort();
    auto& c = MakeController();
    auto* brk = Lamp(c, TLightSet::BREAK);
    auto* ring = Lamp(c, TLightSet::RING);
    auto* txd = Lamp(c, TLightSet::TXD);
    c.SetBreakOffTimeout(2);
    c.SetRingOffTimeout(2);
    c.SetWatching(true);
    EXPECT_EQ(0x04, c.ModemMask());

    {
        std::lock_guard lock(device->lock);
        ++device->counts.brk;
    }
    ASSERT_TRUE(PumpUntil([&] { return brk->Lit(); }));
    EXPECT_FALSE(port->PendingBreak()) << "the controller takes the break it shows";
    ASSERT_TRUE(PumpUntil([&] { return !brk->Lit(); }));

    SetModem(msRingOn);
    ASSERT_TRUE(PumpUntil([&] { return ring->Lit(); }));
    ASSERT_TRUE(PumpUntil([&] { return !ring->Lit(); }));

    port->WriteText("hello");
    ASSERT_TRUE(PumpUntil([&] { return txd->Lit(); }));
    ASSERT_TRUE(PumpUntil([&] { return !txd->Lit(); }));
    // The TXD trigger is armed again when the lamp goes out.
    port->WriteText("again");
    EXPECT_TRUE(PumpUntil([&] { return txd->Lit(); }));
}

TEST_F(ControllerFixture, WhileLoadingWatchingIsLeftAloneAndTheEndLinksToThePort) {
    MakeFakePort();
    TVaxoSLController c;
    Lamp(c, TLightSet::CTS);
    c.BeginLoading();
    c.SetComPort(port.get());
    c.SetWatching(true);
    EXPECT_FALSE(c.ResumeOnOpen());
    c.EndLoading();
    c.SetWatching(true);
    EXPECT_TRUE(c.ResumeOnOpen());
    port->SetOpen(true);
    EXPECT_TRUE(c.Watching()) << "the open announcement reached the controller";

    // A controller destroyed while its owner loads still gives the port its events back.
    c.SetWatching(false);
    GivePortAHandler();
    {
        TVaxoSLController gone;
        Lamp(gone, TLightSet::CTS);
        gone.SetComPort(port.get());
        gone.SetWatching(true);
        gone.BeginLoading();
    }
    port->OnTriggerStatus()(*port, 1);
    EXPECT_EQ(1, portCalls);
}

TEST_F(ControllerFixture, WatchingAskedForOnAClosedPortStartsWhenItOpens) {
    MakeFakePort();
    SetModem(msCtsOn);
    auto& c = MakeController();
    auto* cts = Lamp(c, TLightSet::CTS);
    c.SetWatching(true);
    EXPECT_FALSE(c.Watching());
    EXPECT_TRUE(c.ResumeOnOpen());
    EXPECT_FALSE(cts->Lit());
    EXPECT_FALSE(port->OnTriggerStatus()) << "the port's events are not taken yet";

    port->SetOpen(true);
    EXPECT_TRUE(c.Watching());
    EXPECT_FALSE(c.ResumeOnOpen());
    ASSERT_TRUE(PumpUntil([&] { return cts->Lit(); }));

    // Switching off while the port is closed cancels the pending start.
    port->SetOpen(false);
    c.SetWatching(false);
    EXPECT_FALSE(c.ResumeOnOpen());
    port->SetOpen(true);
    EXPECT_FALSE(c.Watching());
    EXPECT_FALSE(cts->Lit());
}

TEST_F(ControllerFixture, CloseAndReopenWhileWatchingResumesWithoutLeftoverTriggers) {
    MakeOpenFakePort();
    const std::size_t before = StatusTriggerCount();
    auto& c = MakeController();
    auto* cts = Lamp(c, TLightSet::CTS);
    Lamp(c, TLightSet::ERROR);
    Lamp(c, TLightSet::TXD);
    c.SetWatching(true);
    const std::size_t watching = StatusTriggerCount();
    EXPECT_EQ(before + 5, watching); // modem, error, error-off, TXD, TXD-off

    for (int round = 0; round < 3; ++round) {
        port->SetOpen(false);
        EXPECT_FALSE(c.Watching());
        EXPECT_TRUE(c.ResumeOnOpen());
        EXPECT_FALSE(cts->Lit());
        port->SetOpen(true);
        ASSERT_TRUE(c.Watching());
        EXPECT_EQ(watching, StatusTriggerCount()) << "round " << round;
    }

    SetModem(msCtsOn);
    ASSERT_TRUE(PumpUntil([&] { return cts->Lit(); }));
    c.SetWatching(false);
    EXPECT_EQ(before, StatusTriggerCount());
}

TEST_F(ControllerFixture, PortHandlerAssignedBeforeWatchingIsChainedAndPutBack) {
    MakeOpenFakePort();
    std::vector<std::uint16_t> seen;
    auto mine = [&seen](TVaxoCustomComPort&, std::uint16_t handle) { seen.push_back(handle); };
    port->SetOnTriggerStatus(mine);
    auto& c = MakeController();
    auto* cts = Lamp(c, TLightSet::CTS);
    c.SetWatching(true);
    EXPECT_EQ(nullptr, port->OnTriggerStatus().target<decltype(mine)>());

    // Two modem changes: the controller's trigger, seen by the chained handler each time.
    SetModem(msCtsOn);
    ASSERT_TRUE(PumpUntil([&] { return cts->Lit() && seen.size() == 1; }));
    SetModem(0);
    ASSERT_TRUE(PumpUntil([&] { return !cts->Lit() && seen.size() == 2; }));
    EXPECT_EQ(seen[0], seen[1]);

    // A trigger of another owner reaches it as well, untouched.
    const std::uint16_t other = port->NewStatusTrigger(skOutputUsed);
    port->ArmStatusTrigger(other, 0, true);
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 3; }));
    EXPECT_EQ(other, seen[2]);
    EXPECT_FALSE(cts->Lit());

    c.SetWatching(false);
    ASSERT_NE(nullptr, port->OnTriggerStatus().target<decltype(mine)>());
    EXPECT_FALSE(port->OnTriggerAvail());
    EXPECT_FALSE(port->OnTriggerTimer());
}

TEST_F(ControllerFixture, TwoControllersOnOnePortStopInEitherOrder) {
    MakeOpenFakePort();
    GivePortAHandler();
    auto& first = MakeController();
    auto& second = MakeController();
    auto* cts1 = Lamp(first, TLightSet::CTS);
    auto* cts2 = Lamp(second, TLightSet::CTS);
    first.SetWatching(true);
    second.SetWatching(true);

    // The first stops while the second, which took the events over after it, goes on.
    first.SetWatching(false);
    SetModem(msCtsOn);
    ASSERT_TRUE(PumpUntil([&] { return cts2->Lit() && portCalls == 1; }));
    EXPECT_FALSE(cts1->Lit());

    second.SetWatching(false);
    ASSERT_TRUE(PortHasItsHandler());

    // Started again, the first calls the port's handler once per event and not itself.
    first.SetWatching(true);
    EXPECT_TRUE(cts1->Lit());
    SetModem(0);
    ASSERT_TRUE(PumpUntil([&] { return !cts1->Lit() && portCalls == 2; }));
    first.SetWatching(false);
    EXPECT_TRUE(PortHasItsHandler());
}

TEST_F(ControllerFixture, DestroyedControllerLeavesThePortAndItsNeighbourIntact) {
    MakeOpenFakePort();
    GivePortAHandler();
    auto& kept = MakeController();
    auto* cts = Lamp(kept, TLightSet::CTS);
    kept.SetWatching(true);
    {
        TVaxoSLController gone(&owner);
        Lamp(gone, TLightSet::DSR);
        gone.SetWatching(true);
    }
    // The port's open/close routine still reaches the kept controller, and none other.
    port->SetOpen(false);
    EXPECT_TRUE(kept.ResumeOnOpen());
    port->SetOpen(true);
    ASSERT_TRUE(kept.Watching());
    SetModem(msCtsOn);
    ASSERT_TRUE(PumpUntil([&] { return cts->Lit() && portCalls == 1; }));

    kept.SetWatching(false);
    EXPECT_TRUE(PortHasItsHandler());
}

TEST_F(ControllerFixture, DestroyedPortAndLampAreForgotten) {
    MakeOpenFakePort();
    auto& c = MakeController();
    auto* cts = Lamp(c, TLightSet::CTS);
    Lamp(c, TLightSet::DSR);
    c.SetWatching(true);

    // A lamp destroyed while watching: the lines go on without it.
    lamps.pop_back();
    EXPECT_FALSE(c.Lights().Assigned(TLightSet::DSR));
    SetModem(msCtsOn | msDsrOn);
    ASSERT_TRUE(PumpUntil([&] { return cts->Lit(); }));

    port.reset();
    EXPECT_EQ(nullptr, c.ComPort());
    EXPECT_FALSE(c.Watching());
    EXPECT_FALSE(c.ResumeOnOpen());
    EXPECT_FALSE(cts->Lit());
    EXPECT_THROW(c.SetWatching(true), EPortNotAssigned);
}

} // namespace
} // namespace pellwick
