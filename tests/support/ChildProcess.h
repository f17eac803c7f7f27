// Small pieces shared by the tests that start child processes.
#pragma once

#include <string>
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

} // namespace pellwick
