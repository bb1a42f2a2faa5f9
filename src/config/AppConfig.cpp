#include "config/AppConfig.h"

#include "config/Clock.h"
#include "config/ProgramFiles.h"
#include "framework/ports/files.h"

namespace config {

namespace {
AppConfig record;
FixedNames fixed;

// A file with NUL bytes and no byte order mark (UTF-16 saved without one)
// reads as garbage, and the system's INI writes would cut it down to the
// key written: never write to it. A file that cannot be read is left to the
// profile functions.
bool readableAsText(const std::string& relativePath) {
    std::string bytes;
    if (!fw::readFile(programPath(relativePath), bytes, std::size_t{16} << 20)) return true;
    if (bytes.starts_with("\xff\xfe") || bytes.starts_with("\xfe\xff")) return true;
    return bytes.find('\0') == std::string::npos;
}
} // namespace

AppConfig& appConfig() {
    return record;
}

const FixedNames& fixedNames() {
    return fixed;
}

void loadConfig() {
    const std::string sep(1, fw::pathSeparator());
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

    if (!readableAsText(fixed.configFile)) {
        // Broken: checkConfig says so, and the file stays as it is.
        record.loginUrl.clear();
        return;
    }
    if (readIni(fixed.configFile, fixed.install, "installTime").empty())
        writeIni(fixed.configFile, fixed.install, "installTime", timeStamp());

    if (record.loginUrl.find("http") == std::string::npos) record.loginUrl.clear();
}

void checkConfig() {
    if (!record.loginUrl.empty()) return;
    fw::Platform::get().messageBox("程序配置文件已损坏，请到官网重新下载", "系统提示", fw::kOkOnly);
    fw::Platform::get().end();
}

} // namespace config
