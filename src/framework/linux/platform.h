// What the two Linux builds (gtk, headless) share: the executable's folder,
// the compiled-in resources, the player's log, held files, the local clock
// and the diagnostic output on standard error; files, downloads and
// signatures are the free functions of files.h and network.h (platform.cpp,
// held_file.cpp, replacement_file.cpp, signature.cpp). The desktop is each
// build's own.
#pragma once

#include "framework/ports/platform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fw {

class LinuxPlatform : public Platform {
public:
    LinuxPlatform();

    DateTime localNow() override;
    void writeDiagnostic(const std::string& line) override;

    std::string exeFolder() override;
    std::vector<std::uint8_t> resource(int id, const std::string& type) override;
    // framework/linux/player_folder.cpp.
    std::string playerLogPath() override;
    // held_file.cpp.
    std::unique_ptr<HeldFile> holdFile(const std::string& path) override;

private:
    std::string exeFolder_;
};

// Starts the program held open as `fd` (named `path`, its argv[0]) without
// arguments: a held file's start. Each Linux build defines it (gtk: through
// the descriptor; headless: the platform's startProcess of the quoted path).
// False when it could not start.
bool startHeldProgram(int fd, const std::string& path);

} // namespace fw
