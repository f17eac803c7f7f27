#include "portselect/ProbePort.h"

#include "PortSelectTestSupport.h"

#include "serial/DispatcherRegistry.h"
#include "serial/DispatcherTypes.h"
#include "serial/TVaxoWin32Dispatcher.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace pellwick {
namespace {

using test::DeviceRecorder;
using test::FakePorts;

int RegisteredDispatchers() {
    std::lock_guard lock(DispatcherRegistryLock());
    int count = 0;
    for (int handle = 0; handle < 256; ++handle) {
        if (FindDispatcher(handle) != nullptr) {
            ++count;
        }
    }
    return count;
}

TEST(ProbePort, PortIsPresentOnlyWhenItsDeviceOpens) {
    FakePorts ports({1, 3}, {{2, "/nonexistent/pellwick-no-such-device"}});
    DeviceRecorder recorder;
    EXPECT_FALSE(ProbePort(0));
    EXPECT_FALSE(ProbePort(-1));
    EXPECT_TRUE(recorder.OpenedPaths().empty()) << "no number, nothing to open";

    EXPECT_TRUE(ProbePort(1));
    EXPECT_FALSE(ProbePort(2)) << "the listed device does not exist";
    EXPECT_TRUE(ProbePort(3));
    EXPECT_FALSE(ProbePort(4)) << "no entry in the port map";
}

TEST(ProbePort, OpensEachDeviceOnceAndLeavesNothingOpenOrRegistered) {
    FakePorts ports({1, 3});
    const int registeredBefore = RegisteredDispatchers();
    {
        DeviceRecorder recorder;
        for (int n = 1; n <= 4; ++n) {
            ProbePort(n);
        }
        EXPECT_EQ(recorder.OpenedPaths(),
                  (std::vector<std::string>{ports.PathOf(1), ports.PathOf(3)}));
        EXPECT_EQ(recorder.OpenNow(), 0);
    }
    EXPECT_EQ(RegisteredDispatchers(), registeredBefore) << "the probe frees its dispatcher";

    // Neither lock nor exclusive use stays behind: the program can open the port next.
    TVaxoWin32Dispatcher user(nullptr);
    EXPECT_EQ(user.DeviceOpen(ComDeviceName(1), 64, 64), 0);
    user.DeviceClose();
}

TEST(ProbePort, PortHeldByAnotherOwnerIsPresentAndStaysWithIt) {
    FakePorts ports({2});
    TVaxoWin32Dispatcher holder(nullptr);
    ASSERT_EQ(holder.DeviceOpen(ComDeviceName(2), 64, 64), 0);

    EXPECT_TRUE(ProbePort(2));
    TVaxoWin32Dispatcher other(nullptr);
    EXPECT_EQ(other.DeviceOpen(ComDeviceName(2), 64, 64), dr::DeviceAccessDenied)
        << "the probe must not release the holder's lock";
    holder.DeviceClose();
}

TEST(ProbePort, OpenFailuresMeaningThePortExistsCountAsPresent) {
    FakePorts ports({1});
    DeviceRecorder recorder;
    struct Case {
        int err;
        bool present;
    };
    // Held by another program, or not this user's to open: present. EIO is neither.
    for (const Case& c : {Case{EBUSY, true}, Case{EACCES, true}, Case{EPERM, true},
                          Case{ENOENT, false}, Case{ENOTTY, false}, Case{EIO, false}}) {
        recorder.FailOpensWith(DeviceResult::FromErrno(c.err));
        EXPECT_EQ(ProbePort(1), c.present) << "open failed with errno " << c.err;
    }
}

} // namespace
} // namespace pellwick
