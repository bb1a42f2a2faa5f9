// browser_probe.exe OUT sink
//   Checks the DWebBrowserEvents2 sink and the document reads with built
//   arguments and a stand-in document; writes "ok <case>" or "FAIL <case>:
//   <what>" lines, exit code 1 when anything failed.
// browser_probe.exe OUT live ALLOWED CANCELLED REFUSED STALL DROPPED
//   Drives the real control in a window: creation, geometry, navigations (a
//   BeforeNavigate2 handler cancels every address containing "cancel"),
//   document reads, and closing while a request is under way or a navigation
//   is still queued. Writes what it saw, one fact a line (see live()).
// browser_probe.exe OUT end
//   A child window of a form raises browser events through a sink from its
//   WM_DESTROY, as the control may on its way out, while the immediate end
//   destroys the windows. OUT, written as it happens: "event ..." for each
//   event that reached the handler, "ending", then "raised".
#include "fake_document_win32.h"
#include "framework/portable/form.h"
#include "framework/win32/browser.h"
#include "framework/win32/platform.h"
#include "framework/win32/text.h"

#include <exdisp.h>
#include <exdispid.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using fw::win32::narrow;
using fw::win32::widen;

std::ostringstream out;
bool failed = false;

class Recorder : public fw::BrowserEvents {
public:
    std::vector<std::string> log;
    bool cancelBefore = false;
    bool cancelNewWindow = false;
    bool throwOnTitle = false;
    bool dead = false; // set when its browser is gone: nothing may arrive after
    std::function<void(const std::string&)> echo; // each event as it arrives

    void BeforeNavigate2(const std::string& url, bool& cancel) override {
        const bool given = cancel;
        if (cancelBefore || url.find("cancel") != std::string::npos) cancel = true;
        note("before " + url + " given=" + std::to_string(given) +
             " cancel=" + std::to_string(cancel));
    }
    void NewWindow2(bool& cancel) override {
        const bool given = cancel;
        if (cancelNewWindow) cancel = true;
        note("newwindow given=" + std::to_string(given) + " cancel=" + std::to_string(cancel));
    }
    void NavigateError(const std::string& url, int status, bool& cancel) override {
        note("error " + url + " status=" + std::to_string(status) +
             " given=" + std::to_string(cancel));
    }
    void DocumentComplete(const std::string& url) override { note("complete " + url); }
    void DownloadComplete() override { note("downloaded"); }
    void TitleChange(const std::string& text) override {
        if (throwOnTitle) throw std::runtime_error("handler failed");
        note("title " + text);
    }

    bool saw(const std::string& prefix) const {
        for (const auto& l : log)
            if (l.rfind(prefix, 0) == 0) return true;
        return false;
    }

private:
    void note(const std::string& line) {
        log.push_back((dead ? "AFTER-DEATH " : "") + line);
        if (echo) echo(log.back());
    }
};

void pumpFor(int ms, const std::function<bool()>& done = nullptr) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done && done()) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// --- sink ----------------------------------------------------------------------

void expect(bool ok, const std::string& what) {
    if (!ok) {
        out << "FAIL " << what << "\n";
        failed = true;
    }
}

// One event argument as the control passes it.
struct Args {
    std::vector<VARIANT> slots;  // in signature order; reversed into rgvarg
    std::deque<VARIANT> targets; // what VT_VARIANT | VT_BYREF slots point at (stable)
    std::vector<BSTR> strings;
    ~Args() {
        for (BSTR s : strings) SysFreeString(s);
    }
    BSTR bstr(const std::string& s) {
        const std::wstring w = widen(s);
        strings.push_back(SysAllocStringLen(w.data(), static_cast<UINT>(w.size())));
        return strings.back();
    }
    void byrefText(const std::string& s) {
        VARIANT& t = targets.emplace_back();
        VariantInit(&t);
        t.vt = VT_BSTR;
        t.bstrVal = bstr(s);
        byref(t);
    }
    void byrefInt(LONG v) {
        VARIANT& t = targets.emplace_back();
        VariantInit(&t);
        t.vt = VT_I4;
        t.lVal = v;
        byref(t);
    }
    void byrefEmpty() {
        VARIANT& t = targets.emplace_back();
        VariantInit(&t);
        byref(t);
    }
    void byref(VARIANT& t) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_VARIANT | VT_BYREF;
        v.pvarVal = &t;
        slots.push_back(v);
    }
    void dispatch(IDispatch* d) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_DISPATCH;
        v.pdispVal = d;
        slots.push_back(v);
    }
    void dispatchRef(IDispatch** d) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_DISPATCH | VT_BYREF;
        v.ppdispVal = d;
        slots.push_back(v);
    }
    void text(const std::string& s) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = bstr(s);
        slots.push_back(v);
    }
    void cancel(VARIANT_BOOL* flag) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BOOL | VT_BYREF;
        v.pboolVal = flag;
        slots.push_back(v);
    }
    // IDispatch order: the last parameter first.
    HRESULT invoke(IDispatch* sink, DISPID id) {
        std::vector<VARIANT> reversed(slots.rbegin(), slots.rend());
        DISPPARAMS p{reversed.empty() ? nullptr : reversed.data(), nullptr,
                     static_cast<UINT>(reversed.size()), 0};
        return sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &p, nullptr,
                            nullptr, nullptr);
    }
};

