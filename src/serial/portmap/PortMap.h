// Which device path stands behind each port number COMn (n = 1..255).
//
// Made once at start-up from loader.ini and the serial devices present:
//  1. section [Ports], keys COMn (for example COM3=/dev/ttyUSB0): each keeps its number;
//  2. unless [Ports] has Scan=0, the numbers left over, from COM1 up, go to the devices found
//     in the device folder, in this order: ttyUSB*, then ttyACM* (each by number, so ttyUSB2
//     comes before ttyUSB10), then the ttyS* with a UART behind them, then ttyAMA* and
//     rfcomm*. A device already named in [Ports] (by the same path, or through a link such as
//     /dev/serial/by-id/...) is not given a second number.
// A [Ports] entry may name a port on the network instead (COM7=rfc2217://10.0.0.5:3001, see
// NetworkAddress.h); key "Connect Timeout" gives the seconds an opening of such a port may take.
//
// A PortMap is immutable once made. The process-wide instance is set with SetGlobal and read
// with Global from any thread.
#pragma once

#include "serial/ProcessHook.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pellwick {

class PortMap {
public:
    static constexpr int MinComNumber = 1;
    static constexpr int MaxComNumber = 255;

    // Tells whether a ttyS* node has a UART behind it.
    using HardwareCheck = std::function<bool(const std::string& devicePath)>;

    PortMap() = default;
    // Entries with a number outside 1..255 or an empty path are dropped.
    explicit PortMap(const std::map<int, std::string>& entries);

    // How long the opening of a network port may take, from connecting to the server's answer.
    static constexpr std::chrono::seconds DefaultConnectTimeout{5};
    std::chrono::milliseconds ConnectTimeout() const { return connectTimeout_; }
    PortMap WithConnectTimeout(std::chrono::milliseconds timeout) const;

    // Uses /dev and UartHasHardware.
    static PortMap Build(const std::string& iniPath);
    static PortMap Build(const std::string& iniPath, const std::string& deviceFolder,
                         const HardwareCheck& hasHardware);

    std::optional<std::string> PathOf(int comNumber) const;
    // This map with COMn standing for path instead (a path given on the command line).
    PortMap WithEntry(int comNumber, const std::string& path) const;
    // Sorted by port number.
    std::vector<std::pair<int, std::string>> Entries() const;

    // The process-wide map; tests hold their own with a ScopedHook.
    static ProcessHook<std::shared_ptr<const PortMap>>& GlobalHook();
    static void SetGlobal(std::shared_ptr<const PortMap> map) { GlobalHook().Set(std::move(map)); }
    // Null until SetGlobal was called.
    static std::shared_ptr<const PortMap> Global() { return GlobalHook().Get(); }

    // "\\.\COM12" and "COM12" (any case) give 12; numbers outside 1..255 and other names give
    // nothing.
    static std::optional<int> ParseComName(const std::string& name);
    // The device path to open for a device name: a COMn name through the global map, a name
    // that starts with '/' or names a network port as it stands; nothing otherwise or when the
    // number has no entry.
    static std::optional<std::string> ResolveDeviceName(const std::string& deviceName);

private:
    std::map<int, std::string> entries_;
    std::chrono::milliseconds connectTimeout_ = DefaultConnectTimeout;
};

} // namespace pellwick
