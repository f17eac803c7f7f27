// pellwick-devsim: the remote device on the other side of a pseudo-terminal. See README.md.
#include "devsim/DeviceServer.h"
#include "devsim/DevsimOptions.h"
#include "devsim/PseudoTerminal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace pellwick;

namespace {

// Read by the signal handlers: lock-free atomics are safe to use there.
std::atomic<DeviceServer*> g_server{nullptr};
static_assert(std::atomic<DeviceServer*>::is_always_lock_free);
std::atomic<bool> g_stop{false};
std::atomic<bool> g_replug{false};
int g_wakeFd = -1; // wakes the wait for a plug-in

void Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto ignored = write(g_wakeFd, &one, sizeof one);
}

extern "C" void OnStopSignal(int) {
    g_stop = true;
    if (DeviceServer* server = g_server.load()) {
        server->RequestStop();
    }
    Wake();
}

extern "C" void OnUnplugSignal(int) {
    if (DeviceServer* server = g_server.load()) {
        server->RequestUnplug();
    }
}

extern "C" void OnReplugSignal(int) {
    g_replug = true;
    Wake();
}

// Waits while unplugged: false when a stop came first.
bool WaitForPlugIn(std::int64_t afterMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(afterMs);
    for (;;) {
        if (g_stop) {
            return false;
        }
        if (g_replug) {
            return true;
        }
        int timeout = -1;
        if (afterMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return true;
            }
            timeout = static_cast<int>(std::min<std::int64_t>(left.count(), 1 << 30));
        }
        pollfd p{g_wakeFd, POLLIN, 0};
        if (poll(&p, 1, timeout) > 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto ignored = read(g_wakeFd, &count, sizeof count);
        }
    }
}

bool WritePathFile(const std::string& file, const std::string& path) {
    // Renamed into place so a reader never sees a half-written path.
    const std::string partial = file + ".part";
    std::FILE* out = std::fopen(partial.c_str(), "w");
    if (out == nullptr) {
        return false;
    }
    const bool written = std::fprintf(out, "%s\n", path.c_str()) > 0;
    if (std::fclose(out) != 0 || !written || std::rename(partial.c_str(), file.c_str()) != 0) {
        std::remove(partial.c_str());
        return false;
    }
    return true;
}

bool MakeLink(const std::string& link, const std::string& target) {
    struct stat st {};
    // An old link of ours may be left from a killed run; anything else stays untouched.
    if (lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        unlink(link.c_str());
    }
    return symlink(target.c_str(), link.c_str()) == 0;
}

// A store folder that is missing is made at start; one that cannot be made or written to ends
// the start here, instead of every file being refused later.
std::string PrepareStore(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!error && !std::filesystem::is_directory(folder, error) && !error) {
        error = std::make_error_code(std::errc::not_a_directory);
    }
    if (error) {
        return "--store " + folder + ": cannot make the folder (" + error.message() +
               "); name a folder that can be made or exists";
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        return "--store " + folder + ": cannot write there (" + std::strerror(errno) +
               "); name a folder you may write to";
    }
    return {};
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "pellwick-devsim: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    DevsimOptions options;
    CommandLine line("pellwick-devsim", PELLWICK_VERSION, DevsimOptions::HelpText);
    options.Declare(line);
    if (const auto status = line.Answer(std::vector<std::string>(argv + 1, argv + argc))) {
        return *status;
    }
    if (!options.device.storeDir.empty()) {
        if (const std::string failure = PrepareStore(options.device.storeDir); !failure.empty()) {
            return Fail(failure);
        }
    }

    int fd = -1;
    int keepOpen = -1;
    std::string path;
    PseudoTerminal pty;
    if (!options.devicePath.empty()) {
        path = options.devicePath;
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            return Fail(path + ": " + std::strerror(errno));
        }
        if (isatty(fd) && !MakeRaw(fd, options.device.baud)) {
            const std::string reason = std::strerror(errno);
            close(fd);
            return Fail(path + ": " + reason);
        }
    } else {
        if (!pty.Open()) {
            return Fail(pty.Error());
        }
        path = pty.SlavePath();
        fd = pty.ReleaseMaster();
        keepOpen = pty.ReleaseSlave();
    }

    g_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    if (options.devicePath.empty()) {
        // A real device cannot be unplugged from here; its signals keep their usual effect.
        action.sa_handler = OnUnplugSignal;
        sigaction(SIGUSR1, &action, nullptr);
        action.sa_handler = OnReplugSignal;
        sigaction(SIGUSR2, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);

    // Removes what points at the line, so that nobody finds it while it goes or after the end.
    const auto forgetLine = [&] {
        if (!options.linkPath.empty()) {
            unlink(options.linkPath.c_str());
        }
        if (!options.pathFile.empty()) {
            std::remove(options.pathFile.c_str());
        }
    };
    // Makes what points at the line and prints its path.
    const auto announceLine = [&]() -> std::string {
        if (!options.pathFile.empty() && !WritePathFile(options.pathFile, path)) {
            return "cannot write " + options.pathFile + ": " + std::strerror(errno);
        }
        if (!options.linkPath.empty() && !MakeLink(options.linkPath, path)) {
            const std::string reason = std::strerror(errno);
            forgetLine();
            return "cannot link " + options.linkPath + ": " + reason;
        }
        std::printf("%s\n", path.c_str());
        std::fflush(stdout);
        return {};
    };
    if (const std::string failure = announceLine(); !failure.empty()) {
        return Fail(failure);
    }

    DeviceConfig config = options.device;
    const auto started = std::chrono::steady_clock::now();
    std::int64_t unplugs = 0;
    DeviceServer::Result result = DeviceServer::Result::Stopped;
    std::string serverError;
    for (;;) {
        auto server = std::make_unique<DeviceServer>(config, fd, keepOpen);
        if (result == DeviceServer::Result::Unplugged) {
            server->ContinueTranscript(started); // a replug
        }
        g_server = server.get();
        if (g_stop) {
            server->RequestStop(); // a stop that came before this plug-in
        }
        result = server->Run();
        g_server = nullptr;
        serverError = server->Error();
        if (result != DeviceServer::Result::Unplugged) {
            break;
        }
        // As udev does: the link goes first, then the line, which the peer sees hang up.
        g_replug = false;
        forgetLine();
        server.reset();
        if (options.cycles > 0 && ++unplugs >= options.cycles) {
            config.unplugAfterMs = -1;
            config.unplugAfterBytes = -1;
        }
        if (!WaitForPlugIn(options.replugAfterMs)) {
            result = DeviceServer::Result::Stopped;
            break;
        }
        PseudoTerminal next;
        if (!next.Open()) {
            return Fail(next.Error());
        }
        path = next.SlavePath();
        fd = next.ReleaseMaster();
        keepOpen = next.ReleaseSlave();
        if (const std::string failure = announceLine(); !failure.empty()) {
            close(fd);
            close(keepOpen);
            return Fail(failure);
        }
    }

    forgetLine();
    switch (result) {
    case DeviceServer::Result::Stopped:
    case DeviceServer::Result::HungUp:
    case DeviceServer::Result::Unplugged:
        return 0;
    case DeviceServer::Result::LineLost:
    case DeviceServer::Result::Failed:
        break;
    }
    return Fail(serverError);
}
