// Pellwick and the serial programs people run beside it keep each other off a line: minicom
// through the UUCP lock file (LCK..pts_N for /dev/pts/N), tio and picocom through flock. Each peer
// that is installed runs on a pseudo-terminal of its own; peers that are missing are skipped.
#include "serial/DispatcherTypes.h"
#include "serial/LinuxSerialDevice.h"
#include "serial/PortLock.h"
#include "serial/errors/OpenFailure.h"
#include "support/PtyPair.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pellwick {
namespace {

using test::PtyPair;

bool Installed(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    for (std::size_t begin = 0; begin <= dirs.size();) {
        std::size_t end = dirs.find(':', begin);
        if (end == std::string::npos)
            end = dirs.size();
        if (::access((dirs.substr(begin, end - begin) + "/" + program).c_str(), X_OK) == 0)
            return true;
        begin = end + 1;
    }
    return false;
}

// A peer program on a terminal of its own (it wants one), killed when the object goes.
class PeerProcess {
public:
    explicit PeerProcess(const std::vector<std::string>& argv) {
        // Closed in the child by exec: its end on this side then reads end of file.
        int started[2] = {-1, -1};
        if (::pipe2(started, O_CLOEXEC) != 0)
            return;
        pid_ = ::forkpty(&terminal_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            // Only what the peer opens itself: an inherited descriptor of the line (the test
            // keeps the pty's slave open) would look like the peer holding it.
            for (int fd = 3; fd < 1024; ++fd)
                if (fd != started[1])
                    ::close(fd);
            ::setenv("TERM", "xterm", 1);
            std::vector<char*> args;
            for (const auto& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        ::close(started[1]);
        char byte = 0;
        while (pid_ > 0 && ::read(started[0], &byte, 1) < 0 && errno == EINTR) {
        }
        ::close(started[0]);
        if (terminal_ >= 0)
            ::fcntl(terminal_, F_SETFL, ::fcntl(terminal_, F_GETFL) | O_NONBLOCK);
    }
    ~PeerProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (terminal_ >= 0)
            ::close(terminal_);
    }
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    // Whether the peer has the device open now.
    bool HasOpen(const struct stat& device) const {
        const std::string folder = "/proc/" + std::to_string(pid_) + "/fd";
        DIR* fds = ::opendir(folder.c_str());
        bool found = false;
        while (fds != nullptr && !found) {
            const dirent* fd = ::readdir(fds);
            if (fd == nullptr)
                break;
            struct stat target {};
            found = fd->d_name[0] != '.' &&
                    ::stat((folder + "/" + fd->d_name).c_str(), &target) == 0 &&
                    S_ISCHR(target.st_mode) && target.st_rdev == device.st_rdev;
        }
        if (fds != nullptr)
            ::closedir(fds);
        return found;
    }
    // Keeps the peer's screen output flowing, so that it never blocks on a full terminal.
    void Drain() const {
        char buffer[4096];
        while (::read(terminal_, buffer, sizeof buffer) > 0) {
        }
    }
    // Whether the peer has ended; its exit status then in status.
    bool Exited(int& status) {
        if (!exited_ && pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_)
            exited_ = true;
        status = status_;
        return exited_;
    }

private:
    pid_t pid_ = -1;
    int terminal_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

// Waits for cond while keeping the peer's screen output flowing.
bool Within(int ms, const std::function<bool()>& cond, const PeerProcess& peer) {
    return test::WaitUntil(cond, ms, [&peer] {
        peer.Drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
}

TEST(PeerLockTest, PellwickAndEachPeerRefuseEachOtherWithTheHolderNamed) {
    const ScopedHook lockFolder{UucpLock::FolderHook(), "/var/lock"}; // the peers' folder
    struct Peer {
        std::string program;
        std::vector<std::string> args; // the device path follows
    };
    // minicom's -o would skip its lock files, so it runs with its start-up as usual.
    const std::vector<Peer> peers = {
        {"minicom", {"minicom", "-D"}}, {"picocom", {"picocom", "-q"}}, {"tio", {"tio"}}};
    int ran = 0;
    for (const Peer& peer : peers) {
        if (!Installed(peer.program))
            continue;
        ++ran;
        SCOPED_TRACE(peer.program);
        PtyPair pty;
        struct stat device {};
        ASSERT_EQ(::stat(pty.SlavePath().c_str(), &device), 0);
        std::vector<std::string> argv = peer.args;
        argv.push_back(pty.SlavePath());
        {
            // The peer holds the line: Pellwick is refused and names it.
            PeerProcess holder(argv);
            ASSERT_TRUE(Within(
                10000,
                [&] {
                    return holder.HasOpen(device) && !DescribePortHolder(pty.SlavePath()).empty();
                },
                holder))
                << "the peer did not open the line";
            LinuxSerialDevice pellwick;
            EXPECT_EQ(pellwick.Open(pty.SlavePath()).Error(), DeviceError::Busy);
            const std::string note = TakeOpenFailure();
            EXPECT_NE(note.find("in use by " + peer.program.substr(0, 15) + " (PID "),
                      std::string::npos)
                << note;
        }
        {
            // Pellwick holds the line: the peer never gets it.
            LinuxSerialDevice pellwick;
            ASSERT_EQ(pellwick.Open(pty.SlavePath()).Error(), DeviceError::None);
            // Each peer gives up at once on a line it finds locked, with a failure status
            // (tio and picocom open the device first and then fail to lock it).
            PeerProcess refused(argv);
            int status = 0;
            EXPECT_TRUE(Within(
                10000, [&] { return refused.Exited(status); }, refused))
                << "the peer stayed on a line Pellwick holds";
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << status;
        }
    }
    if (ran == 0)
        GTEST_SKIP() << "none of minicom, picocom, tio is installed";
}

} // namespace
} // namespace pellwick
