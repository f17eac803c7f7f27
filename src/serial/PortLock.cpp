#include "serial/PortLock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace pellwick {

namespace {

// A process that has ended but is not yet reaped by its parent (a zombie) holds nothing any
// more: its lock file is as stale as one whose process is gone.
bool Ended(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const auto paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() &&
           (stat[paren + 2] == 'Z' || stat[paren + 2] == 'X');
}

bool Alive(pid_t pid) {
    // EPERM: the process exists but belongs to another user.
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM) && !Ended(pid);
}

std::string ProgramName(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

std::string Named(pid_t pid) {
    const std::string name = ProgramName(pid);
    const std::string id = "PID " + std::to_string(pid);
    return name.empty() ? id : name + " (" + id + ")";
}

// The PID of a flock held on the device node, from /proc/locks ("1: FLOCK ADVISORY WRITE 1234
// 00:1a:6 0 EOF": the device of the file system in hex, then the inode).
pid_t FlockHolder(const struct stat& node) {
    std::ifstream in("/proc/locks");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string index, kind, mode, access, where;
        long pid = 0;
        if (!(fields >> index >> kind) || kind != "FLOCK" ||
            !(fields >> mode >> access >> pid >> where))
            continue;
        unsigned major = 0, minor = 0;
        unsigned long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%lu", &major, &minor, &inode) != 3)
            continue;
        if (inode == node.st_ino && major == ::major(node.st_dev) &&
            minor == ::minor(node.st_dev) && pid != ::getpid())
            return static_cast<pid_t>(pid);
    }
    return 0;
}

// A process other than this one with the device open.
pid_t DescriptorHolder(const struct stat& node) {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return 0;
    pid_t found = 0;
    while (found == 0) {
        const dirent* entry = ::readdir(proc);
        if (entry == nullptr)
            break;
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == ::getpid())
            continue;
        const std::string fdFolder = "/proc/" + std::string(entry->d_name) + "/fd";
        DIR* fds = ::opendir(fdFolder.c_str());
        if (fds == nullptr)
            continue;
        while (const dirent* fd = ::readdir(fds)) {
            struct stat target {};
            if (fd->d_name[0] != '.' &&
                ::stat((fdFolder + "/" + fd->d_name).c_str(), &target) == 0 &&
                S_ISCHR(target.st_mode) && target.st_rdev == node.st_rdev) {
                found = static_cast<pid_t>(pid);
                break;
            }
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return found;
}

} // namespace

ProcessHook<std::string>& UucpLock::FolderHook() {
    // PELLWICK_LOCK_DIR moves the folder for a whole process and its children: tests give each
    // run a private one, and systems whose serial programs meet elsewhere (/run/lock) name it.
    static ProcessHook<std::string> folder([] {
        const char* set = std::getenv("PELLWICK_LOCK_DIR");
        return std::string(set != nullptr && *set != '\0' ? set : "/var/lock");
    }());
    return folder;
}

std::string UucpLock::PathFor(const std::string& devicePath) {
    // One name per device: links (/dev/serial/by-id/...) are followed, so that programs that
    // open the same device under different names still meet at one lock file.
    std::string device = devicePath;
    if (char* real = ::realpath(devicePath.c_str(), nullptr)) {
        device = real;
        std::free(real);
    }
    // The part below /dev with '/' as '_' ("pts/3" -> "pts_3"), as the other programs name it.
    const std::string dev = "/dev/";
    if (device.compare(0, dev.size(), dev) == 0) {
        device.erase(0, dev.size());
    } else if (const std::size_t slash = device.rfind('/'); slash != std::string::npos) {
        device.erase(0, slash + 1);
    }
    std::replace(device.begin(), device.end(), '/', '_');
    return Folder() + "/LCK.." + device;
}

pid_t UucpLock::LiveHolder(const std::string& lockPath) {
    std::ifstream in(lockPath);
    long pid = 0;
    // Ten ASCII characters as written today; some old programs wrote a binary int, which
    // reads as no PID and so as stale.
    if (!(in >> pid) || pid <= 0)
        return 0;
    return Alive(static_cast<pid_t>(pid)) ? static_cast<pid_t>(pid) : 0;
}

int UucpLock::Acquire(const std::string& devicePath, pid_t& holder) {
    Release();
    holder = 0;
    const std::string lockPath = PathFor(devicePath);
    static std::atomic<unsigned> counter{0};
    const std::string temp =
        Folder() + "/LTMP." + std::to_string(::getpid()) + "." + std::to_string(counter++);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0; // no lock folder we may write: flock and TIOCEXCL hold the port alone
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(::getpid()));
    const bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
    ::fchmod(fd, 0644); // readable by every program that checks, whatever the umask
    ::close(fd);
    if (!written) {
        ::unlink(temp.c_str());
        return 0;
    }
    int result = 0;
    // link() fails when the name exists, so two programs cannot both make the lock.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::link(temp.c_str(), lockPath.c_str()) == 0) {
            path_ = lockPath;
            result = 0;
            break;
        }
        if (errno != EEXIST) {
            result = 0; // the folder refuses links: go on without a lock file
            break;
        }
        const pid_t live = LiveHolder(lockPath);
        // Our own PID: a lock this process left; the caller already holds the device's flock,
        // so no other part of this process uses the port.
        if (live != 0 && live != ::getpid()) {
            holder = live;
            result = EBUSY;
            break;
        }
        ::unlink(lockPath.c_str()); // stale
    }
    ::unlink(temp.c_str());
    return result;
}

void UucpLock::Release() {
    if (!path_.empty()) {
        // Only a file that still names this process: another program may have removed ours as
        // stale (wrongly) and made its own.
        if (LiveHolder(path_) == ::getpid())
            ::unlink(path_.c_str());
        path_.clear();
    }
}

std::string DescribePortHolder(const std::string& devicePath) {
    const pid_t locked = UucpLock::LiveHolder(UucpLock::PathFor(devicePath));
    if (locked != 0 && locked != ::getpid())
        return Named(locked);
    struct stat node {};
    if (::stat(devicePath.c_str(), &node) != 0)
        return {};
    pid_t pid = FlockHolder(node);
    if (pid == 0)
        pid = DescriptorHolder(node);
    return pid != 0 ? Named(pid) : std::string();
}

} // namespace pellwick
