#include "serial/NetworkSerialDevice.h"
#include "serial/NetworkLink.h"

#include "serial/DeviceNotice.h"
#include "serial/errors/OpenFailure.h"
#include "serial/portmap/NetworkAddress.h"
#include "serial/portmap/PortMap.h"

#include <gensio/gensio.h>
#include <gensio/gensio_os_funcs_public.h>
#include <gensio/gensio_unix.h>
#include <gensio/selector.h>
#include <gensio/sergensio.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pellwick {

namespace {

using Command = NetworkSerialDevice::Link::Command;
using CommandKind = NetworkSerialDevice::Link::CommandKind;

// The dispatcher's socket end takes little, so that what waits here for the network stays
// small beside WindowBytes.
constexpr int kLocalSendBuffer = 4096;
// How long Close waits for the device's thread to let go of the connection.
constexpr std::chrono::milliseconds kCloseWait{3000};

DeviceResult NoteFailure(const std::string& line, DeviceResult result) {
    NoteOpenFailure(line);
    return result;
}

} // namespace

std::string NetworkSerialDevice::LineNote(const std::string& address) {
    std::string why;
    const auto parsed = ParseNetworkAddress(address, why);
    if (!parsed || parsed->kind != NetworkAddress::Kind::RawTcp) {
        return {};
    }
    return address +
           " carries the bytes only: the baud rate, data bits, parity, stop bits, flow control, "
           "DTR, RTS and break set here cannot reach the device; they are the server's (use "
           "rfc2217:// where the server speaks RFC 2217)";
}

NetworkSerialDevice::~NetworkSerialDevice() {
    Close();
}

DeviceResult NetworkSerialDevice::Probe(const std::string& address) {
    std::string why;
    return ParseNetworkAddress(address, why) ? DeviceResult()
                                             : DeviceResult(DeviceError::NotFound, 0);
}

DeviceResult NetworkSerialDevice::Open(const std::string& address) {
    Close();
    ClearOpenFailure();
    std::string why;
    const std::optional<NetworkAddress> parsed = ParseNetworkAddress(address, why);
    if (!parsed) {
        return NoteFailure(address + ": " + why, {DeviceError::NotFound, 0});
    }
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
        return NoteFailure(DescribeOpenFailure(address, errno), DeviceResult::FromErrno(errno));
    }
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &kLocalSendBuffer, sizeof kLocalSendBuffer);
    auto link = std::make_shared<Link>();
    link->address = *parsed;
    link->text = address;
    link->peerFd = fds[1];
    link->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (link->wakeFd < 0) {
        const int err = errno;
        close(fds[0]);
        close(fds[1]);
        return NoteFailure(DescribeOpenFailure(address, err), DeviceResult::FromErrno(err));
    }
    const auto map = PortMap::Global();
    const std::chrono::milliseconds timeout =
        map ? map->ConnectTimeout() : std::chrono::milliseconds(PortMap::DefaultConnectTimeout);
    // The thread keeps the link: one that a slow name server holds past the time-out ends by
    // itself later.
    try {
        std::thread([link] { RunNetworkSession(link); }).detach();
    } catch (const std::system_error& e) {
        close(fds[0]);
        close(fds[1]);
        link->peerFd = -1;
        return NoteFailure(address + ": " + e.what(), {DeviceError::Failed, EAGAIN});
    }
    std::unique_lock guard(link->lock);
    const bool settled = link->changed.wait_for(
        guard, timeout, [&] { return link->phase != Link::Phase::Connecting; });
    if (!settled || link->phase != Link::Phase::Open) {
        DeviceResult result = link->failure;
        std::string text = link->failureText;
        if (!settled) {
            link->stop = true;
            result = {DeviceError::Failed, ETIMEDOUT};
            text = address + ": no answer within " +
                   std::to_string((timeout.count() + 999) / 1000) +
                   " s (is the server running and reachable" +
                   (parsed->kind == NetworkAddress::Kind::Rfc2217
                        ? std::string(", and does it speak RFC 2217?)")
                        : std::string("?)"));
        }
        guard.unlock();
        link->Wake();
        close(fds[0]);
        return NoteFailure(text, result);
    }
    guard.unlock();
    link_ = std::move(link);
    dataFd_ = fds[0];
    rfc2217_ = parsed->kind == NetworkAddress::Kind::Rfc2217;
    std::lock_guard shadow(shadowLock_);
    // What the server's line uses is not known: the first setting goes out whatever it is.
    shadow_ = LineBlock{};
    shadow_.baud = 0;
    return {};
}

