#include "upgrade/VersionCheck.h"

#include "config/AppConfig.h"
#include "config/ProgramFiles.h"
#include "upgrade/SignedUpgrade.h"

namespace upgrade {

namespace {
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

std::string requestAddress(const std::string& address) {
    // Appended even after an existing "?": servers may rely on the exact form.
    return address +
           "?v=" + std::to_string(config::secondsSince1970(fw::Platform::get().localNow()));
}

fw::DownloadOutcome downloadFile(const std::string& address, const std::string& relativePath,
                                 fw::DownloadWatch* watch, const fw::DownloadBounds& bounds) {
    auto& platform = fw::Platform::get();
    const std::string url = requestAddress(address);
    config::ensureFolder(relativePath);
    fw::DownloadOutcome outcome =
        platform.download(url, config::programPath(relativePath), watch, bounds);
    if (!outcome.done()) platform.diagnostic("download of " + url + ": " + outcome.cause);
    return outcome;
}

bool runProgram(std::string relativePath) {
    const std::string path = config::programPath(relativePath);
    fw::Platform::get().markExecutable(path);
    // Quoted, so that a folder with blanks cannot start another program.
    return fw::Platform::get().startProcess("\"" + path + "\"");
}

namespace {
void removeStaleDownloads() {
    // A download writes beside its target and renames over it once complete,
    // so such a file found now was left by a launcher that ended mid-way,
    // unless a launcher running now still writes it (the platform keeps those).
    auto& platform = fw::Platform::get();
    const config::FixedNames& fixed = config::fixedNames();
    const std::size_t cut = fixed.versionFile.rfind(platform.pathSeparator());
    const std::string folder = fixed.versionFile.substr(0, cut);
    const std::string folderPath = config::programPath(folder);
    const auto leaf = [cut](const std::string& relative) { return relative.substr(cut + 1); };
    const std::string targets[] = {leaf(fixed.versionFile), leaf(fixed.upgradeFile),
                                   leaf(fixed.upgradeFile) + kUnverifiedSuffix};
    for (const std::string& name : platform.folderEntries(folderPath))
        for (const std::string& target : targets)
            if (fw::isDownloadTemporary(name, target))
                platform.removeLeftover(folderPath + platform.pathSeparator() + name);
}
} // namespace

void checkVersion(const ProgressOwner& owner) {
    using config::readIni, config::writeIni;
    const config::FixedNames& fixed = config::fixedNames();
    removeStaleDownloads();
    const auto fetched = downloadFile(config::appConfig().versionCheckUrl, fixed.versionFile,
                                      nullptr, versionCheckBounds);
    if (!fetched.done()) {
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
    if (answer == fw::kIdOk) downloadUpgrade(owner);
}

void downloadUpgrade(const ProgressOwner& owner) {
    using config::readIni, config::writeIni, config::timeStamp;
    const config::FixedNames& fixed = config::fixedNames();
    const std::string signature = readIni(fixed.versionFile, fixed.common, kSignatureKey);
    const Fetch withProgress = [&owner](const std::string& address, const std::string& target) {
        return downloadWithProgress(address, target, owner);
    };
    const fw::DownloadOutcome outcome = downloadVerified(
        config::appConfig().versionUpdateUrl, fixed.upgradeFile, signature, withProgress);
    if (outcome.done()) {
        writeIni(fixed.configFile, fixed.log, "versionUpdateLog",
                 "load version application success");
        writeIni(fixed.configFile, fixed.install, "upgradeTime", timeStamp());
        if (runProgram(fixed.upgradeFile)) fw::Platform::get().end();
        // Ending now would leave the player with nothing on screen.
        fw::Platform::get().messageBox("升级程序启动失败，请到官网下载最新版本", "升级提示",
                                       fw::kOkOnly);
        return;
    }
    writeIni(fixed.configFile, fixed.log, "versionUpdateLog", "load version application failed");
    if (outcome.result == fw::DownloadOutcome::Result::Cancelled) return; // the player stopped it
    if (outcome.result != fw::DownloadOutcome::Result::Failed)
        fw::Platform::get().diagnostic("upgrade program refused: " + outcome.cause);
    fw::Platform::get().messageBox("升级文件下载失败，请稍候再试", "升级提示", fw::kOkOnly);
}

} // namespace upgrade
