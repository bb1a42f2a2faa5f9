// The configuration record, read once from "launcher.ini" before any window
// exists and read-only afterwards.
#pragma once

#include <string>

namespace config {

struct AppConfig {
    std::string version;
    std::string versionCheckUrl;
    std::string versionUpdateUrl;
    std::string loginUrl;
    std::string mainUrl;
    std::string homeUrl;
    std::string chargeUrl;
    std::string serviceUrl;
    std::string forumUrl;
};

// The one record of the run.
AppConfig& appConfig();

// Fixed names, set at the start of loadConfig.
struct FixedNames {
    std::string configFile;  // "launcher.ini"
    std::string versionFile; // "update" + separator + "upgrade.ini"
    std::string upgradeFile; // "update" + separator + "upgrade.exe"
    std::string common, platform, install, log;
};

const FixedNames& fixedNames();

void loadConfig();
void checkConfig();

} // namespace config