HRESULT beforeNavigate(IDispatch* sink, const std::string& url, VARIANT_BOOL* cancel) {
    Args a;
    a.dispatch(nullptr);
    a.byrefText(url);
    a.byrefInt(0);   // Flags
    a.byrefText(""); // TargetFrameName
    a.byrefEmpty();  // PostData
    a.byrefText(""); // Headers
    a.cancel(cancel);
    return a.invoke(sink, DISPID_BEFORENAVIGATE2);
}

void sinkEvents() {
    Recorder rec;
    std::vector<std::string> untrapped;
    fw::AliveToken alive;
    auto* sink = new fw::win32::BrowserEventSink(rec, alive.watch(),
                                                 [&](const char* w) { untrapped.push_back(w); });

    IUnknown* asked = nullptr;
    expect(sink->QueryInterface(DIID_DWebBrowserEvents2, reinterpret_cast<void**>(&asked)) ==
                   S_OK &&
               asked == static_cast<IUnknown*>(sink),
           "sink answers for DWebBrowserEvents2");
    if (asked) asked->Release();
    expect(sink->QueryInterface(IID_IOleClientSite, reinterpret_cast<void**>(&asked)) ==
                   E_NOINTERFACE &&
               !asked,
           "sink is nothing else");

    // Chinese in the address: BSTR to UTF-8.
    const std::string url = "http://127.0.0.1/游戏.html?token=é&x=1";
    VARIANT_BOOL cancel = VARIANT_FALSE;
    expect(beforeNavigate(sink, url, &cancel) == S_OK, "BeforeNavigate2 answered");
    expect(rec.log.size() == 1 && rec.log[0] == "before " + url + " given=0 cancel=0",
           "BeforeNavigate2 reports the address: " + (rec.log.empty() ? "" : rec.log.back()));
    expect(cancel == VARIANT_FALSE, "BeforeNavigate2 left uncancelled");
    rec.cancelBefore = true;
    beforeNavigate(sink, url, &cancel);
    expect(cancel == VARIANT_TRUE, "BeforeNavigate2 cancel written back");
    // A flag the control passes set stays set when the handler leaves it.
    rec.cancelBefore = false;
    cancel = VARIANT_TRUE;
    beforeNavigate(sink, "http://h/x", &cancel);
    expect(rec.log.back() == "before http://h/x given=1 cancel=1" && cancel == VARIANT_TRUE,
           "BeforeNavigate2 hands the given flag to the handler");

    {
        IDispatch* newWindow = nullptr;
        VARIANT_BOOL flag = VARIANT_FALSE;
        Args a;
        a.dispatchRef(&newWindow);
        a.cancel(&flag);
        rec.cancelNewWindow = true;
        a.invoke(sink, DISPID_NEWWINDOW2);
        expect(rec.log.back() == "newwindow given=0 cancel=1" && flag == VARIANT_TRUE,
               "NewWindow2 cancel written back");
        expect(newWindow == nullptr, "NewWindow2 leaves ppDisp alone");
    }
    {
        VARIANT_BOOL flag = VARIANT_FALSE;
        Args a;
        a.dispatch(nullptr);
        a.byrefText("http://127.0.0.1:1/登录");
        a.byrefText("");
        a.byrefInt(static_cast<LONG>(0x800C0008)); // refused connection
        a.cancel(&flag);
        a.invoke(sink, DISPID_NAVIGATEERROR);
        expect(rec.log.back() == "error http://127.0.0.1:1/登录 status=" +
                                     std::to_string(static_cast<int>(0x800C0008)) + " given=0",
               "NavigateError reports address and status: " + rec.log.back());
        expect(flag == VARIANT_FALSE, "NavigateError flag left as given");
        Args b;
        b.dispatch(nullptr);
        b.byrefText("http://127.0.0.1/missing");
        b.byrefText("");
        b.byrefInt(404);
        b.cancel(&flag);
        b.invoke(sink, DISPID_NAVIGATEERROR);
        expect(rec.log.back() == "error http://127.0.0.1/missing status=404 given=0",
               "NavigateError with an HTTP status");
    }
    {
        Args a;
        a.dispatch(nullptr);
        a.byrefText("http://127.0.0.1/game.html");
        a.invoke(sink, DISPID_DOCUMENTCOMPLETE);
        expect(rec.log.back() == "complete http://127.0.0.1/game.html", "DocumentComplete");
        Args none;
        none.invoke(sink, DISPID_DOWNLOADCOMPLETE);
        expect(rec.log.back() == "downloaded", "DownloadComplete");
        Args t;
        t.text("游戏 Varnholt");
        t.invoke(sink, DISPID_TITLECHANGE);
        expect(rec.log.back() == "title 游戏 Varnholt", "TitleChange");
    }

    const auto before = rec.log.size();
    {
        // Events the launcher does not use, and a mapped one with the wrong
        // number of arguments, are ignored.
        Args status;
        status.text("Downloading");
        status.invoke(sink, DISPID_STATUSTEXTCHANGE);
        Args progress;
        progress.byrefInt(1);
        progress.byrefInt(2);
        progress.invoke(sink, DISPID_PROGRESSCHANGE);
        VARIANT_BOOL flag = VARIANT_FALSE;
        Args shortBefore;
        shortBefore.byrefText("http://h/");
        shortBefore.cancel(&flag);
        shortBefore.invoke(sink, DISPID_BEFORENAVIGATE2);
        expect(flag == VARIANT_FALSE, "a short BeforeNavigate2 is not answered");
        DISPPARAMS broken{nullptr, nullptr, 2, 0};
        expect(sink->Invoke(DISPID_TITLECHANGE, IID_NULL, 0, DISPATCH_METHOD, &broken, nullptr,
                            nullptr, nullptr) == E_INVALIDARG,
               "arguments announced but missing");
    }
    expect(rec.log.size() == before, "unknown events ignored");

    // A handler that throws: reported, and the control gets its answer.
    rec.throwOnTitle = true;
    Args t;
    t.text("x");
    expect(t.invoke(sink, DISPID_TITLECHANGE) == S_OK && untrapped.size() == 1 &&
               untrapped[0] == "handler failed",
           "a throwing handler is reported");
    rec.throwOnTitle = false;

    // The owner is gone: nothing reaches it.
    alive.end();
    cancel = VARIANT_FALSE;
    rec.cancelBefore = true;
    beforeNavigate(sink, "http://h/after", &cancel);
    Args none;
    none.invoke(sink, DISPID_DOWNLOADCOMPLETE);
    expect(rec.log.size() == before && cancel == VARIANT_FALSE, "no event once the owner is gone");

    sink->AddRef();
    expect(sink->Release() == 1, "reference count");
    sink->Release();
    out << (failed ? "FAIL" : "ok") << " sink\n";
}

