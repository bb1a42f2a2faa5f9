// inidump.exe BASE SCRIPT OUT: runs an INI script (see inidump_script.h)
// through kernel32's narrow private-profile API, as the launcher calls it:
// a 1025-byte buffer and an empty default unless the script gives one.
#include "inidump_script.h"

#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const std::string base = argv[1];
    auto full = [&](const std::string& file) { return base + "\\" + file; };
    inidump::Engine engine;
    engine.read = [&](const std::string& file, const std::string& section, const std::string& key,
                      const std::string& def) {
        char buffer[1025] = {};
        const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buffer,
                                                 sizeof buffer, full(file).c_str());
        return std::string(buffer, n);
    };
    engine.write = [&](const std::string& file, const std::string& section, const std::string& key,
                       const std::string& value) {
        return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                          full(file).c_str()) != 0;
    };
    engine.exists = [&](const std::string& file) {
        return GetFileAttributesA(full(file).c_str()) != INVALID_FILE_ATTRIBUTES;
    };
    return inidump::run(argv[2], argv[3], engine) ? 0 : 1;
}
