// What the soaks cannot show of the virtual device port: when its triggers fire, how its two
// drivers hold and tell their output, and that the line keeps its rate.
#include "support/VirtualDevicePort.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pellwick::test {
namespace {

using namespace std::chrono_literals;

class VirtualPortTest : public testing::Test {
protected:
    void Make(DriverKind driver, DeviceConfig config = {}) {
        port = std::make_unique<VirtualDevicePort>(clock, driver);
        LinkPortHandlers handlers;
        handlers.OutbuffFree = [this] { events.push_back("room"); };
        handlers.OutbuffUsed = [this] { events.push_back("drain"); };
        handlers.TriggerData = [this](std::uint16_t handle) {
            events.push_back(handle == prompt ? "prompt" : "error");
        };
        port->SetHandlers(handlers);
        port->SetBaud(9600); // 960 bytes a second
        port->PlugIn(config);
        port->SetOpen(true);
    }

    VirtualClock clock;
    std::unique_ptr<VirtualDevicePort> port;
    std::vector<std::string> events;
    std::uint16_t prompt = 0;
};

TEST_F(VirtualPortTest, StatusTriggersFireOncePerArmingInALaterEvent) {
    Make(DriverKind::Uart);
    const auto room = port->NewStatusTrigger(3);
    const auto drain = port->NewStatusTrigger(4);
    port->ArmStatusTrigger(room, 10, true);
    port->ArmStatusTrigger(drain, 0, true);
    EXPECT_TRUE(events.empty());
    clock.Advance(200ms);
    EXPECT_EQ(events, (std::vector<std::string>{"room", "drain"}));
    clock.Advance(200ms);
    EXPECT_EQ(events.size(), 2u) << "fired again without a new arming";
}

TEST_F(VirtualPortTest, DataTriggersWaitUntilInputArrivesAfterAnInputWait) {
    DeviceConfig config;
    config.prompt = "a[";
    config.commands = {{"X", "", false}};
    Make(DriverKind::Uart, config);
    prompt = port->NewTextTrigger("A[", true);
    port->WriteText("X\r");
    clock.Advance(100ms);
    EXPECT_EQ(events, (std::vector<std::string>{"prompt"}));
    port->DiscardInput();
    // During a wait the answer goes to the wait only; it is scanned with the next arrival.
    events.clear();
    port->BeginInputWait();
    port->WriteText("X\r");
    clock.Advance(100ms);
    std::string taken;
    EXPECT_EQ(port->TakeWaitingInput([&](char c) {
        taken += c;
        return c == '[';
    }),
              InputLook::Done);
    port->EndInputWait();
    EXPECT_EQ(taken, "a[");
    EXPECT_TRUE(events.empty());
    port->WriteText("X\r");
    clock.Advance(100ms);
    EXPECT_EQ(events, (std::vector<std::string>{"prompt", "prompt"}));
}

TEST_F(VirtualPortTest, DriversHoldAndTellAsTheirKind) {
    struct Case {
        DriverKind driver;
        DeviceConfig config;
        bool ctsLow;
        std::int32_t told;    // the driver's count while it holds the output
        std::size_t received; // what the device has read after a second
    };
    const std::string block(6000, 'b'); // no command: the device reads it as one long line
    DeviceConfig stalled;
    stalled.stallAfter = 100;
    const Case cases[] = {
        {DriverKind::Uart, {}, false, VirtualDevicePort::UartHolds, 960},
        {DriverKind::Uart, {}, true, VirtualDevicePort::UartHolds, 0},
        {DriverKind::PseudoTerminal, {}, false, -1, 960},
        {DriverKind::PseudoTerminal, stalled, false, -1, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(&c - cases));
        Make(c.driver, c.config);
        port->SetHWFlowOptions(8);
        port->SetCts(!c.ctsLow);
        port->SetOutSize(8192);
        port->WriteBlock(block.data(), static_cast<std::uint16_t>(block.size()));
        clock.Advance(1s);
        EXPECT_EQ(port->DriverOutputCount(), c.told);
        EXPECT_EQ(port->DeviceReceived(), c.received);
        EXPECT_EQ(port->OutputHanded(),
                  c.driver == DriverKind::Uart ? c.received + c.told : block.size());
    }
}

} // namespace
} // namespace pellwick::test
