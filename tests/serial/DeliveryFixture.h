// Dispatchers with a stand-in GUI window attached the way the port component attaches its own
// notification window, so that every trigger notification is delivered to a handler.
#pragma once

#include "DispatcherFixture.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pellwick::test {

inline std::uint32_t Extra(const Notification& n) {
    return n.lParam & 0xFFFF;
}

inline std::size_t CountOf(const std::vector<Notification>& list, std::uint32_t msg,
                           std::uint32_t wParam) {
    std::size_t count = 0;
    for (const auto& n : list) {
        count += (n.msg == msg && n.wParam == wParam) ? 1 : 0;
    }
    return count;
}

// Attaches `gui` as the port's own window does: first in the list, port handler installed.
inline void AttachAsPort(TVaxoBaseDispatcher& d, FakeGuiWindow& gui) {
    d.AttachWindowHandler(&gui);
    d.RecountHandlers(1);
}

// Declared after the locals a handler captures: on leaving the test (also by a failed
// assertion) no handler runs any more, and none is still running.
class HandlersEnd {
public:
    explicit HandlersEnd(FakeGuiWindow& gui) : gui_(gui) {}
    ~HandlersEnd() {
        gui_.SetHandler(nullptr);
        gui_.RunOnGui([] {});
    }
    HandlersEnd(const HandlersEnd&) = delete;
    HandlersEnd& operator=(const HandlersEnd&) = delete;

private:
    FakeGuiWindow& gui_;
};

// A window's handler that takes what each availability notice announces, as the terminal does;
// the bytes taken so far in got, their count in taken for the test thread to wait on.
struct InputTaker {
    std::vector<std::uint8_t> got;
    std::atomic<std::size_t> taken{0};
    std::uint32_t largest = 0; // the largest notice

    std::function<void(const Notification&)> For(TVaxoBaseDispatcher& d) {
        return [this, &d](const Notification& n) {
            if (n.msg != MsgTriggerAvail) {
                return;
            }
            std::vector<std::uint8_t> chunk(n.wParam);
            ASSERT_EQ(static_cast<int>(n.wParam), d.TakeBlock(chunk.data(), n.wParam));
            got.insert(got.end(), chunk.begin(), chunk.end());
            largest = std::max(largest, n.wParam);
            taken = got.size();
        };
    }
};

class PtyDeliveryFixture : public PtyFixture {
protected:
    void OpenAttached(std::uint32_t outSize = 16384) {
        OpenPty(outSize);
        AttachAsPort(*dispatcher, gui);
    }
    // Writes marker bytes that a trigger for "#" answers, and waits until that notification
    // has run: all notifications for bytes written before it have run by then.
    void Sync() {
        if (syncHandle_ == 0) {
            syncHandle_ =
                static_cast<std::uint32_t>(dispatcher->AddDataMatchTrigger("#", 1, false));
        }
        std::size_t before = CountOf(gui.Received(), MsgTriggerData, syncHandle_);
        pty.Write("#");
        ASSERT_TRUE(WaitUntil(
            [&] { return CountOf(gui.Received(), MsgTriggerData, syncHandle_) > before; }, 10000));
    }
    std::size_t DataCount(int handle) {
        return CountOf(gui.Received(), MsgTriggerData, static_cast<std::uint32_t>(handle));
    }

    FakeGuiWindow gui;

private:
    std::uint32_t syncHandle_ = 0;
};

class FakeDeliveryFixture : public FakeDeviceFixture {
protected:
    void OpenAttached(std::uint32_t inSize = 4096, std::uint32_t outSize = 100) {
        Open(inSize, outSize);
        AttachAsPort(*dispatcher, gui);
    }
    void SetGate(bool open) {
        OnDevice([open](auto& s) { s.writeGate = open; });
    }
    std::size_t StatusCount(int handle) {
        return CountOf(gui.Received(), MsgTriggerStatus, static_cast<std::uint32_t>(handle));
    }
    // Arms a timer for two ticks and waits until its notification has been delivered: the
    // worker has looked at the status triggers meanwhile.
    void LetTwoTicksPass() {
        if (probe_ == 0) {
            probe_ = static_cast<std::uint32_t>(dispatcher->AddTickTrigger());
        }
        const std::size_t before = gui.Count(MsgTriggerTimer);
        ASSERT_EQ(0, dispatcher->ArmTickTrigger(probe_, 2, true));
        ASSERT_TRUE(WaitUntil([&] { return gui.Count(MsgTriggerTimer) > before; }));
    }

    FakeGuiWindow gui;

private:
    std::uint32_t probe_ = 0;
};

} // namespace pellwick::test
