#include "serial/DevicePathWatch.h"

#include "serial/portmap/NetworkAddress.h"
#include "serial/portmap/PortMap.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellwick {

namespace {

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

DevicePathWatch::~DevicePathWatch() {
    Stop();
}

bool DevicePathWatch::Start(const std::string& path, FolderWatches* shared) {
    Stop();
    if (LooksLikeNetworkAddress(path)) {
        path_ = path;
        const auto map = PortMap::Global();
        server_ = std::make_unique<ServerReachProbe>();
        if (!server_->Start(path,
                            map ? map->ConnectTimeout()
                                : std::chrono::milliseconds(PortMap::DefaultConnectTimeout),
                            error_)) {
            server_.reset();
            return false;
        }
        return true;
    }
    std::error_code ec;
    path_ = std::filesystem::absolute(path, ec).lexically_normal().string();
    if (ec) {
        path_ = path;
    }
    if (shared == nullptr) {
        own_ = std::make_unique<FolderWatches>();
        if (!own_->Open()) {
            error_ = std::string("cannot watch for ") + path_ + ": " + std::strerror(errno);
            own_.reset();
            return false;
        }
    }
    watches_ = shared ? shared : own_.get();
    if (!Rearm()) {
        Stop();
        return false;
    }
    return true;
}

void DevicePathWatch::Stop() {
    server_.reset();
    if (watches_ && !watched_.empty()) {
        watches_->Remove(watched_);
    }
    watches_ = nullptr;
    own_.reset();
    watched_.clear();
}

bool DevicePathWatch::Present() const {
    if (server_) {
        return server_->Reached();
    }
    struct stat st {};
    return !path_.empty() && stat(path_.c_str(), &st) == 0;
}

// Watches the deepest existing folder of the path's folder and its ancestors. A folder made
// between the look and the watch is found by looking again once the watch is set.
bool DevicePathWatch::Rearm() {
    for (;;) {
        std::filesystem::path folder = std::filesystem::path(path_).parent_path();
        while (!folder.empty() && folder != folder.root_path() && !IsFolder(folder.string())) {
            folder = folder.parent_path();
        }
        const std::string target = folder.empty() ? std::string("/") : folder.string();
        if (target == watched_) {
            return true;
        }
        if (!watched_.empty()) {
            watches_->Remove(watched_);
            watched_.clear();
        }
        if (watches_->Add(target) < 0) {
            error_ = watches_->Error();
            return false;
        }
        watched_ = target;
    }
}

bool DevicePathWatch::Update() {
    if (server_) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto n = read(server_->Fd(), &count, sizeof count);
        return server_->Reached();
    }
    if (!watches_) {
        return Present();
    }
    if (own_) {
        own_->Take();
    }
    if (!watched_.empty() && !watches_->Watches(watched_)) {
        // The watched folder itself went away: its watch is gone, start from above again.
        watched_.clear();
    }
    Rearm();
    return Present();
}

bool DevicePathWatch::Usable() const {
    return Present() && (server_ || access(path_.c_str(), R_OK | W_OK) == 0);
}

bool DevicePathWatch::WaitFor(const std::string& path, std::chrono::milliseconds timeout,
                              std::string& error, int cancelFd, std::chrono::milliseconds settle) {
    using Clock = std::chrono::steady_clock;
    DevicePathWatch watch;
    if (!watch.Start(path)) {
        error = watch.Error();
        return false;
    }
    if (watch.WatchesServer()) {
        settle = std::chrono::milliseconds(0); // a server that accepted does not go and come
    }
    const auto deadline = Clock::now() + timeout;
    // When the path has been usable, with no change seen, for settle.
    std::optional<Clock::time_point> settled;
    for (;;) {
        const auto now = Clock::now();
        if (!watch.Usable()) {
            settled.reset();
        } else if (!settled) {
            settled = now + settle;
        }
        if (settled && now >= *settled) {
            return true;
        }
        if (now >= deadline) {
            return watch.Present();
        }
        // Rounded up: a wait cut short by a fraction of a millisecond would end it early.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            (settled ? std::min(*settled, deadline) : deadline) - now);
        // A negative descriptor is left out of the poll.
        pollfd p[2] = {{watch.Fd(), POLLIN, 0}, {cancelFd, POLLIN, 0}};
        if (poll(p, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            error = std::string("waiting for ") + watch.Path() + ": " + std::strerror(errno);
            return false;
        }
        if (p[1].revents & POLLIN) {
            return watch.Present();
        }
        if (p[0].revents & POLLIN) {
            // Made again, renamed into place or given other rights: it has to stay from now.
            watch.Update();
            settled.reset();
        }
    }
}

} // namespace pellwick
