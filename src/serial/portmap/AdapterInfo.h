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
    std::string byPathPath;   // /dev/serial/by-path/<name> that points at the device, or empty
    std::string usbPath;      // the USB device's topology path (bus-port.port, as 1-1.4)
    std::string usbNumber;    // "bus:device": a new number each time the adapter is plugged
    std::string device;       // the device node the path leads to now (after its links)

    bool IsUsb() const { return !vendorId.empty(); }
    // "by-id NAME, MANUFACTURER PRODUCT (VVVV:PPPP), serial S", leaving out what is unknown;
    // empty when nothing is known.
    std::string Describe() const;
    // The physical place of the adapter: its USB topology path, else its by-path link.
    const std::string& Place() const { return usbPath.empty() ? byPathPath : usbPath; }
    // What tells this very adapter, plugged in now, from another or a replug of it: the
    // device node, the USB place and number, and the serial number where there is one.
    std::string Identity() const;
};

// The roots are for tests: a fake sysfs and /dev/serial/by-id in a temporary folder (the
// by-path links are looked for beside the by-id folder).
AdapterInfo ReadAdapterInfo(const std::string& devicePath,
                            const std::string& sysClassTty = "/sys/class/tty",
                            const std::string& byIdFolder = "/dev/serial/by-id");

} // namespace pellwick
