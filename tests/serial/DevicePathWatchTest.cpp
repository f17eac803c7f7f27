// The wait for a device path to lead to a file again: the ways udev and the simulator bring a
// device back (a node made in place, a link renamed into place, a link in folders that did not
// exist), each seen through the watch's descriptor, not by polling.
#include "serial/DevicePathWatch.h"
#include "support/TempFolder.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace pellwick {
namespace {

namespace fs = std::filesystem;

// Waits on the descriptor alone until Update() says the path is there.
bool SeenThroughFd(DevicePathWatch& watch, int timeoutMs) {
    for (int round = 0; round < 10; ++round) {
        pollfd p{watch.Fd(), POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) {
            return false;
        }
        if (watch.Update()) {
            return true;
        }
    }
    return false;
}

TEST(DevicePathWatchTest, EachWayADeviceComesBackIsSeen) {
    struct Case {
        const char* name;
        std::string relative; // the watched path below the folder
        std::function<void(const std::string& folder)> bringBack;
    };
    const Case cases[] = {
        {"node made in place", "dev/ttyUSB0",
         [](const std::string& f) { std::fclose(std::fopen((f + "/dev/ttyUSB0").c_str(), "w")); }},
        {"link renamed into place", "dev/ttyPLUG",
         [](const std::string& f) {
             fs::create_symlink("/dev/null", f + "/dev/.tmp");
             fs::rename(f + "/dev/.tmp", f + "/dev/ttyPLUG");
         }},
        {"link in folders made meanwhile", "dev/serial/by-id/usb-board",
         [](const std::string& f) {
             fs::create_directory(f + "/dev/serial");
             fs::create_directory(f + "/dev/serial/by-id");
             fs::create_symlink("/dev/null", f + "/dev/serial/by-id/usb-board");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        fs::create_directory(folder.Path() + "/dev");
        DevicePathWatch watch;
        ASSERT_TRUE(watch.Start(folder.Path() + "/" + c.relative)) << watch.Error();
        EXPECT_FALSE(watch.Update());
        c.bringBack(folder.Path());
        EXPECT_TRUE(SeenThroughFd(watch, 5000));
    }
}

TEST(DevicePathWatchTest, WaitForEndsAtTheDeadlineOrWhenThePathIsThere) {
    TempFolder folder;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(
        DevicePathWatch::WaitFor(folder.Path() + "/none", std::chrono::milliseconds(200), error));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_TRUE(DevicePathWatch::WaitFor(folder.Path(), std::chrono::milliseconds(0), error));
}

// udev may make a link, take it away and make it again before it settles (so does the device
// simulator's --link): the wait ends once the path has stayed, not when it first appears, and an
// open right after it finds the device.
TEST(DevicePathWatchTest, WaitForEndsOnceALinkThatComesAndGoesHasStayed) {
    TempFolder folder;
    const std::string link = folder.Path() + "/ttyBOARD";
    std::chrono::steady_clock::time_point lastMade;
    std::thread udev([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the wait has begun
        for (int round = 0; round < 3; ++round) {
            if (round > 0) {
                fs::remove(link);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            fs::create_symlink("/dev/null", link);
            lastMade = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::string error;
    // Settling longer than any pause of a busy machine between the link's changes.
    const bool found = DevicePathWatch::WaitFor(link, std::chrono::seconds(10), error, -1,
                                                std::chrono::seconds(1));
    const auto ended = std::chrono::steady_clock::now();
    udev.join();
    EXPECT_TRUE(found) << error;
    EXPECT_GT(ended, lastMade);
}

} // namespace
} // namespace pellwick
