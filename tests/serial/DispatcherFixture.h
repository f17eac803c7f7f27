// Dispatchers opened on a device double or on a pseudo-terminal, for the engine's tests.
#pragma once

#include "SerialTestSupport.h"
#include "serial/TVaxoWin32Dispatcher.h"
#include "support/PtyPair.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace pellwick::test {

// Every dispatcher made while the fixture lives gets a FakeSerialDevice on `state`.
class FakeDeviceFixture : public ::testing::Test {
protected:
    // Before the members of fixtures made from this one go (a window it delivers to).
    void TearDown() override { dispatcher.reset(); }
    // Opens a dispatcher on the double at 19200 8N1.
    void Open(std::uint32_t inSize = 4096, std::uint32_t outSize = 100) {
        dispatcher = std::make_unique<TVaxoWin32Dispatcher>(nullptr);
        ASSERT_EQ(0, dispatcher->OpenDevice("/fake", 19200, 0, 8, 1, inSize, outSize, true, true));
    }
    void Feed(const std::string& bytes) { FakeSerialDevice::Feed(*state, bytes); }
    // Runs fn on the double's state under its lock and returns what fn returns.
    template <class Fn> auto OnDevice(Fn fn) {
        std::lock_guard lock(state->lock);
        return fn(*state);
    }
    std::vector<std::uint8_t> Written() {
        std::lock_guard lock(state->lock);
        return state->written;
    }

    std::shared_ptr<FakeSerialDevice::State> state = std::make_shared<FakeSerialDevice::State>();
    ScopedHook<TVaxoWin32Dispatcher::DeviceFactory> factory_{
        TVaxoWin32Dispatcher::DeviceFactoryHook(),
        [s = state] { return std::make_unique<FakeSerialDevice>(s); }};
    std::unique_ptr<TVaxoWin32Dispatcher> dispatcher;
};

// A dispatcher on the slave side of a pseudo-terminal; the test plays the device on the master.
class PtyFixture : public ::testing::Test {
protected:
    void OpenPty(std::uint32_t outSize = 16384) {
        dispatcher = std::make_unique<TVaxoWin32Dispatcher>(nullptr);
        ASSERT_EQ(
            0, dispatcher->OpenDevice(pty.SlavePath(), 19200, 0, 8, 1, 4096, outSize, true, true));
    }
    void TearDown() override {
        if (dispatcher) {
            dispatcher->CloseDevice();
            dispatcher.reset();
        }
    }

    PtyPair pty;
    std::unique_ptr<TVaxoWin32Dispatcher> dispatcher;
};

inline std::string Str(const std::vector<std::uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

// n letters counting up from first, round the alphabet.
inline std::string Bytes(std::uint32_t n, char first) {
    std::string s;
    for (std::uint32_t i = 0; i < n; ++i) {
        s += static_cast<char>(first + i % 26);
    }
    return s;
}

using Clock = std::chrono::steady_clock;

inline long long MsSince(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

} // namespace pellwick::test
