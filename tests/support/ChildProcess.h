// Small pieces shared by the tests that start child processes.
#pragma once

#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <vector>

namespace pellwick {

// A null-terminated array of pointers into texts, as posix_spawn takes argv and envp. The texts
// must outlive the array.
inline std::vector<char*> CStringArray(std::vector<std::string>& texts) {
    std::vector<char*> array;
    for (auto& text : texts) {
        array.push_back(text.data());
    }
    array.push_back(nullptr);
    return array;
}

// The exit status of a child process as a shell reports it: the exit code, or 128 + the signal.
inline int ExitStatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    if (WIFSIGNALED(waitStatus)) {
        return 128 + WTERMSIG(waitStatus);
    }
    return -1;
}

// How SpawnWithOutputPipe starts a child.
struct SpawnOptions {
    std::string folder;          // working directory; empty: this process's
    char* const* envp = nullptr; // environment; none: this process's
    bool noInput = false;        // standard input from /dev/null
    bool errorsToo = false;      // standard error into the same pipe as standard output
};

// Starts exe with args, its standard output going into a pipe. On success pid and outFd (the
// pipe's reading end, close-on-exec) are set; on failure error says why.
bool SpawnWithOutputPipe(const std::string& exe, const std::vector<std::string>& args,
                         const SpawnOptions& options, pid_t& pid, int& outFd, std::string& error);

} // namespace pellwick
