// Starting a program on Linux, as the launcher and the upgrade program both
// do it: executed directly (glibc's posix_spawn reports a failed exec, a file
// without a program header included, and never hands the file to /bin/sh),
// with no descriptor of ours and a plain signal state.
#pragma once

#include <sys/types.h>

namespace fw {

// Starts `file` with `argv`; `keep` (or -1) becomes the child's descriptor 3,
// `folder` (or null) its working folder. 0, with the child in `pid`, or the
// error number.
int spawnProgram(const char* file, char* const argv[], int keep, const char* folder, pid_t& pid);

} // namespace fw
