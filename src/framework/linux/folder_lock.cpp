#include "framework/linux/folder_lock.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace fw {

int openFolderLock(const std::string& folder) {
    const std::string update = folder + (folder.ends_with('/') ? "update" : "/update");
    ::mkdir(update.c_str(), 0755); // already there, mostly
    return ::open((update + "/launcher.lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
}

} // namespace fw
