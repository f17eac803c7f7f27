#include "support/PostgresServer.h"

#include "support/ChildProcess.h"
#include "support/LoopbackListener.h"
#include "support/WaitUntil.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pellwick {

namespace {

// The newest version's bin folder under /usr/lib/postgresql, empty when none has a server.
std::string ServerBinaries() {
    std::error_code ec;
    std::string best;
    int bestVersion = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
        const std::string bin = entry.path().string() + "/bin";
        const int version = std::atoi(entry.path().filename().c_str());
        if (version > bestVersion && access((bin + "/initdb").c_str(), X_OK) == 0 &&
            access((bin + "/postgres").c_str(), X_OK) == 0) {
            best = bin;
            bestVersion = version;
        }
    }
    return best;
}

struct RunAs {
    bool change = false;
    uid_t uid = 0;
    gid_t gid = 0;
};

// Starts exe with args as user, its output appended to log; the child gets SIGTERM when this
// process dies. -1 when fork fails.
pid_t Spawn(const std::string& exe, std::vector<std::string> args, const RunAs& user,
            const std::string& log) {
    args.insert(args.begin(), exe);
    std::vector<char*> argv = CStringArray(args);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // Only calls that are safe after a fork in a threaded process.
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        if (user.change &&
            (setgroups(0, nullptr) != 0 || setgid(user.gid) != 0 || setuid(user.uid) != 0)) {
            _exit(126);
        }
        // After the change of user, which clears it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(125);
        }
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    if (out >= 0) {
        close(out);
    }
    return pid;
}

std::string Tail(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::string all = text.str();
    return all.size() > 600 ? all.substr(all.size() - 600) : all;
}

} // namespace

PostgresServer::PostgresServer() {
    bin_ = ServerBinaries();
    installed_ = !bin_.empty();
    if (!installed_) {
        why_ = "no PostgreSQL server under /usr/lib/postgresql (Debian package postgresql)";
        return;
    }
    if (folder_.Path().empty()) {
        why_ = "no temporary folder for the cluster";
        return;
    }
    Start();
}

bool PostgresServer::Start() {
    RunAs user;
    const std::string data = folder_.File("data");
    const std::string log = folder_.File("server.log");
    if (mkdir(data.c_str(), 0700) != 0) {
        why_ = "cannot make " + data;
        return false;
    }
    if (geteuid() == 0) {
        const passwd* pg = getpwnam("postgres");
        if (pg == nullptr) {
            why_ = "running as root, and there is no user postgres to run the server as";
            return false;
        }
        user = {true, pg->pw_uid, pg->pw_gid};
        // The server's user must reach its folder and own its data.
        if (chmod(folder_.Path().c_str(), 0755) != 0 ||
            chown(data.c_str(), user.uid, user.gid) != 0) {
            why_ = "cannot hand " + data + " to the user postgres";
            return false;
        }
    }
    const pid_t init = Spawn(
        bin_ + "/initdb",
        {"-D", data, "-U", "pellwick", "-A", "trust", "-E", "UTF8", "--locale=C", "--no-sync"},
        user, log);
    int status = 0;
    if (init < 0 || waitpid(init, &status, 0) != init || ExitStatusOf(status) != 0) {
        why_ = "initdb failed: " + Tail(log);
        return false;
    }
    const int probe = test::ListenOnLoopback(1, port_);
    if (probe < 0) {
        why_ = "no free port on 127.0.0.1";
        return false;
    }
    close(probe);
    pid_ = Spawn(bin_ + "/postgres",
                 {"-D", data, "-p", std::to_string(port_), "-c", "listen_addresses=127.0.0.1", "-c",
                  "unix_socket_directories=" + data, "-c", "max_connections=40"},
                 user, log);
    if (pid_ < 0) {
        why_ = "cannot start postgres";
        return false;
    }
    // The server writes "ready" into postmaster.pid once it accepts connections.
    const std::string pidFile = data + "/postmaster.pid";
    bool exited = false;
    const bool ready = test::WaitUntil([&] {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exited = true;
            return true;
        }
        std::ifstream in(pidFile);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("ready", 0) == 0) {
                return true;
            }
        }
        return false;
    });
    if (!ready || exited) {
        if (!exited) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
        why_ = "postgres did not become ready: " + Tail(log);
        return false;
    }
    return true;
}

PostgresServer::~PostgresServer() {
    if (pid_ <= 0) {
        return;
    }
    // Fast shutdown: the connections are cut, the server ends within moments.
    kill(pid_, SIGINT);
    int status = 0;
    if (!test::WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 20000)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
}

std::string PostgresServer::Address(const std::string& database) const {
    return "postgresql://pellwick@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

} // namespace pellwick
