// What the network device and its thread share: the connection's state, the commands handed to
// the thread and the thread's entry. Only NetworkSerialDevice.cpp and NetworkSession.cpp see it.
#pragma once

#include "serial/NetworkSerialDevice.h"
#include "serial/portmap/NetworkAddress.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>

namespace pellwick {

// How long a setting, line change or output purge waits for the device's thread to take it.
constexpr std::chrono::milliseconds kCommandWait{1000};

struct NetworkSerialDevice::Link {
    enum class CommandKind { Line, Dtr, Rts, Break, PurgeOutput };
    struct Command {
        CommandKind kind;
        LineBlock line;
        bool on = false;
    };

    NetworkAddress address;
    std::string text; // the address as given
    int peerFd = -1;  // the thread's end of the socket pair; the thread closes it
    int wakeFd = -1;

    std::mutex lock;
    std::condition_variable changed;
    enum class Phase { Connecting, Open, Failed, Ended };
    Phase phase = Phase::Connecting;
    DeviceResult failure;
    std::string failureText;
    std::deque<Command> commands;
    std::uint64_t posted = 0;  // commands queued so far
    std::uint64_t applied = 0; // of those, the ones the thread has handed to the server
    bool stop = false;

    std::atomic<std::uint8_t> modem{0};
    std::atomic<std::uint32_t> overrun{0}, parity{0}, frame{0}, brk{0};

    ~Link() {
        if (wakeFd >= 0) {
            close(wakeFd);
        }
    }
    void Wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = write(wakeFd, &one, sizeof one);
    }
    // Hands a command to the device's thread and waits until the thread has carried it out
    // (or has ended), so that what is written after it follows it: an output purge then
    // cannot throw away the next command, nor a line setting come after the bytes it is for.
    void Post(Command command) {
        std::unique_lock guard(lock);
        commands.push_back(command);
        const std::uint64_t ticket = ++posted;
        guard.unlock();
        Wake();
        guard.lock();
        changed.wait_for(guard, kCommandWait, [&] {
            return applied >= ticket || phase == Phase::Ended || phase == Phase::Failed;
        });
    }
    void SetPhase(Phase next, DeviceResult result = {}, std::string why = {}) {
        {
            std::lock_guard guard(lock);
            phase = next;
            if (!result.Ok()) {
                failure = result;
                failureText = std::move(why);
            }
        }
        changed.notify_all();
    }
};

// The device's thread: connects, then carries the bytes and the commands until the link ends.
void RunNetworkSession(std::shared_ptr<NetworkSerialDevice::Link> link);

} // namespace pellwick
