#include "support/LinePeer.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace pellwick {

namespace {

int MillisecondsLeft(LinePeer::Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - LinePeer::Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

} // namespace

LinePeer::~LinePeer() {
    Close();
}

bool LinePeer::Open(const std::string& path) {
    Close();
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        return false;
    }
    termios tio{};
    if (tcgetattr(fd_, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        tcsetattr(fd_, TCSANOW, &tio);
    }
    return true;
}

void LinePeer::Adopt(int fd) {
    Close();
    fd_ = fd;
}

void LinePeer::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    pending_.clear();
}

bool LinePeer::Write(std::string_view bytes, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!bytes.empty()) {
        const ssize_t n = write(fd_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        pollfd p{fd_, POLLOUT, 0};
        if (Clock::now() >= deadline || poll(&p, 1, MillisecondsLeft(deadline)) < 0) {
            return false;
        }
        if (p.revents & (POLLHUP | POLLERR)) {
            return false;
        }
    }
    return true;
}

bool LinePeer::Fill(Clock::time_point deadline) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, MillisecondsLeft(deadline));
    if (ready <= 0) {
        return ready == 0 || errno == EINTR;
    }
    char buffer[4096];
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n > 0) {
        pending_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    // Nothing to read although poll said so: the other side has hung up.
    return n < 0 && (errno == EAGAIN || errno == EINTR);
}

std::string LinePeer::ReadUntil(std::string_view ending, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (const auto at = pending_.find(ending); at != std::string::npos) {
            std::string out = pending_.substr(0, at + ending.size());
            pending_.erase(0, at + ending.size());
            return out;
        }
        if (Clock::now() >= deadline || !Fill(deadline)) {
            return std::exchange(pending_, {});
        }
    }
}

std::string LinePeer::ReadCount(std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (pending_.size() < count && Clock::now() < deadline && Fill(deadline)) {
    }
    std::string out = pending_.substr(0, count);
    pending_.erase(0, out.size());
    return out;
}

std::string LinePeer::ReadFor(std::chrono::milliseconds duration) {
    const auto deadline = Clock::now() + duration;
    while (Clock::now() < deadline && Fill(deadline)) {
    }
    return std::exchange(pending_, {});
}

bool LinePeer::WaitHangup(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, MillisecondsLeft(deadline)) > 0) {
            if (p.revents & (POLLHUP | POLLERR)) {
                return true;
            }
            char buffer[256];
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n < 0 && errno == EIO) {
                return true;
            }
        }
    }
    return false;
}

} // namespace pellwick
