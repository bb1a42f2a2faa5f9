// win32_probe.exe OUT COMMAND...: runs single services of the Windows
// platform adapter under test and writes what they answer, as UTF-8 lines,
// into the file OUT.
//   folder                  -> "folder <exeFolder>"
//   res:ID:TYPE             -> "res ID TYPE <size>" (bytes in OUT.ID.TYPE) or "res ID TYPE missing"
//   iniwrite:SECTION:KEY:V  -> "iniwrite <0|1>"   (file probe.ini beside the exe)
//   iniread:SECTION:KEY     -> "iniread <value>"
//   mkdir:REL               -> "mkdir <0|1> <exists after>"
//   now                     -> "now [yyyy-mm-dd hh:mm:ss]"
//   window:BORDER:W:H:STATE -> a form (BORDER none|sizable, client W x H, design
//                              state 0|1|2, centred, no taskbar button) is
//                              shown, hidden, set minimised while hidden and
//                              shown again: "window <what each step saw>"
//   url:ADDRESS             -> openUrl; "url"
//   run:COMMAND LINE        -> startProcess; "run"
//   forms                   -> "forms", then " | owned=O at=X,Y visible=V iconic=I"
//                              for each form of another program
//   restore                 -> what a taskbar button does to another program's
//                              unowned forms (SC_RESTORE); "restore"
//   box-window              -> a form made (by a timer) while a message box
//                              titled "probe question" is up, which the test
//                              answers: "box-window during=<enabled> after=<enabled>"
//   acc                     -> "acc", then " | name=N role=R state=0xS action=A"
//                              for each named child window of the forms,
//                              through AccessibleObjectFromWindow
//   press:NAME              -> the default action of the one named NAME there:
//                              "press <HRESULT as a decimal>"
//   failing-timer           -> a 10 ms timer whose every tick throws, then the
//                              message loop: each tick appends "tick" to
//                              OUT.ticks; the error box ends the program
#include "config/Clock.h"
#include "config/ProgramFiles.h"
#include "framework/portable/form.h"
#include "framework/win32/platform.h"
#include "framework/win32/text.h"

#include <oleacc.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

class ProbeForm : public fw::Form {
public:
    explicit ProbeForm(fw::FormLayout l) : Form(std::move(l)) {}
    int loads = 0;
    int resizes = 0;

protected:
    void Form_Load() override { ++loads; }
    void Form_Resize() override { ++resizes; }
};

std::string windowReport(ProbeForm& f) {
    std::ostringstream o;
    HWND h = nullptr;
    // The peer's window: the newest top-level window of our class.
    h = FindWindowW(L"VarnholtForm", nullptr);
    RECT outer{};
    if (h) GetWindowRect(h, &outer);
    const LONG_PTR ex = h ? GetWindowLongPtrW(h, GWL_EXSTYLE) : 0;
    o << "state=" << static_cast<int>(f.windowState()) << " visible=" << f.Visible()
      << " client=" << f.ScaleWidth() << "x" << f.ScaleHeight()
      << " outer=" << (outer.right - outer.left) << "x" << (outer.bottom - outer.top)
      << " at=" << outer.left << "," << outer.top
      << " toolwindow=" << ((ex & WS_EX_TOOLWINDOW) ? 1 : 0) << " caption=" << f.Caption()
      << " loads=" << f.loads << " resizes=" << f.resizes;
    return o.str();
}

void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Another program's forms, as the system sees them.
BOOL CALLBACK eachForm(HWND h, LPARAM report) {
    wchar_t cls[16] = {};
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == GetCurrentProcessId() || !GetClassNameW(h, cls, 16) ||
        std::wstring(cls) != L"VarnholtForm")
        return TRUE;
    const bool owned = GetWindow(h, GW_OWNER) != nullptr;
    if (!report) {
        if (!owned) PostMessageW(h, WM_SYSCOMMAND, SC_RESTORE, 0);
        return TRUE;
    }
    RECT r{};
    GetWindowRect(h, &r);
    *reinterpret_cast<std::ostringstream*>(report)
        << " | owned=" << owned << " at=" << r.left << "," << r.top
        << " visible=" << (IsWindowVisible(h) ? 1 : 0) << " iconic=" << (IsIconic(h) ? 1 : 0);
    return TRUE;
}

