#include "e2e/RunnerProcess.h"

#include "support/ChildProcess.h"
#include "support/WaitUntil.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace pellwick {

namespace {

// The test's environment with the C locale, so that date texts are predictable.
std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("LC_", 0) != 0 && entry.rfind("LANG=", 0) != 0 &&
            entry.rfind("LANGUAGE=", 0) != 0) {
            env.push_back(entry);
        }
    }
    env.push_back("LC_ALL=C");
    return env;
}

} // namespace

RunnerProcess::~RunnerProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) {
        close(outFd_);
    }
}

std::string RunnerProcess::ExecutablePath() {
    return PELLWICK_RUN_EXE;
}

bool RunnerProcess::Start(const std::string& folder, const std::vector<std::string>& args,
                          const std::string& exe) {
    std::vector<std::string> envText = ChildEnvironment();
    std::vector<char*> envp = CStringArray(envText);
    SpawnOptions options;
    options.folder = folder;
    options.envp = envp.data();
    options.noInput = true;
    options.errorsToo = true;
    return SpawnWithOutputPipe(exe, args, options, pid_, outFd_, error_);
}

bool RunnerProcess::Drain(std::chrono::milliseconds wait) {
    if (outFd_ < 0) {
        return false;
    }
    pollfd p{outFd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(wait.count())) <= 0) {
        return true;
    }
    char buffer[4096];
    const ssize_t n = read(outFd_, buffer, sizeof buffer);
    if (n > 0) {
        output_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    if (n < 0 && errno == EINTR) {
        return true;
    }
    close(outFd_);
    outFd_ = -1;
    return false;
}

void RunnerProcess::Reap() {
    if (pid_ <= 0) {
        return;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = ExitStatusOf(status);
        pid_ = -1;
    }
}

int RunnerProcess::Wait(std::chrono::milliseconds timeout) {
    const bool ended = test::WaitUntil(
        [this] {
            Reap();
            return pid_ <= 0;
        },
        timeout,
        [this] {
            if (!Drain(std::chrono::milliseconds(20))) {
                // The output has closed; the end follows at once.
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    if (!ended) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        error_ = "the program overstayed its deadline and was killed";
        Drain(std::chrono::milliseconds(0));
        return -2;
    }
    // What the runner wrote last is still in the pipe.
    while (outFd_ >= 0) {
        Drain(std::chrono::milliseconds(100));
    }
    return status_;
}

bool RunnerProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto shown = [&] { return output_.find(text) != std::string::npos; };
    // Once the output has closed, no more text can come.
    (void)test::WaitUntil([&] { return shown() || outFd_ < 0; }, timeout,
                          [this] { Drain(std::chrono::milliseconds(20)); });
    return shown();
}

void RunnerProcess::CloseOutput() {
    if (outFd_ >= 0) {
        close(outFd_);
        outFd_ = -1;
    }
}

bool RunnerProcess::Signal(int signal) const {
    return pid_ > 0 && kill(pid_, signal) == 0;
}

int RunnerProcess::Run(const std::string& folder, const std::vector<std::string>& args,
                       std::string& output, std::chrono::milliseconds timeout) {
    RunnerProcess runner;
    if (!runner.Start(folder, args)) {
        output = runner.Error();
        return -1;
    }
    const int status = runner.Wait(timeout);
    output = runner.Output();
    return status;
}

} // namespace pellwick
