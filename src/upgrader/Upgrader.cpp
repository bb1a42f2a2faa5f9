#include "upgrader/Upgrader.h"

#include "upgrader/Payload.h"

namespace upgrader {

std::string launcherFolder(std::string_view programPath, char separator) {
    const auto own = programPath.rfind(separator);
    if (own == std::string_view::npos || own == 0) return {};
    const auto parent = programPath.rfind(separator, own - 1);
    if (parent == std::string_view::npos) return {};
    // "/update/upgrade" lies in the root's "update"; so does "C:\update\upgrade.exe".
    const bool root = parent == 0 || (parent == 2 && programPath[1] == ':');
    return std::string(programPath.substr(0, root ? parent + 1 : parent));
}

namespace {

std::string join(const std::string& folder, const char* name, char separator) {
    return folder.back() == separator ? folder + name : folder + separator + name;
}

class Run {
public:
    Run(System& system, const Settings& settings)
        : sys_(system), settings_(settings), title_(settings.gameName + "升级") {}

    int operator()() {
        const char sep = sys_.separator();
        const std::string own = sys_.ownPath();
        const std::string folder = launcherFolder(own, sep);
        if (folder.empty()) return refuse("no launcher folder above " + own, failed());
        std::string file, why;
        if (!sys_.readFile(own, file, why)) return refuse(why, failed());
        Payload payload;
        if (const auto fault = readPayload(file, payload); fault != PayloadFault::None)
            return refuse(own + ": damaged payload, " + describe(fault),
                          settings_.gameName +
                              "升级程序已损坏，原登录器未改动。请到官网下载最新版本。");
        const std::string launcher = join(folder, sys_.launcherName().c_str(), sep);
        const std::string ini = join(folder, "launcher.ini", sep);
        std::string oldLauncher, oldIni;
        if (!sys_.readFile(launcher, oldLauncher, why)) return refuse(why, failed());

        switch (sys_.claimFolder(folder, settings_.waitMs, why)) {
        case System::Claim::Free: break;
        case System::Claim::Busy:
            return refuse("a launcher of " + folder + " still runs after " +
                              std::to_string(settings_.waitMs / 1000) + " s",
                          "请先关闭正在运行的" + settings_.gameName +
                              "登录器，然后重新启动登录器完成升级。");
        case System::Claim::Failed: return refuse(why, failed());
        }
        // Read once no launcher runs: they write it until they end.
        if (!sys_.readFile(ini, oldIni, why)) return releaseAndRefuse(why, failed());
        const std::string version(payload.version);
        if (!sys_.replaceFile(launcher, payload.launcher, why))
            return releaseAndRefuse(why, failed());
        if (!sys_.writeVersion(ini, version, why)) {
            const bool restored = restore(launcher, oldLauncher);
            return releaseAndRefuse(why, restored ? failed() : broken());
        }
        sys_.releaseFolder();
        if (!sys_.start(launcher, folder, why)) {
            // A launcher that cannot start (say, one built for another
            // system) is worse than the old one.
            const bool restored = restore(launcher, oldLauncher) && restore(ini, oldIni);
            return refuse(why, restored ? failed() : broken());
        }
        sys_.log("upgraded to " + version);
        return 0;
    }

private:
    std::string failed() const {
        return settings_.gameName + "登录器升级失败，原登录器未改动。请到官网下载最新版本。";
    }
    std::string broken() const {
        return settings_.gameName + "登录器升级失败，请到官网下载最新版本，重新安装登录器。";
    }

    int refuse(const std::string& cause, const std::string& text) {
        sys_.log("upgrade failed: " + cause);
        sys_.tell(title_, text);
        return 1;
    }
    // Launchers started meanwhile wait for the release: never keep them
    // waiting behind a message.
    int releaseAndRefuse(const std::string& cause, const std::string& text) {
        sys_.releaseFolder();
        return refuse(cause, text);
    }
    bool restore(const std::string& path, const std::string& bytes) {
        std::string why;
        if (sys_.replaceFile(path, bytes, why)) return true;
        sys_.log("not restored: " + why);
        return false;
    }

    System& sys_;
    const Settings& settings_;
    const std::string title_;
};

} // namespace

int run(System& system, const Settings& settings) {
    return Run(system, settings)();
}

} // namespace upgrader
