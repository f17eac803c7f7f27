// One inotify instance for many device path watches. Linux gives a user 128 instances for all
// of its programs, so a program that waits for many devices at once (a station of many slots)
// shares one; watches of one folder share its watch descriptor, counted. The owner waits on
// Fd() and, when it is readable, calls Take() and then Update() of every watch that uses it.
// Standard C++ and POSIX; not thread-safe: one thread owns it and its watches.
#pragma once

#include <map>
#include <string>

namespace pellwick {

class FolderWatches {
public:
    FolderWatches() = default;
    ~FolderWatches();
    FolderWatches(const FolderWatches&) = delete;
    FolderWatches& operator=(const FolderWatches&) = delete;

    // Makes the instance; false, with the reason in Error(), when the system refuses.
    bool Open();
    int Fd() const { return fd_; }
    const std::string& Error() const { return error_; }

    // A watch of folder for the events a device path watch needs; the descriptor, or -1 with
    // the reason in Error(). Each Add is matched by a Remove.
    int Add(const std::string& folder);
    void Remove(const std::string& folder);
    // Whether folder is still watched (its watch ends by itself when the folder goes).
    bool Watches(const std::string& folder) const { return folders_.count(folder) != 0; }
    // Takes the pending events; folders that went away are no longer watched.
    void Take();

private:
    struct Watch {
        int wd;
        int users;
    };
    int fd_ = -1;
    std::string error_;
    std::map<std::string, Watch> folders_;
};

} // namespace pellwick
