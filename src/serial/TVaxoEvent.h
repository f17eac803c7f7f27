// A waitable event on an eventfd, in the two flavours the dispatcher's workers hand over with:
// auto-reset (a successful wait consumes the signal) and manual-reset (stays signalled until
// Reset). Because each event is a file descriptor, a worker can wait on events and on the
// serial device in one poll() call.
#pragma once

#include <chrono>

namespace pellwick {

class TVaxoEvent {
public:
    explicit TVaxoEvent(bool manualReset);
    ~TVaxoEvent();
    TVaxoEvent(const TVaxoEvent&) = delete;
    TVaxoEvent& operator=(const TVaxoEvent&) = delete;

    void Set();
    void Reset();
    // Waits up to timeoutMs (negative: without limit). True when the event was signalled.
    bool Wait(int timeoutMs);
    // Waits for either event; 0 or 1 names the one that was signalled (and, if auto-reset,
    // consumed), -1 means the time ran out.
    static int WaitAny(TVaxoEvent& first, TVaxoEvent& second, int timeoutMs);

    int Fd() const { return fd_; }
    bool ManualReset() const { return manual_; }
    // Takes the signal of an auto-reset event after poll() reported it readable; false when
    // another waiter took it first.
    bool Consume();

private:
    int fd_;
    bool manual_;
};

// Milliseconds left until a deadline, for poll() time-outs; -1 stands for "no deadline".
int RemainingMs(std::chrono::steady_clock::time_point deadline);

} // namespace pellwick
