// The configuration record, read once from "launcher.ini" before any window
// exists and read-only afterwards.
#pragma once

#include "framework/ports/platform.h"

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

void loadConfig();
void checkConfig();

// Version check and upgrade: runs once per start, after checkConfig. The
// check first removes the temporary files that downloads of earlier runs
// left in "update" (removeStaleDownloads).
void checkVersion();
void downloadUpgrade();
void removeStaleDownloads();

// Tests and test programs only: other bounds for the version file's download
// (fw::DownloadBounds{} restores the launcher's own).
void setVersionCheckBoundsForTests(const fw::DownloadBounds& bounds);

} // namespace config
