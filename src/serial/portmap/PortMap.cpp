#include "serial/portmap/PortMap.h"

#include "ini/PrivateProfile.h"
#include "serial/portmap/NetworkAddress.h"
#include "serial/portmap/UartHardware.h"

#include <algorithm>
#include <filesystem>
#include <set>

namespace pellwick {

namespace {

namespace fs = std::filesystem;

// Value of a text made only of decimal digits (at most nine), or nothing.
std::optional<long> DigitsValue(const std::string& digits) {
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::stol(digits);
}

// Number of a name made of prefix + decimal digits ("ttyUSB10" -> 10), or nothing.
std::optional<long> NumberAfter(const std::string& name, const std::string& prefix) {
    if (name.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    return DigitsValue(name.substr(prefix.size()));
}

// What a path finally names, so that a link and its target count as one device.
std::string Identity(const std::string& path) {
    std::error_code ec;
    const fs::path canonical = fs::canonical(path, ec);
    return ec ? path : canonical.string();
}

} // namespace

PortMap::PortMap(const std::map<int, std::string>& entries) {
    for (const auto& [number, path] : entries) {
        if (number >= MinComNumber && number <= MaxComNumber && !path.empty())
            entries_.emplace(number, path);
    }
}

PortMap PortMap::Build(const std::string& iniPath) {
    return Build(iniPath, "/dev", [](const std::string& path) { return UartHasHardware(path); });
}

PortMap PortMap::Build(const std::string& iniPath, const std::string& deviceFolder,
                       const HardwareCheck& hasHardware) {
    const PrivateProfile ini(iniPath);
    std::map<int, std::string> entries;
    for (const auto& [key, value] : ini.ReadSection("Ports")) {
        const std::optional<int> number = ParseComName(key);
        // Keys are the plain form; "\\.\COMn" is a device name.
        if (number && key[0] != '\\' && !value.empty())
            entries.emplace(*number, value);
    }
    const long timeout = ini.ReadInteger("Ports", "Connect Timeout", 0);
    const auto withTimeout = [timeout](PortMap map) {
        // Out of range (or missing): the default.
        if (timeout >= 1 && timeout <= 600)
            map.connectTimeout_ = std::chrono::seconds(timeout);
        return map;
    };
    if (ini.ReadInteger("Ports", "Scan", 1) == 0)
        return withTimeout(PortMap(entries));

    // Scan groups in the order they take the free numbers.
    const std::vector<std::string> groups = {"ttyUSB", "ttyACM", "ttyS", "ttyAMA", "rfcomm"};
    std::vector<std::vector<std::pair<long, std::string>>> found(groups.size());
    std::error_code ec;
    for (fs::directory_iterator it(deviceFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        for (std::size_t g = 0; g < groups.size(); ++g) {
            if (const auto number = NumberAfter(name, groups[g])) {
                found[g].emplace_back(*number, it->path().string());
                break;
            }
        }
    }

    std::set<std::string> pinned;
    for (const auto& entry : entries)
        pinned.insert(Identity(entry.second));

    int next = MinComNumber;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        std::sort(found[g].begin(), found[g].end());
        for (const auto& device : found[g]) {
            const std::string& path = device.second;
            if (groups[g] == "ttyS" && !(hasHardware && hasHardware(path)))
                continue;
            if (pinned.count(Identity(path)) != 0)
                continue;
            while (entries.count(next) != 0)
                ++next;
            if (next > MaxComNumber)
                return withTimeout(PortMap(entries));
            entries.emplace(next, path);
        }
    }
    return withTimeout(PortMap(entries));
}

std::optional<std::string> PortMap::PathOf(int comNumber) const {
    const auto it = entries_.find(comNumber);
    if (it == entries_.end())
        return std::nullopt;
    return it->second;
}

PortMap PortMap::WithEntry(int comNumber, const std::string& path) const {
    std::map<int, std::string> entries = entries_;
    entries[comNumber] = path;
    PortMap map(entries);
    map.connectTimeout_ = connectTimeout_;
    return map;
}

PortMap PortMap::WithConnectTimeout(std::chrono::milliseconds timeout) const {
    PortMap map = *this;
    map.connectTimeout_ = timeout;
    return map;
}

std::vector<std::pair<int, std::string>> PortMap::Entries() const {
    return {entries_.begin(), entries_.end()};
}

ProcessHook<std::shared_ptr<const PortMap>>& PortMap::GlobalHook() {
    static ProcessHook<std::shared_ptr<const PortMap>> hook;
    return hook;
}

std::optional<int> PortMap::ParseComName(const std::string& name) {
    std::string rest = name;
    if (rest.compare(0, 4, "\\\\.\\") == 0)
        rest.erase(0, 4);
    if (rest.size() < 4 || (rest[0] != 'C' && rest[0] != 'c') ||
        (rest[1] != 'O' && rest[1] != 'o') || (rest[2] != 'M' && rest[2] != 'm'))
        return std::nullopt;
    const std::optional<long> number = DigitsValue(rest.substr(3));
    if (!number || *number < MinComNumber || *number > MaxComNumber)
        return std::nullopt;
    return static_cast<int>(*number);
}

std::optional<std::string> PortMap::ResolveDeviceName(const std::string& deviceName) {
    if ((!deviceName.empty() && deviceName[0] == '/') || LooksLikeNetworkAddress(deviceName))
        return deviceName;
    const std::optional<int> number = ParseComName(deviceName);
    if (!number)
        return std::nullopt;
    const std::shared_ptr<const PortMap> map = Global();
    if (!map)
        return std::nullopt;
    return map->PathOf(*number);
}

} // namespace pellwick
