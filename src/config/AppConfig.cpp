#include "config/AppConfig.h"

#include "app/Application.h"
#include "app/DownloadProgress.h"
#include "config/ProgramFiles.h"
#include "config/SignedUpgrade.h"
#include "framework/ports/platform.h"

namespace config {

namespace {
AppConfig record;
FixedNames fixed;

// The version file holds a key or two: a megabyte is generous, and nothing
// bigger is kept. Its download blocks the login face, so it ends within half
// a minute whatever the server does. The upgrade download has no such
// bounds: a slow but live one must be able to finish.
constexpr fw::DownloadBounds kVersionCheckBounds{30000, 1 << 20};
fw::DownloadBounds versionCheckBounds = kVersionCheckBounds;
} // namespace

void setVersionCheckBoundsForTests(const fw::DownloadBounds& bounds) {
    versionCheckBounds = bounds.totalMs || bounds.maxBytes ? bounds : kVersionCheckBounds;
}

AppConfig& appConfig() {
    return record;
}

void loadConfig() {
    const std::string sep(1, fw::Platform::get().pathSeparator());
    fixed = FixedNames{"launcher.ini",
                       "update" + sep + "upgrade.ini",
                       "update" + sep + "upgrade.exe",
                       "common",
                       "platform",
                       "install",
                       "log"};

    auto common = [](const char* key) { return readIni(fixed.configFile, fixed.common, key); };
    auto platform = [](const char* key) { return readIni(fixed.configFile, fixed.platform, key); };
    record.version = common("version");
    record.versionCheckUrl = common("versionCheckUrl");
    record.versionUpdateUrl = common("versionUpdateUrl");
    record.loginUrl = platform("loginUrl");
    record.mainUrl = platform("mainUrl");
    record.homeUrl = platform("homeUrl");
    record.chargeUrl = platform("chargeUrl");
    record.serviceUrl = platform("serviceUrl");
    record.forumUrl = platform("forumUrl");

    if (readIni(fixed.configFile, fixed.install, "installTime").empty())
        writeIni(fixed.configFile, fixed.install, "installTime", timeStamp());

    if (record.loginUrl.find("http") == std::string::npos) record.loginUrl.clear();
}

void checkConfig() {
    if (!record.loginUrl.empty()) return;
    fw::Platform::get().messageBox("程序配置文件已损坏，请到官网重新下载", "系统提示", fw::kOkOnly);
    fw::Platform::get().end();
}

void removeStaleDownloads() {
    // A download writes beside its target and renames over it once complete,
    // so such a file found now was left by a launcher that ended mid-way,
    // unless a launcher running now still writes it (the platform keeps those).
    auto& platform = fw::Platform::get();
    const std::size_t cut = fixed.versionFile.rfind(platform.pathSeparator());
    const std::string folder = fixed.versionFile.substr(0, cut);
    const std::string folderPath = programPath(folder);
    const auto leaf = [cut](const std::string& relative) { return relative.substr(cut + 1); };
    const std::string targets[] = {leaf(fixed.versionFile), leaf(fixed.upgradeFile),
                                   leaf(fixed.upgradeFile) + kUnverifiedSuffix};
    for (const std::string& name : platform.folderEntries(folderPath))
        for (const std::string& target : targets)
            if (fw::isDownloadTemporary(name, target))
                platform.removeLeftover(folderPath + platform.pathSeparator() + name);
}

void checkVersion() {
    removeStaleDownloads();
    const auto fetched =
        app::downloadFile(record.versionCheckUrl, fixed.versionFile, nullptr, versionCheckBounds);
    if (fetched != 0) {
        writeIni(fixed.configFile, fixed.log, "versionCheckLog", "load version config failed");
        return;
    }
    writeIni(fixed.configFile, fixed.log, "versionCheckLog", "load version config success");

    // Read again from the file: the record keeps the value of the start.
    const std::string local = readIni(fixed.configFile, fixed.common, "version");
    const std::string remote = readIni(fixed.versionFile, fixed.common, "version");
    if (local == remote) return;

    const int answer = fw::Platform::get().messageBox(
        "检测到程序最新版本[" + remote + "]，是否更新？", "升级提示", fw::kOkCancel);
    if (answer == fw::kIdOk) downloadUpgrade();
}

void downloadUpgrade() {
    bool cancelled = false;
    const std::string signature = readIni(fixed.versionFile, fixed.common, kSignatureKey);
    const Fetch withProgress = [&cancelled](const std::string& address, const std::string& target) {
        return app::downloadWithProgress(address, target, cancelled);
    };
    if (downloadVerified(record.versionUpdateUrl, fixed.upgradeFile, signature, withProgress) ==
        0) {
        writeIni(fixed.configFile, fixed.log, "versionUpdateLog",
                 "load version application success");
        writeIni(fixed.configFile, fixed.install, "upgradeTime", timeStamp());
        if (app::runProgram(fixed.upgradeFile)) fw::Platform::get().end();
        // Ending now would leave the player with nothing on screen.
        fw::Platform::get().messageBox("升级程序启动失败，请到官网下载最新版本", "升级提示",
                                       fw::kOkOnly);
        return;
    }
    writeIni(fixed.configFile, fixed.log, "versionUpdateLog", "load version application failed");
    // The player stopped it: no failure to report.
    if (cancelled) return;
    fw::Platform::get().messageBox("升级文件下载失败，请稍候再试", "升级提示", fw::kOkOnly);
}

} // namespace config
