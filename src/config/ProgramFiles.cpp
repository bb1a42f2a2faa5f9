#include "config/ProgramFiles.h"

#include "framework/ports/files.h"

#include <cstddef>

namespace config {

namespace {
// The size of the buffer a value is read into: values are cut at 1024 bytes.
constexpr std::size_t kValueBuffer = 1025;
} // namespace

std::string programPath(const std::string& relative) {
    std::string folder = fw::Platform::get().exeFolder();
    if (folder.empty() || folder.back() != fw::pathSeparator()) folder += fw::pathSeparator();
    return folder + relative;
}

std::string readIni(const std::string& file, const std::string& section, const std::string& key) {
    return fw::readProfileString(section, key, "", kValueBuffer, programPath(file));
}

long writeIni(const std::string& file, const std::string& section, const std::string& key,
              const std::string& value) {
    ensureFolder(file);
    return fw::writeProfileString(section, key, value, programPath(file)) ? 1 : 0;
}

void ensureFolder(const std::string& relative) {
    const auto sep = relative.find(fw::pathSeparator());
    if (sep == std::string::npos) return;
    const std::string folder = programPath(relative.substr(0, sep));
    if (!fw::pathExists(folder)) fw::createFolder(folder);
}

} // namespace config