// "name=N role=R state=0xS action=A" as a client reads them.
std::string accessibleReport(IAccessible* a, const VARIANT& self) {
    BSTR name = nullptr, action = nullptr;
    VARIANT role{}, state{};
    a->get_accName(self, &name);
    a->get_accRole(self, &role);
    a->get_accState(self, &state);
    a->get_accDefaultAction(self, &action);
    std::ostringstream o;
    o << "name=" << fw::win32::narrow(name ? name : L"-") << " role=" << role.lVal << " state=0x"
      << std::hex << state.lVal << " action=" << fw::win32::narrow(action ? action : L"-");
    SysFreeString(name);
    SysFreeString(action);
    return o.str();
}

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
                const std::wstring dump =
                    outPath + L"." + fw::win32::widen(f[1]) + L"." + fw::win32::widen(f[2]);
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
                out << "mkdir "
                    << fw::pathExists(config::programPath(f[1].substr(0, f[1].find('\\')))) << "\n";
            } else if (f[0] == "window" && f.size() == 4) {
                const auto more = split(f[3], 2);
                fw::FormLayout l;
                l.caption = "探针 probe";
                l.border = f[1] == "sizable" ? fw::Border::Sizable : fw::Border::None;
                l.clientWidth = std::stoi(f[2]);
                l.clientHeight = std::stoi(more[0]);
                l.startState = static_cast<fw::WindowState>(std::stoi(more.at(1)));
                l.centred = true;
                l.taskbar = false;
                l.icon = true;
                ProbeForm form(l);
                form.Show();
                pump();
                out << "window shown " << windowReport(form);
                form.setWindowState(fw::WindowState::Normal);
                pump();
                out << " | restored " << windowReport(form);
                form.Hide();
                form.setWindowState(fw::WindowState::Minimized);
                pump();
                out << " | hidden " << windowReport(form);
                form.Show();
                pump();
                out << " | reshown " << windowReport(form) << "\n";
            } else if (f[0] == "url" && f.size() >= 2) {
                platform.openUrl(cmd.substr(4));
                out << "url\n";
            } else if (f[0] == "run" && f.size() >= 2) {
                platform.startProcess(cmd.substr(4));
                out << "run\n";
            } else if (f[0] == "forms") {
                out << "forms";
                EnumWindows(eachForm, reinterpret_cast<LPARAM>(&out));
                out << "\n";
            } else if (f[0] == "restore") {
                EnumWindows(eachForm, 0);
                out << "restore\n";
            } else if (f[0] == "box-window") {
                fw::FormLayout l;
                l.caption = "opened during the question";
                l.clientWidth = 200;
                l.clientHeight = 100;
                std::unique_ptr<ProbeForm> late;
                int during = -1;
                const fw::TimerId id = platform.startTimer(300, [&] {
                    if (late) return;
                    late = std::make_unique<ProbeForm>(l);
                    late->Show();
                    during = IsWindowEnabled(fw::win32::windowHandle(*late->peer())) ? 1 : 0;
                });
                platform.messageBox("question", "probe question", fw::kOkCancel);
                platform.stopTimer(id);
                out << "box-window during=" << during << " after="
                    << (late && IsWindowEnabled(fw::win32::windowHandle(*late->peer())) ? 1 : 0)
                    << "\n";
            } else if (f[0] == "acc" || f[0] == "press") {
                CoInitialize(nullptr);
                out << f[0];
                VARIANT self{};
                self.vt = VT_I4; // CHILDID_SELF
                for (HWND form = nullptr;
                     (form = FindWindowExW(nullptr, form, L"VarnholtForm", nullptr));)
                    for (HWND h = nullptr; (h = FindWindowExW(form, h, nullptr, nullptr));) {
                        IAccessible* a = nullptr;
                        if (FAILED(AccessibleObjectFromWindow(h, OBJID_CLIENT, IID_IAccessible,
                                                              reinterpret_cast<void**>(&a))))
                            continue;
                        const std::string report = accessibleReport(a, self);
                        if (f[0] == "acc" && report.rfind("name=-", 0) != 0)
                            out << " | " << report;
                        else if (f[0] == "press" &&
                                 report.rfind("name=" + cmd.substr(6) + " ", 0) == 0)
                            out << " " << a->accDoDefaultAction(self);
                        a->Release();
                    }
                out << "\n";
            } else if (f[0] == "failing-timer") {
                const std::wstring ticks = outPath + L".ticks";
                platform.startTimer(10, [ticks] {
                    if (std::FILE* t = _wfopen(ticks.c_str(), L"ab")) {
                        std::fputs("tick\n", t);
                        std::fclose(t);
                    }
                    throw std::runtime_error("the timer failed");
                });
                return platform.run();
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
