// Files: paths and folders, reading and removing files, held files,
// private-profile (INI) files and the folder lock. Each build links one
// definition (framework/linux/, framework/win32/); what a test puts in place
// of the system (the executable's folder, its resources, the player's log,
// holding a file) is Host's (framework/ports/platform.h).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace fw {

// A file held open so that what is read from it is what is moved and
// started: while the object lives no other process can change its bytes or
// take its place under its name (Windows: open for reading and deleting,
// shared for reading only; Linux: a name is trusted only when it leads to
// the open file, and a program is executed through it, a script by its
// checked name, since its interpreter reads it by name). Closed with the
// object.
class HeldFile {
public:
    virtual ~HeldFile() = default;
    // The whole content; false when it cannot be read or is longer than
    // `maxBytes`.
    virtual bool read(std::string& bytes, std::size_t maxBytes) = 0;
    // Renames the held file over `target` in the same folder, replacing it;
    // the file stays held under its new name. False when nothing was moved
    // or the name no longer leads to the held file.
    virtual bool moveTo(const std::string& target) = 0;
    // Starts the held file as a program without arguments, as
    // Host::startProcess does (made executable first where the system
    // needs it). False when it could not be started.
    virtual bool start() = 0;
};

char pathSeparator();

// True when anything has that name, a dangling link included: nothing
// else may be made under it.
bool pathExists(const std::string& path);
bool createFolder(const std::string& path);
// The names in a folder (files and folders alike), in no order; none
// when it cannot be read.
std::vector<std::string> folderEntries(const std::string& path);
bool removeFile(const std::string& path);
// Up to `maxBytes` of the file's beginning; false when it cannot be read.
bool readFile(const std::string& path, std::string& bytes, std::size_t maxBytes);

// Marks the program's folder (Host::exeFolder) as in use by this run until
// the process ends, for the upgrade program to wait on: a shared lock on
// "update/launcher.lock" (Linux), a named mutex made from the folder's path
// (Windows). Failures are ignored.
void holdFolderLock();

// Private-profile access. Texts are UTF-8 here; the build deals with the
// file's own bytes.
std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, std::size_t bufferSize,
                              const std::string& path);
bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path);

} // namespace fw
