#include "support/Ser2netServer.h"

#include "support/ChildProcess.h"

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace pellwick {

namespace {

std::string FindProgram(const char* name) {
    for (const char* folder : {"/usr/sbin/", "/usr/bin/", "/usr/local/sbin/", "/usr/local/bin/"}) {
        const std::string path = folder + std::string(name);
        if (access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return {};
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

} // namespace

Ser2netServer::~Ser2netServer() {
    Kill();
}

bool Ser2netServer::Available() {
    return !FindProgram("ser2net").empty();
}

int Ser2netServer::FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

namespace {
// What ser2net prints when another program listens on a port it was given.
constexpr std::string_view PortTaken = "Unable to startup network port";
} // namespace

bool Ser2netServer::Start(const std::vector<std::string>& devices, Protocol protocol,
                          const std::string& line, const std::vector<int>& ports) {
    // A free port can be taken by another test between its choosing and ser2net's bind: then
    // ser2net says so, and other free ports are chosen. Ports the caller gave stay.
    for (int attempt = 1;; ++attempt) {
        const std::size_t traced = Trace().size();
        if (StartOnce(devices, protocol, line, ports)) {
            return true;
        }
        if (!ports.empty() || attempt == 3 ||
            Trace().find(PortTaken, traced) == std::string::npos) {
            return false;
        }
    }
}

bool Ser2netServer::StartOnce(const std::vector<std::string>& devices, Protocol protocol,
                              const std::string& line, const std::vector<int>& ports) {
    Kill();
    protocol_ = protocol;
    const std::string server = FindProgram("ser2net");
    if (server.empty()) {
        error_ = "ser2net is not installed (scripts/install-deps.sh installs it)";
        return false;
    }
    ports_ = ports;
    std::vector<std::string> args;
    if (!strace_.empty()) {
        args = {strace_, "-f", "-qq", "-e", "trace=ioctl", "-o", folder_.File("calls.out"), "--"};
    }
    // -l thrice: the line calls that fail (a pseudo-terminal has no modem lines) are logged.
    args.insert(args.end(), {server, "-n", "-d", "-l", "-l", "-l", "-u"});
    const char* accepter = protocol == Protocol::Rfc2217  ? "telnet(rfc2217),tcp"
                           : protocol == Protocol::Telnet ? "telnet,tcp"
                                                          : "tcp";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (ports_.size() <= i) {
            ports_.push_back(FreePort());
        }
        const std::string name = "board" + std::to_string(i + 1);
        for (const std::string& yaml :
             {"connection: &" + name,
              "  accepter: " + std::string(accepter) + ",127.0.0.1," + std::to_string(ports_[i]),
              "  connector: serialdev," + devices[i] + "," + line + ",local",
              std::string("  options:"), std::string("    max-connections: 1")}) {
            args.push_back("-Y");
            args.push_back(yaml);
        }
    }
    std::vector<char*> argv = CStringArray(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string trace = folder_.File("ser2net.out");
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, trace.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    // A group of its own, so that Kill ends strace and ser2net together.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        error_ = "cannot start ser2net";
        return false;
    }
    const std::size_t traced = Trace().size();
    const auto taken = [&] { return Trace().find(PortTaken, traced) != std::string::npos; };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (int port : ports_) {
        while (!Accepts(port) || taken()) {
            if (std::chrono::steady_clock::now() >= deadline ||
                waitpid(pid_, nullptr, WNOHANG) != 0 || taken()) {
                error_ =
                    "ser2net does not listen on port " + std::to_string(port) + ":\n" + Trace();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    return true;
}

void Ser2netServer::Kill() {
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

std::string Ser2netServer::Address(std::size_t i) const {
    return (protocol_ == Protocol::RawTcp ? "tcp://127.0.0.1:" : "rfc2217://127.0.0.1:") +
           std::to_string(Port(i));
}

bool Ser2netServer::TraceCalls() {
    strace_ = FindProgram("strace");
    return !strace_.empty();
}

std::string Ser2netServer::Trace() const {
    return ReadAll(folder_.File("ser2net.out"));
}

std::string Ser2netServer::Calls() const {
    return ReadAll(folder_.File("calls.out"));
}

} // namespace pellwick
