// Locks other serial programs see, and who holds a port that is refused.
//
// Programs on Linux keep each other off a serial line in two ways: flock on the device (and the
// exclusive-use flag of the tty), or a UUCP lock file /var/lock/LCK..<device name> that holds the
// owner's PID as ten ASCII characters and a line feed. The device layer takes both; a lock file
// whose process is gone is stale and is removed. Where the lock folder cannot be written, the
// port is held by flock and TIOCEXCL alone.
#pragma once

#include "serial/ProcessHook.h"

#include <string>
#include <sys/types.h>

namespace pellwick {

class UucpLock {
public:
    UucpLock() = default;
    ~UucpLock() { Release(); }
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;

    // 0 when this process now holds the lock, or when no lock file can be made in the folder
    // (the caller goes on without one); EBUSY when a live process holds it, its PID in holder.
    int Acquire(const std::string& devicePath, pid_t& holder);
    // Removes the lock file, if this object made it.
    void Release();

    // The folder lock files are made in: $PELLWICK_LOCK_DIR where it is set, else /var/lock;
    // tests point it elsewhere.
    static ProcessHook<std::string>& FolderHook();
    static std::string Folder() { return FolderHook().Get(); }
    // "<folder>/LCK..<device>": the device's real path below /dev with '/' as '_'
    // (/dev/ttyUSB0 -> LCK..ttyUSB0, /dev/pts/3 -> LCK..pts_3); outside /dev its last part.
    static std::string PathFor(const std::string& devicePath);
    // The live process a lock file names, or 0 (no file, no readable PID, process gone).
    static pid_t LiveHolder(const std::string& lockPath);

private:
    std::string path_;
};

// The program holding a device, as far as it can be found: the lock file, flock entries in
// /proc/locks, then descriptors in /proc/<pid>/fd. "picocom (PID 1234)", "PID 1234", or empty.
std::string DescribePortHolder(const std::string& devicePath);

} // namespace pellwick
