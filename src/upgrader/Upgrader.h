// The upgrade program (update/upgrade[.exe] beside the launcher): it waits
// until every launcher of its folder has ended, puts the launcher it carries
// (Payload.h) in place of the old one, records the new version in
// launcher.ini and starts the new launcher. Anything that fails leaves the
// old launcher and launcher.ini as they were, and the player is told. The
// rules are here; the system's part is a System of main/<os>/upgrade_main.cpp.
#pragma once

#include <string>
#include <string_view>

namespace upgrader {

// The launcher's folder: the parent of the folder the program lies in
// ("/games/x/update/upgrade" gives "/games/x"), a root keeping its separator;
// empty when the path has no such folder.
std::string launcherFolder(std::string_view programPath, char separator);

class System {
public:
    virtual ~System() = default;
    virtual char separator() const = 0;
    // "launcher.exe" or "launcher".
    virtual std::string launcherName() const = 0;
    // This program's full path.
    virtual std::string ownPath() = 0;
    // `why` holds the cause with the system's error for the player's log.
    virtual bool readFile(const std::string& path, std::string& bytes, std::string& why) = 0;
    // Waits at most `waitMs` until no launcher of `folder` runs; where the
    // system allows, no launcher can start until releaseFolder.
    enum class Claim { Free, Busy, Failed };
    virtual Claim claimFolder(const std::string& folder, int waitMs, std::string& why) = 0;
    virtual void releaseFolder() = 0;
    // Never half written: a flushed temporary file beside `path`, renamed
    // over it, keeping its mode.
    virtual bool replaceFile(const std::string& path, std::string_view bytes, std::string& why) = 0;
    // [common] version in the INI file, every other byte kept.
    virtual bool writeVersion(const std::string& ini, const std::string& version,
                              std::string& why) = 0;
    // Starts `program` in `folder` without arguments and without waiting.
    virtual bool start(const std::string& program, const std::string& folder, std::string& why) = 0;
    virtual void tell(const std::string& title, const std::string& text) = 0;
    // A line for the player's log.
    virtual void log(const std::string& line) = 0;
};

struct Settings {
    std::string gameName;
    int waitMs = 30000;
};

// The whole upgrade; the program's exit status.
int run(System& system, const Settings& settings);

} // namespace upgrader
