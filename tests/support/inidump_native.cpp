// inidump_native BASE SCRIPT OUT: the same INI script as inidump.exe, run
// through our own private-profile engine, so the two can be compared.
#include "inidump_script.h"

#include "framework/linux/profile.h"

#include <sys/stat.h>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const std::string base = argv[1];
    auto full = [&](const std::string& file) { return base + "/" + file; };
    inidump::Engine engine;
    engine.read = [&](const std::string& file, const std::string& section, const std::string& key,
                      const std::string& def) {
        return fw::profile::readFile(full(file), section, key, def, 1025);
    };
    engine.write = [&](const std::string& file, const std::string& section, const std::string& key,
                       const std::string& value) {
        return fw::profile::writeFile(full(file), section, key, value);
    };
    engine.exists = [&](const std::string& file) {
        struct stat st {};
        return ::stat(full(file).c_str(), &st) == 0;
    };
    return inidump::run(argv[2], argv[3], engine) ? 0 : 1;
}
