// pellwick-run as a child process for end-to-end tests and the benchmark: started in a given
// folder with the C locale, its standard error (and output) collected while it runs, waited for
// with a deadline and killed if it overstays.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace pellwick {

class RunnerProcess {
public:
    RunnerProcess() = default;
    ~RunnerProcess();
    RunnerProcess(const RunnerProcess&) = delete;
    RunnerProcess& operator=(const RunnerProcess&) = delete;

    // Starts the runner (or another program of the project) with these arguments in `folder`;
    // false (see Error()) if it could not.
    bool Start(const std::string& folder, const std::vector<std::string>& args = {},
               const std::string& exe = ExecutablePath());
    // Waits for the end; the exit status, 128 + signal for a signal, or -2 when the deadline
    // passed (the runner is then killed).
    int Wait(std::chrono::milliseconds timeout);
    // Reads output until `text` has appeared or the deadline passed; true if it appeared.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    bool Signal(int signal) const;
    // Closes the reading end of the output, as a reader that has seen enough does.
    void CloseOutput();

    // Standard error and output together, as far as read.
    const std::string& Output() const { return output_; }
    const std::string& Error() const { return error_; }
    pid_t Pid() const { return pid_; }

    // Starts, waits and answers the exit status (-1 if it did not start).
    static int Run(const std::string& folder, const std::vector<std::string>& args,
                   std::string& output,
                   std::chrono::milliseconds timeout = std::chrono::seconds(60));

    static std::string ExecutablePath();

private:
    // Takes what the pipe holds, waiting at most `wait`; false once it is closed.
    bool Drain(std::chrono::milliseconds wait);
    void Reap();

    pid_t pid_ = -1;
    int outFd_ = -1;
    int status_ = -1;
    std::string output_;
    std::string error_;
};

} // namespace pellwick
