// Test support for the port probe and the selection dialogs: a process-wide port map made from
// a loader.ini with [Ports] Scan=0 (only the listed devices exist), pseudo-terminals standing
// in for serial ports, and a recorder of every device the engine opens.
#pragma once

#include "serial/TVaxoWin32Dispatcher.h"
#include "serial/portmap/PortMap.h"
#include "support/PtyPair.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pellwick::test {

// Serial ports COMn backed by pseudo-terminals, plus extra [Ports] entries with any path.
// While it lives, the global port map holds exactly these entries; the previous map returns
// on destruction.
class FakePorts {
public:
    // A pseudo-terminal for each number in ptyPorts; extraEntries are written to [Ports] as
    // they stand (for example a path that does not exist).
    explicit FakePorts(const std::vector<int>& ptyPorts,
                       const std::map<int, std::string>& extraEntries = {});
    ~FakePorts();
    FakePorts(const FakePorts&) = delete;
    FakePorts& operator=(const FakePorts&) = delete;

    const std::string& PathOf(int comNumber) const { return ptys_.at(comNumber)->SlavePath(); }
    const std::string& Folder() const { return folder_; }

private:
    std::string folder_;
    std::map<int, std::unique_ptr<PtyPair>> ptys_;
    std::optional<ScopedHook<std::shared_ptr<const PortMap>>> map_;
};

// Installs a device factory whose devices are real tty devices that report to it: every
// Open with its path and result, and how many devices are open now. Opens can be made to fail
// with a chosen result instead. The factory is removed on destruction.
class DeviceRecorder {
public:
    DeviceRecorder();
    DeviceRecorder(const DeviceRecorder&) = delete;
    DeviceRecorder& operator=(const DeviceRecorder&) = delete;

    struct Shared {
        std::mutex lock;
        std::vector<std::string> openedPaths;
        int openNow = 0;
        DeviceResult failWith; // success: open the real device
    };

    std::vector<std::string> OpenedPaths();
    int OpenNow();
    void FailOpensWith(DeviceResult result);

private:
    std::shared_ptr<Shared> shared_;
    ScopedHook<TVaxoWin32Dispatcher::DeviceFactory> factory_;
};

} // namespace pellwick::test
