// The exit status of a child process as a shell reports it: the exit code, or 128 + the signal.
#pragma once

#include <sys/wait.h>

namespace pellwick {

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
