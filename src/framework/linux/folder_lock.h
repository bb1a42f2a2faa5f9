// The lock that tells the upgrade program whether launchers of a folder run:
// each launcher holds a shared flock on "<folder>/update/launcher.lock" for
// its lifetime; the upgrade program takes it exclusively before it replaces
// the launcher.
#pragma once

#include <string>

namespace fw {

// The lock file, opened for locking (close-on-exec), with "update" and the
// file made when missing; -1 with errno set when it cannot be opened.
int openFolderLock(const std::string& folder);

} // namespace fw
