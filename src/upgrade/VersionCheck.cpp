#include "upgrade/VersionCheck.h"

#include "config/AppConfig.h"
#include "config/Clock.h"
#include "config/ProgramFiles.h"
#include "framework/ports/files.h"
#include "framework/ports/network.h"
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
    const std::string url = requestAddress(address);
    config::ensureFolder(relativePath);
    fw::DownloadOutcome outcome =
        fw::download(url, config::programPath(relativePath), watch, bounds);
    if (!outcome.done())
        fw::Platform::get().diagnostic("download of " + url + ": " + outcome.cause);
    return outcome;
}

namespace {
void removeStaleDownloads() {
    // A download writes beside its target and renames over it once complete,
    // and an upgrade download goes to a file of its own until it is checked,
    // so such a file found now was left by a launcher that ended mid-way,
    // unless a launcher running now still writes or holds it (the platform
    // keeps those).
    const config::FixedNames& fixed = config::fixedNames();
    const std::size_t cut = fixed.versionFile.rfind(fw::pathSeparator());
    const std::string folder = fixed.versionFile.substr(0, cut);
    const std::string folderPath = config::programPath(folder);
    const auto leaf = [cut](const std::string& relative) { return relative.substr(cut + 1); };
    const std::string program = leaf(fixed.upgradeFile);
    for (const std::string& name : fw::folderEntries(folderPath))
        if (fw::isDownloadTemporary(name, leaf(fixed.versionFile)) ||
            fw::isDownloadTemporary(name, program) || isUnverifiedFile(name, program))
            fw::removeLeftover(folderPath + fw::pathSeparator() + name);
}

// A check that fetched a version file but cannot use it: logged as failed,
// with the cause for the player's log.
void refuseVersionFile(const std::string& cause) {
    const config::FixedNames& fixed = config::fixedNames();
    config::writeIni(fixed.configFile, fixed.log, "versionCheckLog", "load version config failed");
    fw::Platform::get().diagnostic("version file refused: " + cause);
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
    // A page answered with 200 (a misconfigured server, a hotel's login
    // portal) is no version file: offering "[]" would fetch another page as
    // the program.
    const std::string remote = readIni(fixed.versionFile, fixed.common, "version");
    if (remote.empty()) return refuseVersionFile("no [common] version");
    if (signedBuild() && readIni(fixed.versionFile, fixed.common, kSignatureKey).empty())
        return refuseVersionFile("no [common] " + std::string(kSignatureKey));
    writeIni(fixed.configFile, fixed.log, "versionCheckLog", "load version config success");

    // Read again from the file: the record keeps the value of the start.
    const std::string local = readIni(fixed.configFile, fixed.common, "version");
    if (local == remote) return;
    // A signed build never goes back: an older program signed once must not
    // be offered again.
    if (signedBuild() && !isNewerVersion(remote, local)) {
        fw::Platform::get().diagnostic("version [" + remote + "] is not newer than [" + local +
                                       "]: not offered");
        return;
    }

    const int answer = fw::Platform::get().messageBox(
        "检测到程序最新版本[" + remote + "]，是否更新？", "升级提示", fw::kOkCancel);
    if (answer == fw::kIdOk) downloadUpgrade(owner);
}

void downloadUpgrade(const ProgressOwner& owner) {
    using config::readIni, config::writeIni, config::timeStamp;
    const config::FixedNames& fixed = config::fixedNames();
    auto& platform = fw::Platform::get();
    const std::string version = readIni(fixed.versionFile, fixed.common, "version");
    const std::string signature = readIni(fixed.versionFile, fixed.common, kSignatureKey);
    const Fetch withProgress = [&owner](const std::string& address, const std::string& target) {
        return downloadWithProgress(address, target, owner);
    };
    const HeldUpgrade upgrade = downloadVerified(
        config::appConfig().versionUpdateUrl, fixed.upgradeFile, version, signature, withProgress);
    const UpgradeOutcome& outcome = upgrade.outcome;
    if (outcome.done()) {
        writeIni(fixed.configFile, fixed.log, "versionUpdateLog",
                 "load version application success");
        writeIni(fixed.configFile, fixed.install, "upgradeTime", timeStamp());
        if (upgrade.program->start()) platform.end();
        // Ending now would leave the player with nothing on screen.
        platform.diagnostic("the upgrade program did not start");
        platform.messageBox("升级程序启动失败，请到官网下载最新版本", "升级提示", fw::kOkOnly);
        return;
    }
    writeIni(fixed.configFile, fixed.log, "versionUpdateLog", "load version application failed");
    if (outcome.result == UpgradeOutcome::Result::Cancelled) return; // the player stopped it
    if (outcome.result != UpgradeOutcome::Result::Failed)
        platform.diagnostic("upgrade program refused: " + outcome.cause);
    platform.messageBox("升级文件下载失败，请稍候再试", "升级提示", fw::kOkOnly);
}

} // namespace upgrade