void documentReads() {
    namespace doc = fw::win32::document;
    const bool before = failed;
    expect(!doc::title(nullptr) && !doc::activeElement(nullptr) && !doc::runScript(nullptr, "f()"),
           "no document: nothing to read, no script");

    FakePage page{};
    page.title = L"游戏 Game";
    page.tagName = L"A";
    page.href = L"http://127.0.0.1/game.html?from=链接";
    page.scriptResult = S_OK;
    auto* d = static_cast<IDispatch*>(fakeDocument(&page));

    expect(doc::title(d) == std::optional<std::string>("游戏 Game"), "title");
    auto a = doc::activeElement(d);
    expect(a && a->tagName == "A" && a->href == "http://127.0.0.1/game.html?from=链接",
           "focused link: tag and href");
    page.tagName = L"DIV";
    page.href = nullptr;
    a = doc::activeElement(d);
    expect(a && a->tagName == "DIV" && a->href.empty(), "focused element without href");
    page.tagName = nullptr;
    expect(!doc::activeElement(d), "nothing focused");
    page.title = nullptr;
    expect(!doc::title(d), "unreadable title");

    expect(doc::runScript(d, "setClientTypeByVb()") && page.scripts == 1 &&
               std::wstring(page.script) == L"setClientTypeByVb()" && page.language[0] == 0,
           "script run in the window, default language");
    page.scriptResult = static_cast<long>(DISP_E_EXCEPTION);
    expect(!doc::runScript(d, "missing()") && page.scripts == 2, "failing script");
    page.scriptResult = S_FALSE;
    expect(!doc::runScript(d, "f()"), "only S_OK counts as run");

    d->Release();
    expect(page.references == 0,
           "every reference released (" + std::to_string(page.references) + " left)");
    if (failed == before) out << "ok document\n";
}

