#include "serial/portmap/AdapterInfo.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace pellwick {
namespace fs = std::filesystem;

namespace {

// One line of a sysfs attribute without its line end; empty when it cannot be read.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return {};
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

fs::path Canonical(const fs::path& p) {
    std::error_code ec;
    fs::path c = fs::canonical(p, ec);
    return ec ? fs::path() : c;
}

} // namespace

std::string AdapterInfo::Describe() const {
    std::string text;
    auto add = [&text](const std::string& part) {
        if (part.empty()) {
            return;
        }
        if (!text.empty()) {
            text += ", ";
        }
        text += part;
    };
    if (!byIdPath.empty()) {
        add("by-id " + fs::path(byIdPath).filename().string());
    }
    std::string name = manufacturer;
    if (!product.empty()) {
        name += (name.empty() ? "" : " ") + product;
    }
    if (IsUsb()) {
        name += (name.empty() ? "(" : " (") + vendorId + ":" + productId + ")";
    }
    add(name);
    if (!serial.empty()) {
        add("serial " + serial);
    }
    return text;
}

std::string AdapterInfo::Identity() const {
    if (device.empty()) {
        return {};
    }
    return device + (usbPath.empty() ? "" : " at USB " + usbPath + " (" + usbNumber + ")") +
           (serial.empty() ? "" : ", serial " + serial);
}

AdapterInfo ReadAdapterInfo(const std::string& devicePath, const std::string& sysClassTty,
                            const std::string& byIdFolder) {
    AdapterInfo info;
    const fs::path device = Canonical(devicePath);
    if (device.empty()) {
        return info;
    }
    info.device = device.string();
    std::error_code ec;
    const auto linkTo = [&device](const fs::path& folder) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            if (Canonical(entry.path()) == device) {
                return entry.path().string();
            }
        }
        return std::string();
    };
    info.byIdPath = linkTo(byIdFolder);
    info.byPathPath = linkTo(fs::path(byIdFolder).parent_path() / "by-path");
    // The tty's device folder sits below its USB interface, which sits below the USB device
    // that carries idVendor and the strings; a few levels up covers every USB serial driver.
    fs::path dir = Canonical(fs::path(sysClassTty) / device.filename() / "device");
    for (int level = 0; level < 6 && !dir.empty() && dir.has_relative_path(); ++level) {
        if (fs::exists(dir / "idVendor", ec)) {
            info.vendorId = ReadAttribute(dir / "idVendor");
            info.productId = ReadAttribute(dir / "idProduct");
            info.manufacturer = ReadAttribute(dir / "manufacturer");
            info.product = ReadAttribute(dir / "product");
            info.serial = ReadAttribute(dir / "serial");
            info.usbPath = dir.filename().string();
            info.usbNumber = ReadAttribute(dir / "busnum") + ":" + ReadAttribute(dir / "devnum");
            break;
        }
        dir = dir.parent_path();
    }
    return info;
}

} // namespace pellwick
