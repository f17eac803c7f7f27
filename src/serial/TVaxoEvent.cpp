#include "serial/TVaxoEvent.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace pellwick {

TVaxoEvent::TVaxoEvent(bool manualReset)
    : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), manual_(manualReset) {
    if (fd_ < 0) {
        throw std::runtime_error("cannot create an event");
    }
}

TVaxoEvent::~TVaxoEvent() {
    close(fd_);
}

void TVaxoEvent::Set() {
    std::uint64_t one = 1;
    // A full counter (never reached in practice) still leaves the event signalled.
    while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TVaxoEvent::Reset() {
    Consume();
}

bool TVaxoEvent::Consume() {
    std::uint64_t value = 0;
    for (;;) {
        if (read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value)) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    if (deadline == std::chrono::steady_clock::time_point::max()) {
        return -1;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    return left < 0 ? 0 : static_cast<int>(left + 1);
}

namespace {

std::chrono::steady_clock::time_point DeadlineAfter(int timeoutMs) {
    return timeoutMs < 0 ? std::chrono::steady_clock::time_point::max()
                         : std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
}

// Takes the signal of a readable event: a manual-reset event stays set, an auto-reset one is
// consumed (and may have been taken by a competing waiter).
bool Take(TVaxoEvent& event) {
    return event.ManualReset() || event.Consume();
}

} // namespace

bool TVaxoEvent::Wait(int timeoutMs) {
    auto deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        int left = RemainingMs(deadline);
        int n = poll(&p, 1, left);
        if (n > 0 && Take(*this)) {
            return true;
        }
        if (n < 0 && errno != EINTR) {
            return false;
        }
        if (left == 0) {
            return false;
        }
    }
}

int TVaxoEvent::WaitAny(TVaxoEvent& first, TVaxoEvent& second, int timeoutMs) {
    auto deadline = DeadlineAfter(timeoutMs);
    for (;;) {
        pollfd p[2] = {{first.fd_, POLLIN, 0}, {second.fd_, POLLIN, 0}};
        int left = RemainingMs(deadline);
        int n = poll(p, 2, left);
        if (n > 0) {
            if ((p[0].revents & POLLIN) && Take(first)) {
                return 0;
            }
            if ((p[1].revents & POLLIN) && Take(second)) {
                return 1;
            }
        }
        if (n < 0 && errno != EINTR) {
            return -1;
        }
        if (left == 0) {
            return -1;
        }
    }
}

} // namespace pellwick
