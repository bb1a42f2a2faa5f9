#include "config/ProgramFiles.h"

#include <cstddef>

namespace config {

namespace {
// The size of the buffer a value is read into: values are cut at 1024 bytes.
constexpr std::size_t kValueBuffer = 1025;
} // namespace

std::string programPath(const std::string& relative) {
    auto& p = fw::Platform::get();
    std::string folder = p.exeFolder();
    if (folder.empty() || folder.back() != p.pathSeparator()) folder += p.pathSeparator();
    return folder + relative;
}

std::string readIni(const std::string& file, const std::string& section, const std::string& key) {
    return fw::Platform::get().readProfileString(section, key, "", kValueBuffer, programPath(file));
}

long writeIni(const std::string& file, const std::string& section, const std::string& key,
              const std::string& value) {
    ensureFolder(file);
    return fw::Platform::get().writeProfileString(section, key, value, programPath(file)) ? 1 : 0;
}

void ensureFolder(const std::string& relative) {
    auto& p = fw::Platform::get();
    const auto sep = relative.find(p.pathSeparator());
    if (sep == std::string::npos) return;
    const std::string folder = programPath(relative.substr(0, sep));
    if (!p.pathExists(folder)) p.createFolder(folder);
}

} // namespace config
