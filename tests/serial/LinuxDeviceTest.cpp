// The device layer on pseudo-terminals: what it leaves behind on other programs' lines, the
// UUCP lock file, framing a pty cannot carry, any rate, and the reason noted for a failed open.
#include "serial/DispatcherTypes.h"
#include "serial/LinuxSerialDevice.h"
#include "serial/PortLock.h"
#include "serial/errors/OpenFailure.h"
#include "support/LineRate.h"
#include "support/PtyPair.h"
#include "support/TempFolder.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <asm/ioctls.h>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace pellwick {
namespace {

namespace fs = std::filesystem;
using test::PtyPair;

bool Exclusive(int fd) {
    int on = 0;
    return ioctl(fd, TIOCGEXCL, &on) == 0 && on != 0;
}

tcflag_t LocalFlags(int fd) {
    termios t{};
    tcgetattr(fd, &t);
    return t.c_lflag;
}

// A lock folder of the test's own, so that tests never meet real programs' lock files.
class LinuxDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(folder_.empty()); }
    std::string LockOf(const PtyPair& pty) const { return UucpLock::PathFor(pty.SlavePath()); }
    static void PutLock(const std::string& path, pid_t pid) {
        std::ofstream(path) << std::string(10 - std::to_string(pid).size(), ' ') << pid << '\n';
    }

    TempFolder temp_;
    const std::string folder_ = temp_.Path();
    ScopedHook<std::string> lockFolder_{UucpLock::FolderHook(), folder_};
};

TEST_F(LinuxDeviceTest, ProbeAndOpenLeaveAnotherProgramsLineAsItWas) {
    PtyPair pty;
    // Another program's line: canonical mode, its own exclusive flag when root can still open.
    const int holder = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    termios canonical{};
    ASSERT_EQ(tcgetattr(holder, &canonical), 0);
    canonical.c_lflag |= ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    ASSERT_EQ(tcsetattr(holder, TCSANOW, &canonical), 0);
    const tcflag_t before = LocalFlags(holder);
    ASSERT_NE(before & ICANON, 0u);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
    }

    LinuxSerialDevice device;
    EXPECT_EQ(device.Probe(pty.SlavePath()).Error(), DeviceError::None);
    EXPECT_EQ(LocalFlags(holder), before) << "the probe switched the line";
    EXPECT_EQ(Exclusive(holder), root);

    if (root) {
        ASSERT_EQ(device.Open(pty.SlavePath()).Error(), DeviceError::None);
        EXPECT_EQ(LocalFlags(holder) & ICANON, 0u) << "raw while open";
        device.Close();
        EXPECT_EQ(LocalFlags(holder), before) << "close gives the settings back";
        EXPECT_TRUE(Exclusive(holder)) << "the holder's flag stays";
        ::ioctl(holder, TIOCNXCL);
    }
    ASSERT_EQ(device.Open(pty.SlavePath()).Error(), DeviceError::None);
    EXPECT_TRUE(Exclusive(holder));
    device.Close();
    EXPECT_FALSE(Exclusive(holder)) << "our own flag goes";
    EXPECT_EQ(LocalFlags(holder), before);
    ::close(holder);
}

TEST_F(LinuxDeviceTest, LockFileIsMadeHonouredAndRemovedWhenStale) {
    PtyPair pty;
    // The name the other programs use: below /dev with '/' as '_', links followed.
    const std::string link = folder_ + "/ttyLink";
    fs::create_symlink(pty.SlavePath(), link);
    const std::string ptyName = pty.SlavePath().substr(std::string("/dev/").size());
    for (const auto& [device, name] : {std::pair<std::string, std::string>{"/dev/ttyZZ9", "ttyZZ9"},
                                       {"/dev/pts/99999", "pts_99999"},
                                       {"/elsewhere/ttyQ", "ttyQ"},
                                       {link, "pts_" + ptyName.substr(4)}}) {
        EXPECT_EQ(UucpLock::PathFor(device), folder_ + "/LCK.." + name) << device;
    }
    LinuxSerialDevice device;
    ASSERT_EQ(device.Open(pty.SlavePath()).Error(), DeviceError::None);
    std::ifstream in(LockOf(pty));
    const std::string text(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(text, std::string(10 - std::to_string(::getpid()).size(), ' ') +
                        std::to_string(::getpid()) + "\n");
    device.Close();
    EXPECT_FALSE(fs::exists(LockOf(pty)));

    // A live process's lock keeps us out and names it.
    PutLock(LockOf(pty), 1);
    EXPECT_EQ(device.Open(pty.SlavePath()).Error(), DeviceError::Busy);
    const std::string note = TakeOpenFailure();
    EXPECT_NE(note.find(pty.SlavePath() + ": in use by "), std::string::npos) << note;
    EXPECT_NE(note.find("(PID 1)"), std::string::npos) << note;

    // The lock of a process that is gone is stale; so is one without a PID, and one whose
    // process has ended but is not reaped yet.
    const auto child = [] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::_exit(0);
        }
        return pid;
    };
    const pid_t gone = child();
    ::waitpid(gone, nullptr, 0);
    const pid_t unreaped = child();
    ASSERT_TRUE(test::WaitUntil([&] {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(unreaped), &info, WEXITED | WNOWAIT) == 0;
    }));
    for (const pid_t holder : {gone, pid_t{0}, unreaped}) {
        if (holder == 0) {
            std::ofstream(LockOf(pty)) << "junk\n";
        } else {
            PutLock(LockOf(pty), holder);
        }
        ASSERT_EQ(device.Open(pty.SlavePath()).Error(), DeviceError::None) << "holder " << holder;
        EXPECT_EQ(UucpLock::LiveHolder(LockOf(pty)), ::getpid());
        device.Close();
    }
    ::waitpid(unreaped, nullptr, 0);

    // No lock folder we may write: flock and TIOCEXCL alone.
    const ScopedHook missing{UucpLock::FolderHook(), folder_ + "/missing"};
    EXPECT_EQ(device.Open(pty.SlavePath()).Error(), DeviceError::None);
    device.Close();
}

