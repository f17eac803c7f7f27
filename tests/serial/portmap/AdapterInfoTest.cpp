// The adapter description read from a fake sysfs tree and a fake by-id folder.
#include "serial/portmap/AdapterInfo.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace pellwick {
namespace {

namespace fs = std::filesystem;

class AdapterInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder_.Path().empty());
        root_ = folder_.Path();
        fs::create_directories(root_ / "dev/serial/by-id");
        fs::create_directories(root_ / "sys/class/tty");
    }

    void Write(const fs::path& file, const std::string& text) const {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    // A device node, and its tty class entry whose device link points at `deviceDir` (relative
    // to the fake sysfs root); no entry when deviceDir is empty.
    std::string Node(const std::string& name, const std::string& deviceDir) const {
        Write(root_ / "dev" / name, "");
        if (!deviceDir.empty()) {
            fs::create_directories(root_ / "sys" / deviceDir);
            fs::create_directories(root_ / "sys/class/tty" / name);
            fs::create_directory_symlink(root_ / "sys" / deviceDir,
                                         root_ / "sys/class/tty" / name / "device");
        }
        return (root_ / "dev" / name).string();
    }
    AdapterInfo Read(const std::string& path) const {
        return ReadAdapterInfo(path, (root_ / "sys/class/tty").string(),
                               (root_ / "dev/serial/by-id").string());
    }

    TempFolder folder_;
    fs::path root_;
};

TEST_F(AdapterInfoTest, UsbSerialAdapterIsDescribedByItsUsbDeviceAndByIdLink) {
    // usb-serial drivers put the tty below a port folder below the interface (two levels).
    const std::string usb = "devices/pci0/usb1/1-2";
    Write(root_ / "sys" / usb / "idVendor", "0403\n");
    Write(root_ / "sys" / usb / "idProduct", "6001\n");
    Write(root_ / "sys" / usb / "manufacturer", "FTDI\n");
    Write(root_ / "sys" / usb / "product", "FT232R USB UART\n");
    Write(root_ / "sys" / usb / "serial", "A50285BI\n");
    Write(root_ / "sys" / usb / "busnum", "1\n");
    Write(root_ / "sys" / usb / "devnum", "7\n");
    const std::string dev = Node("ttyUSB0", usb + "/1-2:1.0/ttyUSB0");
    fs::create_symlink("../../ttyUSB0", root_ / "dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
    fs::create_directories(root_ / "dev/serial/by-path");
    fs::create_symlink("../../ttyUSB0", root_ / "dev/serial/by-path/pci-0-usb-0:2:1.0-port0");

    const AdapterInfo info = Read(dev);
    EXPECT_EQ((root_ / "dev/serial/by-id/usb-FTDI_FT232R-if00-port0").string(), info.byIdPath);
    EXPECT_EQ("0403", info.vendorId);
    EXPECT_EQ("6001", info.productId);
    EXPECT_EQ("A50285BI", info.serial);
    EXPECT_EQ("by-id usb-FTDI_FT232R-if00-port0, FTDI FT232R USB UART (0403:6001), serial A50285BI",
              info.Describe());
    // Its place: the USB device's topology path, and the by-path link.
    EXPECT_EQ("1-2", info.Place());
    EXPECT_EQ((root_ / "dev/serial/by-path/pci-0-usb-0:2:1.0-port0").string(), info.byPathPath);
    EXPECT_EQ(dev + " at USB 1-2 (1:7), serial A50285BI", info.Identity());
    // The by-id link itself leads to the same adapter.
    EXPECT_EQ(info.Identity(), Read(info.byIdPath).Identity());
    // Plugged again, the same adapter in the same socket has a new device number.
    Write(root_ / "sys" / usb / "devnum", "8\n");
    EXPECT_NE(info.Identity(), Read(dev).Identity());
}

TEST_F(AdapterInfoTest, DevicesWithoutUsbParentsTellOnlyWhatIsKnown) {
    // An ACM device sits directly below its interface; this one has no strings at all.
    const std::string usb = "devices/pci0/usb1/1-3";
    Write(root_ / "sys" / usb / "idVendor", "2e8a");
    Write(root_ / "sys" / usb / "idProduct", "000a");
    EXPECT_EQ("(2e8a:000a)", Read(Node("ttyACM0", usb + "/1-3:1.0")).Describe());
    // An on-board UART: a platform device, no USB folder above it.
    EXPECT_EQ("", Read(Node("ttyS0", "devices/platform/serial8250/tty/ttyS0")).Describe());
    // A pseudo-terminal has no tty class entry; a missing device gives nothing either.
    EXPECT_EQ("", Read(Node("pts3", "")).Describe());
    EXPECT_EQ("", Read((root_ / "dev/none").string()).Describe());
}

} // namespace
} // namespace pellwick
