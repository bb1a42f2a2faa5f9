// win32_probe.exe OUT COMMAND...: runs single services of the Windows
// platform adapter under test and writes what they answer, as UTF-8 lines,
// into the file OUT.
//   folder                  -> "folder <exeFolder>"
//   res:ID:TYPE             -> "res ID TYPE <size>" (bytes in OUT.ID.TYPE) or "res ID TYPE missing"
//   iniwrite:SECTION:KEY:V  -> "iniwrite <0|1>"   (file probe.ini beside the exe)
//   iniread:SECTION:KEY     -> "iniread <value>"
//   mkdir:REL               -> "mkdir <0|1> <exists after>"
//   now                     -> "now [yyyy-mm-dd hh:mm:ss]"
#include "config/DllFile.h"
#include "framework/win32/text.h"
#include "framework/win32/win32_platform.h"

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {
std::vector<std::string> split(const std::string& s, std::size_t parts) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (out.size() + 1 < parts) {
        const auto c = s.find(':', pos);
        if (c == std::string::npos) break;
        out.push_back(s.substr(pos, c - pos));
        pos = c + 1;
    }
    out.push_back(s.substr(pos));
    return out;
}
} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    fw::win32::Win32Platform platform(instance);
    if (__argc < 2) return 2;
    const std::wstring outPath = __wargv[1];
    std::ostringstream out;
    for (int i = 2; i < __argc; ++i) {
        const std::string cmd = fw::win32::narrow(__wargv[i]);
        const auto f = split(cmd, 4);
        try {
            if (f[0] == "folder") {
                out << "folder " << platform.exeFolder() << "\n";
            } else if (f[0] == "res" && f.size() >= 3) {
                const auto data = platform.resource(std::stoi(f[1]), f[2]);
                const std::wstring dump = outPath + L"." + fw::win32::widen(f[1]) + L"." + fw::win32::widen(f[2]);
                if (std::FILE* d = _wfopen(dump.c_str(), L"wb")) {
                    std::fwrite(data.data(), 1, data.size(), d);
                    std::fclose(d);
                }
                out << "res " << f[1] << " " << f[2] << " " << data.size() << "\n";
            } else if (f[0] == "iniwrite" && f.size() == 4) {
                out << "iniwrite " << config::writeIni("probe.ini", f[1], f[2], f[3]) << "\n";
            } else if (f[0] == "iniread" && f.size() >= 3) {
                out << "iniread " << config::readIni("probe.ini", f[1], f[2]) << "\n";
            } else if (f[0] == "mkdir" && f.size() >= 2) {
                config::ensureFolder(f[1]);
                out << "mkdir " << platform.pathExists(config::programPath(f[1].substr(0, f[1].find('\\'))))
                    << "\n";
            } else if (f[0] == "now") {
                out << "now " << config::timeStamp() << "\n";
            } else {
                out << "? " << cmd << "\n";
            }
        } catch (const std::exception& e) {
            out << f[0] << " error " << e.what() << "\n";
        }
    }
    std::FILE* o = _wfopen(outPath.c_str(), L"wb");
    if (!o) return 1;
    const std::string text = out.str();
    std::fwrite(text.data(), 1, text.size(), o);
    return std::fclose(o) == 0 ? 0 : 1;
}
