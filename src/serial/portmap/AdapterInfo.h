// What the kernel tells about the adapter behind a serial device: its stable name under
// /dev/serial/by-id and, for USB adapters, the vendor, product and serial number of the USB
// device (read from sysfs, so nothing is opened). Used by the port list of the headless runner
// and the settings dialog's device label, so that an operator with several adapters can tell
// them apart.
#pragma once

#include <string>

namespace pellwick {

struct AdapterInfo {
    std::string byIdPath;     // /dev/serial/by-id/<name> that points at the device, or empty
    std::string vendorId;     // USB idVendor, four hex digits, or empty
    std::string productId;    // USB idProduct
    std::string manufacturer; // USB manufacturer string
    std::string product;      // USB product string
    std::string serial;       // USB serial number string

    bool IsUsb() const { return !vendorId.empty(); }
    // "by-id NAME, MANUFACTURER PRODUCT (VVVV:PPPP), serial S", leaving out what is unknown;
    // empty when nothing is known.
    std::string Describe() const;
};

// The roots are for tests: a fake sysfs and /dev/serial/by-id in a temporary folder.
AdapterInfo ReadAdapterInfo(const std::string& devicePath,
                            const std::string& sysClassTty = "/sys/class/tty",
                            const std::string& byIdFolder = "/dev/serial/by-id");

} // namespace pellwick
