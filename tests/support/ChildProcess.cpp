#include "support/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

namespace pellwick {

bool SpawnWithOutputPipe(const std::string& exe, const std::vector<std::string>& args,
                         const SpawnOptions& options, pid_t& pid, int& outFd, std::string& error) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    std::vector<std::string> argvText{exe};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv = CStringArray(argvText);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!options.folder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, options.folder.c_str());
    }
    if (options.noInput) {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (options.errorsToo) {
        posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    }
    // The child starts with SIGPIPE at its default action, as from a shell, whatever this
    // process does with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const int spawned = posix_spawn(&pid, exe.c_str(), &actions, &attributes, argv.data(),
                                    options.envp ? options.envp : environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        pid = -1;
        error = exe + ": " + std::strerror(spawned);
        return false;
    }
    outFd = out[0];
    return true;
}

} // namespace pellwick
