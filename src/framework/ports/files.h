// Port: the executable's folder and resources, files and folders, and
// private-profile (INI) files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fw {

class Files {
public:
    virtual ~Files() = default;

    // The executable's folder, without a trailing separator except for a root.
    virtual std::string exeFolder() = 0;
    virtual char pathSeparator() const = 0;
    virtual std::vector<std::uint8_t> resource(int id, const std::string& type) = 0;

    // True when anything has that name, a dangling link included: nothing
    // else may be made under it.
    virtual bool pathExists(const std::string& path) = 0;
    virtual bool createFolder(const std::string& path) = 0;
    // The names in a folder (files and folders alike), in no order; none
    // when it cannot be read.
    virtual std::vector<std::string> folderEntries(const std::string& path) = 0;
    // Moves `from` over `to`, replacing it; false when nothing was moved.
    virtual bool replaceFile(const std::string& from, const std::string& to) = 0;
    virtual bool removeFile(const std::string& path) = 0;

    // Private-profile access. Texts are UTF-8 here; the adapter deals with
    // the file's own bytes.
    virtual std::string readProfileString(const std::string& section, const std::string& key,
                                          const std::string& defaultValue, std::size_t bufferSize,
                                          const std::string& path) = 0;
    virtual bool writeProfileString(const std::string& section, const std::string& key,
                                    const std::string& value, const std::string& path) = 0;
};

} // namespace fw
