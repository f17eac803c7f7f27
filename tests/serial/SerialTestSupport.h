// Test support for the serial engine: a stand-in for the GUI thread that plays the
// notification window, a scriptable device double, and condition waits.
#pragma once

#include "serial/ISerialDevice.h"
#include "serial/NotificationWindow.h"
#include "support/WaitUntil.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pellwick::test {

struct Notification {
    std::uint32_t msg;
    std::uint32_t wParam;
    std::uint32_t lParam;
};

// Plays a notification window on its own "GUI" thread: notifications are handled one at a
// time, in order, by the handler the test installs, and recorded.
class FakeGuiWindow : public INotificationWindow {
public:
    FakeGuiWindow();
    ~FakeGuiWindow() override;

    void PostNotification(std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam,
                          std::shared_ptr<DeliveryToken> token) override;
    // Runs on the GUI thread for each notification; it may call any dispatcher operation.
    void SetHandler(std::function<void(const Notification&)> handler);
    // Runs fn on the GUI thread and waits for it.
    void RunOnGui(const std::function<void()>& fn);
    // Queues fn for the GUI thread without waiting (to keep the GUI thread busy).
    void Post(std::function<void()> fn);
    std::vector<Notification> Received();
    std::size_t Count(std::uint32_t msg);
    void ClearReceived();

private:
    void Loop();

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::vector<Notification> received_;
    std::function<void(const Notification&)> handler_;
    bool stop_ = false;
    std::thread thread_;
};

// A device double: input, output, modem lines and line errors are all in the test's hands.
class FakeSerialDevice : public ISerialDevice {
public:
    struct State {
        std::mutex lock;
        std::deque<std::uint8_t> input;
        std::vector<std::uint8_t> written;
        bool writeGate = true;               // false: the device takes no output
        long allowance = -1;                 // bytes the device still takes; -1: any number
        std::vector<std::size_t> writeSizes; // the size of every write that took bytes
        std::uint8_t modem = 0;
        LineErrorCounts counts;
        int setLineCalls = 0;
        LineBlock line;
        bool dtr = false, rts = false;
        std::vector<std::size_t> breaks; // for each break: the bytes written before it
        int fd = -1;   // the device's descriptor: readable exactly while input waits
        int peer = -1; // the other end, written to make it readable
    };

    explicit FakeSerialDevice(std::shared_ptr<State> state);
    ~FakeSerialDevice() override;

    PELLWICK_SERIAL_DEVICE_OPERATIONS;
    bool IsOpen() const override { return open_; }
    int Fd() const override { return fd_; }

    // Adds input and makes the device readable.
    static void Feed(State& state, const std::string& bytes);

private:
    static void Sync(State& state);
    // Called with the state's lock held; returns the bytes taken.
    std::size_t TakeOutput(const std::uint8_t* data, std::size_t count);

    std::shared_ptr<State> state_;
    std::atomic<bool> open_{false};
    int fd_ = -1;
};

} // namespace pellwick::test
