#include "PortSelectTestSupport.h"

#include "serial/LinuxSerialDevice.h"
#include "serial/TVaxoWin32Dispatcher.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace pellwick::test {

namespace {

namespace fs = std::filesystem;

// Forwards to a real tty device and tells the recorder about opens and closes.
class RecordingDevice : public LinuxSerialDevice {
public:
    explicit RecordingDevice(std::shared_ptr<DeviceRecorder::Shared> shared)
        : shared_(std::move(shared)) {}
    ~RecordingDevice() override { RecordingDevice::Close(); }

    DeviceResult Open(const std::string& path) override {
        std::lock_guard lock(shared_->lock);
        shared_->openedPaths.push_back(path);
        if (!shared_->failWith.Ok()) {
            return shared_->failWith;
        }
        const DeviceResult result = LinuxSerialDevice::Open(path);
        if (result.Ok()) {
            ++shared_->openNow;
        }
        return result;
    }

    DeviceResult Probe(const std::string& path) override {
        {
            std::lock_guard lock(shared_->lock);
            shared_->openedPaths.push_back(path);
            if (!shared_->failWith.Ok()) {
                return shared_->failWith;
            }
        }
        return LinuxSerialDevice::Probe(path);
    }

    void Close() override {
        const bool wasOpen = IsOpen();
        LinuxSerialDevice::Close();
        if (wasOpen) {
            std::lock_guard lock(shared_->lock);
            --shared_->openNow;
        }
    }

private:
    std::shared_ptr<DeviceRecorder::Shared> shared_;
};

} // namespace

FakePorts::FakePorts(const std::vector<int>& ptyPorts,
                     const std::map<int, std::string>& extraEntries) {
    std::string pattern = (fs::temp_directory_path() / "pellwick-portselect-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    folder_ = pattern;

    std::ofstream ini(folder_ + "/loader.ini");
    // Scan=0: only the entries below exist, whatever serial hardware the machine has.
    ini << "[Ports]\nScan=0\n";
    for (int n : ptyPorts) {
        ptys_[n] = std::make_unique<PtyPair>();
        ini << "COM" << n << "=" << ptys_[n]->SlavePath() << "\n";
    }
    for (const auto& [n, path] : extraEntries) {
        ini << "COM" << n << "=" << path << "\n";
    }
    ini.close();

    map_.emplace(PortMap::GlobalHook(),
                 std::make_shared<const PortMap>(PortMap::Build(folder_ + "/loader.ini")));
}

FakePorts::~FakePorts() {
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

DeviceRecorder::DeviceRecorder()
    : shared_(std::make_shared<Shared>()),
      factory_(TVaxoWin32Dispatcher::DeviceFactoryHook(),
               [shared = shared_] { return std::make_unique<RecordingDevice>(shared); }) {}

std::vector<std::string> DeviceRecorder::OpenedPaths() {
    std::lock_guard lock(shared_->lock);
    return shared_->openedPaths;
}

int DeviceRecorder::OpenNow() {
    std::lock_guard lock(shared_->lock);
    return shared_->openNow;
}

void DeviceRecorder::FailOpensWith(DeviceResult result) {
    std::lock_guard lock(shared_->lock);
    shared_->failWith = result;
}

} // namespace pellwick::test
