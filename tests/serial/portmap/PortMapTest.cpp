// Every test works on a temporary folder of fake device nodes (plain files) and a fake
// hardware check: the machine's own serial devices are never opened.
#include "serial/portmap/PortMap.h"
#include "serial/portmap/UartHardware.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

namespace pellwick {
namespace {

namespace fs = std::filesystem;

using Entries = std::vector<std::pair<int, std::string>>;

class PortMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder_.Path().empty());
        root_ = folder_.Path();
        dev_ = root_ + "/dev";
        fs::create_directory(dev_);
        ini_ = root_ + "/loader.ini";
    }
    void Touch(const std::string& name) const { std::ofstream(dev_ + "/" + name).put('\0'); }
    void Ini(const std::string& content) const { std::ofstream(ini_) << content; }
    std::string Dev(const std::string& name) const { return dev_ + "/" + name; }

    // UARTs behind ttyS1 and ttyS3 only; remembers what it was asked.
    PortMap BuildWithUarts() {
        return PortMap::Build(ini_, dev_, [this](const std::string& path) {
            asked_.push_back(fs::path(path).filename().string());
            return path == Dev("ttyS1") || path == Dev("ttyS3");
        });
    }

    TempFolder folder_;
    std::string root_;
    std::string dev_;
    std::string ini_;
    std::vector<std::string> asked_;
    ScopedHook<std::shared_ptr<const PortMap>> global_{PortMap::GlobalHook(), nullptr};
};

TEST_F(PortMapTest, ScanOrdersGroupsAndNumbersNumerically) {
    for (const char* name :
         {"ttyUSB10", "ttyUSB2", "ttyACM1", "ttyACM0", "ttyS0", "ttyS1", "ttyS3", "ttyS10",
          "ttyAMA0", "rfcomm1", "tty0", "ttyUSB", "ttyUSBx", "ttySAC0", "console", "ttyprintk"})
        Touch(name);
    const PortMap map = BuildWithUarts();
    EXPECT_EQ(map.Entries(), (Entries{{1, Dev("ttyUSB2")},
                                      {2, Dev("ttyUSB10")},
                                      {3, Dev("ttyACM0")},
                                      {4, Dev("ttyACM1")},
                                      {5, Dev("ttyS1")},
                                      {6, Dev("ttyS3")},
                                      {7, Dev("ttyAMA0")},
                                      {8, Dev("rfcomm1")}}));
    // Only on-board UART nodes are checked for hardware.
    std::sort(asked_.begin(), asked_.end());
    EXPECT_EQ(asked_, (std::vector<std::string>{"ttyS0", "ttyS1", "ttyS10", "ttyS3"}));
    EXPECT_EQ(map.PathOf(2), Dev("ttyUSB10"));
    EXPECT_FALSE(map.PathOf(9));
    EXPECT_FALSE(map.PathOf(0));
}

TEST_F(PortMapTest, PortsEntriesKeepTheirNumbersAndScannedDevicesFillTheRest) {
    Touch("ttyUSB0");
    Touch("ttyUSB1");
    Touch("ttyACM0");
    Touch("ttyS1");
    Ini("[Ports]\n"
        "COM2=/dev/serial/by-id/usb-adapter\n"
        "com3 = /dev/pts/7\n"
        "COM60=/dev/pts/9\n"
        "COM255=/dev/pts/10\n"
        "COM0=/dev/zero-is-no-port\n"
        "COM256=/dev/too-high\n"
        "COMX=/dev/not-a-number\n"
        "COM5=\n"
        "Other=/dev/ignored\n");
    const PortMap map = BuildWithUarts();
    EXPECT_EQ(map.Entries(), (Entries{{1, Dev("ttyUSB0")},
                                      {2, "/dev/serial/by-id/usb-adapter"},
                                      {3, "/dev/pts/7"},
                                      {4, Dev("ttyUSB1")},
                                      {5, Dev("ttyACM0")},
                                      {6, Dev("ttyS1")},
                                      {60, "/dev/pts/9"},
                                      {255, "/dev/pts/10"}}));
}

TEST_F(PortMapTest, ScanZeroKeepsOnlyThePortsEntries) {
    Touch("ttyUSB0");
    Touch("ttyS1");
    Ini("[Ports]\nScan=0\nCOM7=/dev/pts/3\n");
    const PortMap map = BuildWithUarts();
    EXPECT_EQ(map.Entries(), (Entries{{7, "/dev/pts/3"}}));
    EXPECT_TRUE(asked_.empty());

    Ini("[Ports]\nScan=0\n");
    EXPECT_TRUE(BuildWithUarts().Entries().empty());
}

TEST_F(PortMapTest, DeviceNamedInPortsThroughALinkGetsNoSecondNumber) {
    Touch("ttyUSB0");
    Touch("ttyUSB1");
    fs::create_directory(root_ + "/by-id");
    fs::create_symlink(Dev("ttyUSB1"), root_ + "/by-id/usb-adapter");
    Ini("[Ports]\nCOM4=" + root_ + "/by-id/usb-adapter\n");
    const PortMap map = BuildWithUarts();
    EXPECT_EQ(map.Entries(), (Entries{{1, Dev("ttyUSB0")}, {4, root_ + "/by-id/usb-adapter"}}));
}

