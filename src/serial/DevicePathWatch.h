// Waits for a device path to lead to a file again, without polling: an inotify watch on the
// deepest folder on the way to the path that exists, moved deeper as folders appear (so that
// /dev/serial/by-id/..., which udev removes with the last adapter, is covered too). Creations,
// renames into the folder and changes of attributes (udev setting a node's group) are what
// count. A network port (rfc2217://, tcp://) has no file: for it the watch waits for its server
// to accept a connection (ServerReachProbe), and "present" means that it did. Standard C++ and
// POSIX; the caller waits on Fd() in its own loop.
#pragma once

#include "serial/FolderWatches.h"
#include "serial/ServerReachProbe.h"

#include <chrono>
#include <memory>
#include <string>

namespace pellwick {

class DevicePathWatch {
public:
    DevicePathWatch() = default;
    ~DevicePathWatch();
    DevicePathWatch(const DevicePathWatch&) = delete;
    DevicePathWatch& operator=(const DevicePathWatch&) = delete;

    // Starts watching for path (a relative one counts from the current folder), on an inotify
    // instance of its own or on shared ones (which must outlive the watch; their owner takes
    // their events before calling Update). False, with the reason in Error(), when the
    // system's file watching cannot be used.
    bool Start(const std::string& path, FolderWatches* shared = nullptr);
    void Stop();
    bool Active() const { return watches_ != nullptr || server_; }
    // The path is a network port: the watch waits for its server.
    bool WatchesServer() const { return server_ != nullptr; }
    // Readable when something changed on the way to the path.
    int Fd() const { return server_ ? server_->Fd() : watches_ ? watches_->Fd() : -1; }
    // Takes the pending changes and follows the path's folders as they appear; true when the
    // path leads to an existing file now.
    bool Update();
    // The path leads to an existing file (a link is followed).
    bool Present() const;
    const std::string& Path() const { return path_; }
    const std::string& Error() const { return error_; }

    // How long a device path must stay, unchanged, before a wait takes it as there: udev may
    // make a link, take it away and make it again before it settles.
    static constexpr std::chrono::milliseconds SettleTime{250};

    // Waits up to timeout for path to lead to an existing file that this user may read and
    // write, and to stay so, unchanged, for settle (a network port: until its server accepts).
    // True then, or at the deadline when the path is there at all (its open then tells what is
    // wrong). False when it is not there by the deadline, or with the reason in error when the
    // file watching cannot be set up; when cancelFd (if not negative) becomes readable first,
    // whether the path is there.
    static bool WaitFor(const std::string& path, std::chrono::milliseconds timeout,
                        std::string& error, int cancelFd = -1,
                        std::chrono::milliseconds settle = SettleTime);

private:
    bool Rearm();
    // Present, and a device file this user may open for reading and writing.
    bool Usable() const;

    std::string path_;
    std::string watched_; // the folder watched now
    std::unique_ptr<FolderWatches> own_;
    FolderWatches* watches_ = nullptr; // own_ or the shared ones
    std::string error_;
    std::unique_ptr<ServerReachProbe> server_;
};

} // namespace pellwick