TEST_F(LinuxDeviceTest, FramingAPtyCannotCarryDoesNotFailTheLine) {
    PtyPair pty;
    LinuxSerialDevice device;
    ASSERT_EQ(device.Open(pty.SlavePath()).Error(), DeviceError::None);
    LineBlock block;
    ASSERT_EQ(device.GetLine(block).Error(), DeviceError::None);
    block.baud = 9600;
    block.byteSize = 7;
    block.parity = 2;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(device.SetLine(block).Error(), DeviceError::None) << "round " << round;
    }
    LineBlock now;
    ASSERT_EQ(device.GetLine(now).Error(), DeviceError::None);
    EXPECT_EQ(now.baud, 9600u) << "the rest of the settings took";
}

TEST_F(LinuxDeviceTest, AnyRateTakesAsTheKernelReadsItBackAndCloseGivesBackTheOldOne) {
    PtyPair pty;
    // Left by another program at a rate without a Bnnn constant.
    ASSERT_TRUE(test::SetKernelLineRate(pty.Master(), 31250));
    LinuxSerialDevice device;
    ASSERT_EQ(device.Open(pty.SlavePath()).Error(), DeviceError::None);
    LineBlock block;
    ASSERT_EQ(device.GetLine(block).Error(), DeviceError::None);
    EXPECT_EQ(block.baud, 31250u);
    for (const std::uint32_t rate :
         {50u, 115200u, 230400u, 250000u, 921600u, 1234567u, 3000000u, 4000000u, 9600u}) {
        block.baud = rate;
        ASSERT_EQ(device.SetLine(block).Error(), DeviceError::None) << rate;
        EXPECT_EQ(test::KernelLineRate(pty.Master()), rate);
        LineBlock now;
        ASSERT_EQ(device.GetLine(now).Error(), DeviceError::None);
        EXPECT_EQ(now.baud, rate);
    }
    device.Close();
    EXPECT_EQ(test::KernelLineRate(pty.Master()), 31250u);
}

// The kernel's RS-485 mode is the system's (a board's device tree may switch it on): a port not
// asked for RS-485 issues no TIOCSRS485. A pseudo-terminal answers one with ENOTTY.
TEST_F(LinuxDeviceTest, Rs485ModeIsLeftAsFoundUnlessAskedFor) {
    PtyPair pty;
    LinuxSerialDevice device;
    ASSERT_EQ(device.Open(pty.SlavePath()).Error(), DeviceError::None);
    EXPECT_EQ(device.SetRs485(false).Error(), DeviceError::None);
    EXPECT_EQ(device.SetRs485(true).Error(), DeviceError::Unsupported);
    EXPECT_EQ(device.SetRs485(false).Error(), DeviceError::None) << "nothing was switched";
    device.Close();
}

TEST(OpenFailureTest, SecondLineNamesDeviceAndReason) {
    struct Case {
        int err;
        std::string holder;
        std::string expected;
    };
    for (const Case& c : {Case{EACCES, "",
                               "/dev/ttyS0: Permission denied (the user needs to be in "
                               "group dialout to use serial ports)"},
                          Case{EBUSY, "minicom (PID 42)", "/dev/ttyS0: in use by minicom (PID 42)"},
                          Case{EBUSY, "", "/dev/ttyS0: in use by another program"},
                          Case{ENOENT, "", "/dev/ttyS0: No such file or directory"}}) {
        EXPECT_EQ(DescribeOpenFailure("/dev/ttyS0", c.err, c.holder), c.expected);
    }
    EXPECT_EQ(DescribeRateRefusal("/dev/ttyUSB0", 3000000, 0),
              "/dev/ttyUSB0: the adapter refused 3000000 baud; choose a rate it supports");
    EXPECT_EQ(DescribeRateRefusal("/dev/ttyUSB0", 4000000, 9600),
              "/dev/ttyUSB0: the adapter cannot run at 4000000 baud (it set 9600 baud); choose a "
              "rate it supports");
    LinuxSerialDevice device;
    EXPECT_EQ(device.Open("/nonexistent/ttyS9").Error(), DeviceError::NotFound);
    EXPECT_EQ(WithOpenFailure("Error Opening Selected Comm Port !"),
              "Error Opening Selected Comm Port !\r/nonexistent/ttyS9: No such file or directory");
    EXPECT_EQ(WithOpenFailure("Error Opening Selected Comm Port !"),
              "Error Opening Selected Comm Port !")
        << "a note is shown once";
}

} // namespace
} // namespace pellwick