TEST_F(PortMapTest, ScanStopsAtCom255AndMissingFolderOrFileGiveNoEntries) {
    for (int i = 0; i < 300; ++i)
        Touch("ttyUSB" + std::to_string(i));
    Ini("[Ports]\nCOM1=/dev/pts/1\n");
    const Entries entries = BuildWithUarts().Entries();
    ASSERT_EQ(entries.size(), 255u);
    EXPECT_EQ(entries.front(), (std::pair<int, std::string>{1, "/dev/pts/1"}));
    EXPECT_EQ(entries.back(), (std::pair<int, std::string>{255, Dev("ttyUSB253")}));

    const PortMap none = PortMap::Build(root_ + "/no-ini", root_ + "/no-dev", nullptr);
    EXPECT_TRUE(none.Entries().empty());
}

TEST_F(PortMapTest, ComNamesParseWithOrWithoutTheDevicePrefix) {
    EXPECT_EQ(PortMap::ParseComName("\\\\.\\COM12"), 12);
    EXPECT_EQ(PortMap::ParseComName("COM12"), 12);
    EXPECT_EQ(PortMap::ParseComName("com1"), 1);
    EXPECT_EQ(PortMap::ParseComName("COM255"), 255);
    for (const char* bad : {"COM0", "COM256", "COM", "COMX", "COM-1", "COM+1", "COM1 ", "\\\\.\\",
                            "\\\\.\\LPT1", "/dev/ttyUSB0", "XCOM1", "COM1a", ""})
        EXPECT_FALSE(PortMap::ParseComName(bad)) << bad;
}

TEST_F(PortMapTest, DeviceNamesResolveThroughTheGlobalMap) {
    PortMap::SetGlobal(nullptr);
    EXPECT_FALSE(PortMap::ResolveDeviceName("\\\\.\\COM1"));

    PortMap::SetGlobal(std::make_shared<const PortMap>(
        std::map<int, std::string>{{1, "/dev/pts/4"}, {0, "/dev/bad"}, {300, "/dev/bad"}}));
    EXPECT_EQ(PortMap::Global()->Entries(), (Entries{{1, "/dev/pts/4"}}));
    EXPECT_EQ(PortMap::ResolveDeviceName("\\\\.\\COM1"), "/dev/pts/4");
    EXPECT_FALSE(PortMap::ResolveDeviceName("\\\\.\\COM2"));
    EXPECT_EQ(PortMap::ResolveDeviceName("/dev/pts/8"), "/dev/pts/8");
    EXPECT_FALSE(PortMap::ResolveDeviceName("ttyUSB0"));
}

TEST_F(PortMapTest, GlobalMapCanBeReadWhileItIsReplaced) {
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            if (const auto path = PortMap::ResolveDeviceName("COM1")) {
                // Any map seen must be whole: one of the two that were set.
                EXPECT_TRUE(*path == "/dev/a" || *path == "/dev/b") << *path;
            }
        }
    });
    for (int i = 0; i < 2000; ++i)
        PortMap::SetGlobal(std::make_shared<const PortMap>(
            std::map<int, std::string>{{1, i % 2 == 0 ? "/dev/a" : "/dev/b"}}));
    stop = true;
    reader.join();
    EXPECT_EQ(PortMap::ResolveDeviceName("COM1"), "/dev/b");
}

// A guard gives the hook back what it held before, also after a set made in its scope.
TEST(ProcessHookTest, NestedGuardsGiveEachTheValueBeforeThem) {
    ProcessHook<std::string> hook("program's");
    {
        const ScopedHook outer{hook, "fixture's"};
        {
            const ScopedHook inner{hook, "test's"};
            EXPECT_EQ(hook.Get(), "test's");
        }
        EXPECT_EQ(hook.Get(), "fixture's");
        hook.Set("set meanwhile");
    }
    EXPECT_EQ(hook.Get(), "program's");
}

TEST_F(PortMapTest, UartCheckTrustsTheTtyClassFolderAndElseAsksTheDevice) {
    const std::string sys = root_ + "/sys";
    fs::create_directories(sys + "/ttyS0");
    fs::create_directories(sys + "/ttyS1");
    std::ofstream(sys + "/ttyS0/type") << "4\n";
    std::ofstream(sys + "/ttyS1/type") << "0\n";
    EXPECT_TRUE(UartHasHardware(Dev("ttyS0"), sys));
    EXPECT_FALSE(UartHasHardware(Dev("ttyS1"), sys));
    // Without a class entry the node itself is asked: a plain file is no UART, a missing one
    // neither.
    Touch("ttyS2");
    EXPECT_FALSE(UartHasHardware(Dev("ttyS2"), sys));
    EXPECT_FALSE(UartHasHardware(Dev("ttyS9"), sys));
}

} // namespace
} // namespace pellwick