void NetworkSerialDevice::Close() {
    if (!link_) {
        return;
    }
    {
        std::lock_guard guard(link_->lock);
        link_->stop = true;
    }
    link_->Wake();
    {
        std::unique_lock guard(link_->lock);
        link_->changed.wait_for(guard, kCloseWait,
                                [this] { return link_->phase == Link::Phase::Ended; });
    }
    close(dataFd_);
    dataFd_ = -1;
    link_.reset();
}

DeviceResult NetworkSerialDevice::GetLine(LineBlock& block) {
    if (!link_) {
        return DeviceResult::FromErrno(EBADF);
    }
    std::lock_guard guard(shadowLock_);
    block = shadow_;
    return {};
}

DeviceResult NetworkSerialDevice::SetLine(const LineBlock& block) {
    if (!link_) {
        return DeviceResult::FromErrno(EBADF);
    }
    {
        std::lock_guard guard(shadowLock_);
        shadow_ = block;
    }
    link_->Post({CommandKind::Line, block, false});
    return {};
}

DeviceResult NetworkSerialDevice::Read(std::uint8_t* buffer, std::size_t count, std::size_t& done) {
    done = 0;
    const ssize_t n = recv(dataFd_, buffer, count, MSG_DONTWAIT);
    if (n >= 0) {
        done = static_cast<std::size_t>(n);
        return {};
    }
    return errno == EAGAIN || errno == EINTR ? DeviceResult() : DeviceResult::FromErrno(errno);
}

DeviceResult NetworkSerialDevice::Write(const std::uint8_t* data, std::size_t count,
                                        std::size_t& done) {
    done = 0;
    const ssize_t n = send(dataFd_, data, count, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) {
        done = static_cast<std::size_t>(n);
        return {};
    }
    if (errno == EAGAIN || errno == EINTR) {
        return {};
    }
    // The connection's thread has let go: the connection is gone.
    if (errno == EPIPE || errno == ECONNRESET) {
        return {DeviceError::IoFailure, errno};
    }
    return DeviceResult::FromErrno(errno);
}

std::uint32_t NetworkSerialDevice::InputQueued() {
    int n = 0;
    if (dataFd_ < 0 || ioctl(dataFd_, FIONREAD, &n) != 0 || n < 0) {
        return 0;
    }
    return static_cast<std::uint32_t>(n);
}

bool NetworkSerialDevice::ModemStatus(std::uint8_t& bits) {
    bits = 0;
    if (!link_ || !rfc2217_) {
        return false;
    }
    bits = link_->modem.load();
    return true;
}

void NetworkSerialDevice::SetDtr(bool on) {
    if (link_) {
        link_->Post({CommandKind::Dtr, {}, on});
    }
}

void NetworkSerialDevice::SetRts(bool on) {
    if (link_) {
        link_->Post({CommandKind::Rts, {}, on});
    }
}

DeviceResult NetworkSerialDevice::SendBreak() {
    if (!link_) {
        return DeviceResult::FromErrno(EBADF);
    }
    if (!rfc2217_) {
        return {DeviceError::Unsupported, EOPNOTSUPP};
    }
    link_->Post({CommandKind::Break, {}, false});
    // The caller waits for the break's end, as on a local line.
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    return {};
}

bool NetworkSerialDevice::ErrorCounts(LineErrorCounts& counts) {
    if (!link_ || !rfc2217_) {
        return false;
    }
    counts.overrun = link_->overrun.load();
    counts.parity = link_->parity.load();
    counts.frame = link_->frame.load();
    counts.brk = link_->brk.load();
    counts.bufOverrun = 0;
    return true;
}

DeviceResult NetworkSerialDevice::Purge(bool input, bool output) {
    if (!link_) {
        return {};
    }
    // Only what this side holds is discarded. A purge sent on to the server would be done
    // there later, at a time of the server's, and could throw away what was written after it
    // or the answer to it (the first command of a run, part of a file).
    if (input) {
        std::uint8_t buffer[4096];
        while (recv(dataFd_, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
        }
    }
    if (output) {
        link_->Post({CommandKind::PurgeOutput, {}, false});
    }
    return {};
}

DeviceResult NetworkSerialDevice::SetRs485(bool) {
    return {DeviceError::Unsupported, EOPNOTSUPP};
}

} // namespace pellwick
