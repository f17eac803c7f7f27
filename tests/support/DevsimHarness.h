// Runs the device simulator for a test: in this process (a server thread on a new
// pseudo-terminal) or as the real pellwick-devsim program, and writes a loader.ini that points
// the program's port map at it. Everything lives in a temporary folder removed at the end.
#pragma once

#include "devsim/DeviceConfig.h"
#include "devsim/DeviceServer.h"
#include "support/TempFolder.h"

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace pellwick {

struct IniEntry {
    std::string section;
    std::string key;
    std::string value;
};

class DevsimHarness {
public:
    DevsimHarness() = default;
    ~DevsimHarness();
    DevsimHarness(const DevsimHarness&) = delete;
    DevsimHarness& operator=(const DevsimHarness&) = delete;

    // A server thread in this process; Server() gives access to what it received.
    bool StartInProcess(const DeviceConfig& config = {});
    // The pellwick-devsim program with these options; waits for the path on its first line.
    bool StartProcess(const std::vector<std::string>& args = {},
                      std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Stops the simulator (SIGTERM for the program) and waits for it. For the program: its exit
    // status, or 128 + signal if a signal ended it, or -1 if it had to be killed after the
    // time-out. In process: 0 when it stopped on request, 1 otherwise. -1 if nothing ran.
    int Stop(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Waits for the program to end by itself (after the hang-up fault); the status as Stop's,
    // or -2 if it was still running at the time-out.
    int WaitExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));

    const std::string& SlavePath() const { return slavePath_; }
    const std::string& Folder() const { return folder_.Path(); }
    std::string File(const std::string& name) const { return folder_.File(name); }
    DeviceServer* Server() { return server_.get(); }
    pid_t Pid() const { return pid_; }
    const std::string& Error() const { return error_; }

    // Writes Folder()/loader.ini: "[Ports]" with "Scan=0" and "COMn=<slave path>", the program
    // set to COMn and hardware flow control off (a pseudo-terminal has no modem lines), then
    // `extra`, where an entry replaces a default of the same section and key. Returns its path.
    std::string WriteLoaderIni(int comNumber = 1, const std::vector<IniEntry>& extra = {}) const;

    static std::string ExecutablePath();

private:
    TempFolder folder_;
    std::string slavePath_;
    std::string error_;
    std::unique_ptr<DeviceServer> server_;
    std::thread thread_;
    DeviceServer::Result result_ = DeviceServer::Result::Failed;
    pid_t pid_ = -1;
    int stdoutFd_ = -1;
};

} // namespace pellwick