// --- the real control ------------------------------------------------------------

class ProbeForm : public fw::Form {
public:
    ProbeForm() : Form(layout()) {}

private:
    static fw::FormLayout layout() {
        fw::FormLayout l;
        l.caption = "browser probe";
        l.border = fw::Border::Sizable;
        l.clientWidth = 800;
        l.clientHeight = 600;
        l.taskbar = false;
        return l;
    }
};

struct Search {
    const wchar_t* cls;
    HWND found;
    int count;
};

BOOL CALLBACK visit(HWND h, LPARAM lp) {
    auto* search = reinterpret_cast<Search*>(lp);
    ++search->count;
    wchar_t name[64];
    GetClassNameW(h, name, 64);
    if (search->cls && !search->found && lstrcmpW(name, search->cls) == 0) search->found = h;
    return TRUE;
}

// The first descendant of that class.
HWND findChild(HWND parent, const wchar_t* cls) {
    Search search{cls, nullptr, 0};
    EnumChildWindows(parent, visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int countChildren(HWND parent) {
    Search search{nullptr, nullptr, 0};
    EnumChildWindows(parent, visit, reinterpret_cast<LPARAM>(&search));
    return search.count;
}

// "x,y wxh" of a window relative to its parent's client area.
std::string rectIn(HWND h) {
    RECT r{};
    GetWindowRect(h, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " +
           std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
}

// Lines: "created MS", "frame GEOMETRY", "control GEOMETRY", "control-parent
// frame|other", each event as "event ...", "document HAS TITLE ELEMENT
// SCRIPT", "bare GEOMETRY", "bare-parent form|other", "bare-resized
// GEOMETRY", "children-left N".
void live(fw::win32::Win32Platform& platform, const std::vector<std::string>& urls) {
    const std::string &allowed = urls.at(0), &cancelled = urls.at(1), &refused = urls.at(2),
                      &stall = urls.at(3), &dropped = urls.at(4);
    ProbeForm form;
    form.Show();
    pumpFor(100);
    HWND parent = FindWindowW(L"VarnholtForm", nullptr);

    Recorder rec;
    const auto t0 = std::chrono::steady_clock::now();
    auto browser = platform.createBrowser(*form.peer(), rec, fw::Rect{55, 130, 697, 406});
    browser->place({-5, -5, 750, 450});
    const std::chrono::duration<double, std::milli> ms = std::chrono::steady_clock::now() - t0;
    out << "created " << ms.count() << "\n";
    browser->setSilent(true);

    HWND frame = findChild(parent, L"VarnholtBrowserFrame");
    HWND control = findChild(parent, L"Shell Embedding");
    out << "frame " << (frame ? rectIn(frame) : "missing") << "\n";
    out << "control " << (control ? rectIn(control) : "missing") << "\n";
    out << "control-parent " << (control && GetParent(control) == frame ? "frame" : "other")
        << "\n";

    auto navigate = [&](const std::string& url, const std::string& until) {
        browser->Navigate(url);
        rec.log.push_back("navigate-returned " + url);
        pumpFor(8000, [&] { return rec.saw(until); });
        pumpFor(200);
    };
    navigate(allowed, "error " + allowed);
    navigate(cancelled, "before " + cancelled);
    navigate(refused, "error " + refused);

    const auto title = browser->documentTitle();
    const auto element = browser->activeElement();
    out << "document " << browser->hasDocument() << " " << (title ? "title" : "none") << " "
        << (element ? "element" : "none") << " " << browser->runScript("f()") << "\n";

    // Without a frame: straight in the window, as the game window has it.
    Recorder bareRec;
    auto bare = platform.createBrowser(*form.peer(), bareRec, std::nullopt);
    bare->place(
        {0, 0, static_cast<int>(form.ScaleWidth()) + 17, static_cast<int>(form.ScaleHeight())});
    HWND bareControl = nullptr;
    for (HWND h = GetWindow(parent, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
        wchar_t name[64];
        GetClassNameW(h, name, 64);
        if (lstrcmpW(name, L"Shell Embedding") == 0) bareControl = h;
    }
    out << "bare " << (bareControl ? rectIn(bareControl) : "missing") << "\n";
    bare->place({0, 0, 417, 300});
    out << "bare-resized " << (bareControl ? rectIn(bareControl) : "missing") << "\n";
    const auto bareRect = bare->placement();
    out << "bare-placement " << bareRect.width << "x" << bareRect.height << "\n";

    // Closed with a navigation still queued: it never starts.
    bare->Navigate(dropped);
    bare.reset();
    bareRec.dead = true;

    // Closed while the server holds the request.
    navigate(stall, "before " + stall);
    pumpFor(300);
    browser.reset();
    rec.dead = true;
    pumpFor(1500);
    bareRec.log.insert(bareRec.log.end(), rec.log.begin(), rec.log.end());
    for (const auto& l : bareRec.log) out << "event " << l << "\n";
    out << "children-left " << countChildren(parent) << "\n";
}

// --- the immediate end ---------------------------------------------------------

std::FILE* endLog = nullptr;
IDispatch* endSink = nullptr;

void endNote(const std::string& line) {
    std::fprintf(endLog, "%s\n", line.c_str());
    std::fflush(endLog);
}

LRESULT CALLBACK raiserProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DESTROY && endSink) {
        VARIANT_BOOL cancel = VARIANT_FALSE;
        beforeNavigate(endSink, "http://127.0.0.1/late", &cancel);
        Args none;
        none.invoke(endSink, DISPID_DOWNLOADCOMPLETE);
        endNote("raised");
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void endWhileRaising(fw::win32::Win32Platform& platform, const wchar_t* path) {
    endLog = _wfopen(path, L"wb");
    if (!endLog) return;
    ProbeForm form;
    form.Show();
    pumpFor(100);
    static Recorder rec;
    rec.echo = [](const std::string& line) { endNote("event " + line); };
    static fw::AliveToken alive; // lives to the end
    endSink = new fw::win32::BrowserEventSink(
        rec, alive.watch(), [](const char* w) { endNote(std::string("untrapped ") + w); });
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = raiserProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ProbeRaiser";
    RegisterClassExW(&wc);
    CreateWindowExW(0, L"ProbeRaiser", L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10,
                    fw::win32::windowHandle(*form.peer()), nullptr, wc.hInstance, nullptr);
    // Before the end the same events reach the handler.
    Args none;
    none.invoke(endSink, DISPID_DOWNLOADCOMPLETE);
    endNote("ending");
    platform.end();
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    if (__argc < 3) return 2;
    OleInitialize(nullptr);
    fw::win32::Win32Platform platform(instance);
    const std::string mode = narrow(__wargv[2]);
    std::vector<std::string> args;
    for (int i = 3; i < __argc; ++i) args.push_back(narrow(__wargv[i]));
    try {
        if (mode == "sink") {
            sinkEvents();
            documentReads();
        } else if (mode == "end") {
            endWhileRaising(platform, __wargv[1]);
        } else if (mode == "live") {
            live(platform, args);
        } else {
            out << "? " << mode << "\n";
            failed = true;
        }
    } catch (const std::exception& e) {
        out << "FAIL error " << e.what() << "\n";
        failed = true;
    }
    std::FILE* o = _wfopen(__wargv[1], L"wb");
    if (!o) return 1;
    const std::string text = out.str();
    std::fwrite(text.data(), 1, text.size(), o);
    if (std::fclose(o) != 0) return 1;
    return failed ? 1 : 0;
}
