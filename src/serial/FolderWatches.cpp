#include "serial/FolderWatches.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace pellwick {

namespace {

// What makes a path appear in a folder (made, renamed into it, given other rights by udev), and
// the folder's own end.
constexpr std::uint32_t FolderEvents =
    IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

} // namespace

FolderWatches::~FolderWatches() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool FolderWatches::Open() {
    if (fd_ >= 0) {
        return true;
    }
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        error_ = std::string("cannot watch for devices: ") + std::strerror(errno);
        return false;
    }
    return true;
}

int FolderWatches::Add(const std::string& folder) {
    if (const auto it = folders_.find(folder); it != folders_.end()) {
        ++it->second.users;
        return it->second.wd;
    }
    const int wd = inotify_add_watch(fd_, folder.c_str(), FolderEvents);
    if (wd < 0) {
        error_ = "cannot watch " + folder + ": " + std::strerror(errno);
        return -1;
    }
    folders_[folder] = {wd, 1};
    return wd;
}

void FolderWatches::Remove(const std::string& folder) {
    const auto it = folders_.find(folder);
    if (it != folders_.end() && --it->second.users == 0) {
        inotify_rm_watch(fd_, it->second.wd);
        folders_.erase(it);
    }
}

void FolderWatches::Take() {
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; fd_ >= 0 && (n = read(fd_, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_IGNORED) {
                for (auto it = folders_.begin(); it != folders_.end(); ++it) {
                    if (it->second.wd == event->wd) {
                        folders_.erase(it);
                        break;
                    }
                }
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

} // namespace pellwick
