// A terminal control on the real port component, whose COM1 is a pseudo-terminal: the test
// plays the device on the master side. Waits keep the event loop running, because the
// dispatcher's notifications are handled on this (the GUI) thread.
#pragma once

#include "serial/TVaxoCustomComPort.h"
#include "serial/portmap/PortMap.h"
#include "support/PtyPair.h"
#include "support/PumpUntil.h"
#include "terminal/TBuffer.h"

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pellwick::test {

inline std::string Str(const std::vector<std::uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

// The characters of one buffer row without trailing blanks.
inline std::string RowText(const TBuffer& b, int row) {
    std::string s;
    for (int c = 0; c < b.Columns(); ++c) {
        s += static_cast<char>(b.CharAt(c, row));
    }
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

class TerminalPtyFixture : public ::testing::Test {
protected:
    void SetUp() override {
        port = std::make_unique<TVaxoComPort>();
        port->SetComNumber(1);
        port->SetAutoOpen(false);
        port->SetPromptForPort(false);
    }
    void TearDown() override {
        if (port) {
            port->SetOpen(false);
            PumpUntil([&] { return port->PortState() == TVaxoCustomComPort::State::Closed; });
        }
    }
    void OpenPort() {
        port->SetOpen(true);
        ASSERT_EQ(TVaxoCustomComPort::State::Open, port->PortState());
    }
    void ClosePort() {
        port->SetOpen(false);
        ASSERT_TRUE(
            PumpUntil([&] { return port->PortState() == TVaxoCustomComPort::State::Closed; }));
    }

    PtyPair pty;
    PtyPair pty2;
    ScopedHook<std::shared_ptr<const PortMap>> portMap_{
        PortMap::GlobalHook(), std::make_shared<PortMap>(std::map<int, std::string>{
                                   {1, pty.SlavePath()}, {2, pty2.SlavePath()}})};
    std::unique_ptr<TVaxoComPort> port;
};

} // namespace pellwick::test
