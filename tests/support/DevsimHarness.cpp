#include "support/DevsimHarness.h"

#include "support/ChildProcess.h"
#include "support/WaitUntil.h"

#include "devsim/PseudoTerminal.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pellwick {

namespace {

// Polls waitpid until the child has ended or the time is up; -2 if it still runs.
int WaitChild(pid_t pid, std::chrono::milliseconds timeout) {
    int result = -2;
    (void)test::WaitUntil(
        [&] {
            int status = 0;
            const pid_t done = waitpid(pid, &status, WNOHANG);
            if (done == pid) {
                result = ExitStatusOf(status);
            } else if (done < 0 && errno != EINTR) {
                result = -1;
            }
            return result != -2;
        },
        timeout);
    return result;
}

} // namespace

DevsimHarness::~DevsimHarness() {
    Stop();
}

std::string DevsimHarness::ExecutablePath() {
    return PELLWICK_DEVSIM_EXE;
}

bool DevsimHarness::StartInProcess(const DeviceConfig& config) {
    if (server_ || pid_ > 0) {
        error_ = "already running";
        return false;
    }
    PseudoTerminal pty;
    if (!pty.Open()) {
        error_ = pty.Error();
        return false;
    }
    slavePath_ = pty.SlavePath();
    const int master = pty.ReleaseMaster();
    const int slave = pty.ReleaseSlave();
    server_ = std::make_unique<DeviceServer>(config, master, slave);
    thread_ = std::thread([this] { result_ = server_->Run(); });
    return true;
}

bool DevsimHarness::StartProcess(const std::vector<std::string>& args,
                                 std::chrono::milliseconds timeout) {
    if (server_ || pid_ > 0) {
        error_ = "already running";
        return false;
    }
    if (!SpawnWithOutputPipe(ExecutablePath(), args, {}, pid_, stdoutFd_, error_)) {
        return false;
    }

    // The first line of its output is the line's path.
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string line;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{stdoutFd_, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            error_ = "no path from pellwick-devsim in time";
            Stop();
            return false;
        }
        char c = 0;
        if (read(stdoutFd_, &c, 1) != 1) {
            error_ = "pellwick-devsim ended before printing its path";
            Stop();
            return false;
        }
        line.push_back(c);
    }
    line.pop_back();
    slavePath_ = line;
    return true;
}

int DevsimHarness::Stop(std::chrono::milliseconds timeout) {
    int status = -1;
    if (server_) {
        server_->RequestStop();
        if (thread_.joinable()) {
            thread_.join();
        }
        status = result_ == DeviceServer::Result::Stopped ? 0 : 1;
        server_.reset();
    }
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        status = WaitChild(pid_, timeout);
        if (status == -2) {
            kill(pid_, SIGKILL);
            WaitChild(pid_, std::chrono::seconds(10));
            status = -1;
        }
        pid_ = -1;
    }
    if (stdoutFd_ >= 0) {
        close(stdoutFd_);
        stdoutFd_ = -1;
    }
    return status;
}

int DevsimHarness::WaitExit(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return -1;
    }
    const int status = WaitChild(pid_, timeout);
    if (status != -2) {
        pid_ = -1;
    }
    return status;
}

std::string DevsimHarness::WriteLoaderIni(int comNumber, const std::vector<IniEntry>& extra) const {
    const std::string com = "COM" + std::to_string(comNumber);
    std::vector<IniEntry> entries = {
        {"RS232Settings", "Comm Port", com},
        {"RS232Settings", "Use DTR", "0"},
        {"RS232Settings", "Use RTS", "0"},
        {"RS232Settings", "Require DSR", "0"},
        {"RS232Settings", "Require CTS", "0"},
        {"Ports", "Scan", "0"},
        {"Ports", com, slavePath_},
    };
    for (const IniEntry& entry : extra) {
        bool replaced = false;
        for (IniEntry& known : entries) {
            if (known.section == entry.section && known.key == entry.key) {
                known.value = entry.value;
                replaced = true;
            }
        }
        if (!replaced) {
            entries.push_back(entry);
        }
    }
    // Sections in order of first appearance, each written once.
    std::vector<std::string> sections;
    for (const IniEntry& entry : entries) {
        if (std::find(sections.begin(), sections.end(), entry.section) == sections.end()) {
            sections.push_back(entry.section);
        }
    }
    const std::string path = folder_.File("loader.ini");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const std::string& section : sections) {
        out << "[" << section << "]\n";
        for (const IniEntry& entry : entries) {
            if (entry.section == section) {
                out << entry.key << "=" << entry.value << "\n";
            }
        }
    }
    return out ? path : std::string();
}

} // namespace pellwick
