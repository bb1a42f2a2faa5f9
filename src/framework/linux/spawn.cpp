#include "framework/linux/spawn.h"

#include <csignal>
#include <cstring>
#include <spawn.h>

extern char** environ;

namespace fw {

int spawnProgram(const char* file, char* const argv[], int keep, const char* folder, pid_t& pid) {
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    if (folder) posix_spawn_file_actions_addchdir_np(&files, folder);
    if (keep >= 0) posix_spawn_file_actions_adddup2(&files, keep, 3);
    posix_spawn_file_actions_addclosefrom_np(&files, keep >= 0 ? 4 : 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attr, &signals);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &signals);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int failed = std::strchr(file, '/')
                           ? posix_spawn(&pid, file, &files, &attr, argv, environ)
                           : posix_spawnp(&pid, file, &files, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&files);
    return failed;
}

} // namespace fw
