// pellwick-devsim: the remote device on the other side of a pseudo-terminal. See README.md.
#include "devsim/DeviceServer.h"
#include "devsim/DevsimOptions.h"
#include "devsim/PseudoTerminal.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace pellwick;

namespace {

// Read by the signal handler: a lock-free atomic is safe to use there.
std::atomic<DeviceServer*> g_server{nullptr};
static_assert(std::atomic<DeviceServer*>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
    if (DeviceServer* server = g_server.load()) {
        server->RequestStop();
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

int Fail(const std::string& message) {
    std::fprintf(stderr, "pellwick-devsim: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    DevsimOptions options;
    const std::string error = options.Parse(std::vector<std::string>(argv + 1, argv + argc));
    if (!error.empty()) {
        std::fprintf(stderr, "pellwick-devsim: %s\nTry 'pellwick-devsim --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(DevsimOptions::HelpText().c_str(), stdout);
        return 0;
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

    DeviceServer server(options.device, fd, keepOpen);
    g_server = &server;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (!options.pathFile.empty() && !WritePathFile(options.pathFile, path)) {
        return Fail("cannot write " + options.pathFile + ": " + std::strerror(errno));
    }
    if (!options.linkPath.empty() && !MakeLink(options.linkPath, path)) {
        const std::string reason = std::strerror(errno);
        if (!options.pathFile.empty()) {
            std::remove(options.pathFile.c_str());
        }
        return Fail("cannot link " + options.linkPath + ": " + reason);
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    const DeviceServer::Result result = server.Run();
    g_server = nullptr;

    if (!options.linkPath.empty()) {
        unlink(options.linkPath.c_str());
    }
    if (!options.pathFile.empty()) {
        std::remove(options.pathFile.c_str());
    }
    switch (result) {
    case DeviceServer::Result::Stopped:
    case DeviceServer::Result::HungUp:
        return 0;
    case DeviceServer::Result::LineLost:
    case DeviceServer::Result::Failed:
        break;
    }
    return Fail(server.Error());
}
