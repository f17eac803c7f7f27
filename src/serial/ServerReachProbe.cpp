#include "serial/ServerReachProbe.h"

#include "serial/portmap/NetworkAddress.h"

#include <algorithm>
#include <cerrno>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace pellwick {

struct ServerReachProbe::Shared {
    NetworkAddress address;
    std::chrono::milliseconds timeout{0};
    int cancelFd = -1;  // set by Stop
    int reachedFd = -1; // set by the thread
    std::atomic<bool> reached{false};
    std::thread thread;

    ~Shared() {
        for (int fd : {cancelFd, reachedFd}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

    // Sleeps up to wait; false when cancelled.
    bool Pause(std::chrono::milliseconds wait) const {
        pollfd p{cancelFd, POLLIN, 0};
        while (poll(&p, 1, static_cast<int>(wait.count())) < 0 && errno == EINTR) {
        }
        return (p.revents & POLLIN) == 0;
    }

    // One try at every address the host has; true when one accepted.
    bool TryConnect() const {
        addrinfo hints{};
        hints.ai_family = address.ipv6 ? AF_INET6 : AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints,
                        &found) != 0) {
            return false;
        }
        bool accepted = false;
        for (addrinfo* a = found; a && !accepted; a = a->ai_next) {
            const int fd =
                socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
            if (fd < 0) {
                continue;
            }
            if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
                accepted = true;
            } else if (errno == EINPROGRESS) {
                pollfd p[2] = {{fd, POLLOUT, 0}, {cancelFd, POLLIN, 0}};
                int n;
                while ((n = poll(p, 2, static_cast<int>(timeout.count()))) < 0 && errno == EINTR) {
                }
                int error = 0;
                socklen_t length = sizeof error;
                accepted = n > 0 && (p[0].revents & POLLOUT) &&
                           getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
            }
            close(fd);
        }
        freeaddrinfo(found);
        return accepted;
    }

    void Run() {
        std::chrono::milliseconds pause = FirstPause;
        while (!TryConnect()) {
            if (!Pause(pause)) {
                return;
            }
            pause = std::min(pause * 2, std::chrono::milliseconds(MaxPause));
        }
        reached = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = write(reachedFd, &one, sizeof one);
    }
};

ServerReachProbe::~ServerReachProbe() {
    Stop();
}

bool ServerReachProbe::Start(const std::string& address, std::chrono::milliseconds connectTimeout,
                             std::string& error) {
    Stop();
    std::string why;
    const auto parsed = ParseNetworkAddress(address, why);
    if (!parsed) {
        error = address + ": " + why;
        return false;
    }
    auto shared = std::make_shared<Shared>();
    shared->address = *parsed;
    shared->timeout = connectTimeout;
    shared->cancelFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    shared->reachedFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (shared->cancelFd < 0 || shared->reachedFd < 0) {
        error = "cannot wait for " + address + ": " + std::system_category().message(errno);
        return false;
    }
    try {
        Shared* raw = shared.get();
        shared->thread = std::thread([raw] { raw->Run(); });
    } catch (const std::system_error& e) {
        error = "cannot wait for " + address + ": " + e.what();
        return false;
    }
    shared_ = std::move(shared);
    return true;
}

void ServerReachProbe::Stop() {
    if (!shared_) {
        return;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = write(shared_->cancelFd, &one, sizeof one);
    // A try in the name server's hands is not cut short; the others end at the cancel.
    shared_->thread.join();
    shared_.reset();
}

int ServerReachProbe::Fd() const {
    return shared_ ? shared_->reachedFd : -1;
}

bool ServerReachProbe::Reached() const {
    return shared_ && shared_->reached.load();
}

} // namespace pellwick
