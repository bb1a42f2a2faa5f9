// The Windows desktop: top-level windows of our own class, thread timers,
// MessageBoxW, kernel32's private-profile API and the shell. All user-visible
// text goes through the wide API; the core's UTF-8 is converted here.
#pragma once

#include "framework/ports/platform.h"

#include <windows.h>

#include <memory>
#include <utility>

namespace fw::win32 {

class Win32Platform : public Platform {
public:
    explicit Win32Platform(HINSTANCE instance);
    ~Win32Platform() override;

    // Desktop. The windows and the message box: window.cpp; the
    // progress window: progress.cpp.
    std::unique_ptr<WindowPeer> createWindow(WindowEvents& events, const FormLayout& layout,
                                             WindowPeer* owner) override;
    std::unique_ptr<BrowserPeer> createBrowser(WindowPeer& parent, BrowserEvents& events,
                                               const std::optional<Rect>& frame) override;
    Imaging& imaging() override;
    std::unique_ptr<ControlSurface> createControlSurface(WindowPeer& parent, ControlEvents& events,
                                                         const Rect& rect, int tabIndex) override;
    std::unique_ptr<LabelPeer> createLabel(WindowPeer& parent, const Rect& rect,
                                           OleColor colour) override;
    std::unique_ptr<ProgressPeer> createProgressWindow(WindowPeer* owner, const std::string& title,
                                                       const std::string& text,
                                                       const std::string& button,
                                                       std::function<void()> onButton) override;
    int messageBox(const std::string& text, const std::string& title, int style) override;
    [[noreturn]] void end() override { teardown(0); }
    DateTime localNow() override;
    std::int64_t tickMs() override { return static_cast<std::int64_t>(GetTickCount64()); }
    // The debugger's output (OutputDebugStringW).
    void writeDiagnostic(const std::string& line) override;
    void post(std::function<void()> work) override;
    int run() override;
    // The message loop turns while a watched WinHTTP download waits
    // (download.cpp), the progress window's dialog keys included.
    void awaitTransfer() override;
    void transferEnded() override { SetEvent(transferEnded_); }

    // Host. The files, the downloads (WinHTTP, download.cpp) and the
    // signatures (CryptoAPI, signature.cpp) are files.h's and network.h's
    // free functions.
    std::string exeFolder() override;
    std::vector<std::uint8_t> resource(int id, const std::string& type) override;
    // player_folder.cpp.
    std::string playerLogPath() override;
    // Held for reading and deleting, shared for reading only (held_file.cpp).
    std::unique_ptr<HeldFile> holdFile(const std::string& path) override;
    bool startProcess(const std::string& commandLine) override;
    void openUrl(const std::string& address) override;

    HINSTANCE instance() const { return instance_; }

protected:
    // An exception that reaches the message loop's edge (a window procedure,
    // a timer, the entry procedure) cannot unwind through the system's
    // frames: it is reported (Platform::untrapped) and the program ends.
    void showUntrapped(const std::string& text) override;
    [[noreturn]] void endUntrapped() override { teardown(1); }

    // A timer of the posted-work window, with our id as its own.
    std::uintptr_t armTimer(TimerId id, int intervalMs) override;
    void disarmTimer(std::uintptr_t handle) override;

private:
    [[noreturn]] void teardown(UINT status);
    static void CALLBACK timerProc(HWND, UINT, UINT_PTR id, DWORD);

    HINSTANCE instance_;
    // Set by transferEnded, waited on by awaitTransfer (auto-reset).
    HANDLE transferEnded_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

// The handle of a window the adapter made (null once it is gone).
HWND windowHandle(const WindowPeer& window);
// The back colour of its window object (WindowEvents::backColor).
OleColor backColorOf(const WindowPeer& window);

// The colour GDI paints for an OLE colour (a system colour is looked up now).
COLORREF colorRef(OleColor colour);

// The form windows' class (window.cpp), registered once by the platform.
void registerFormClass(HINSTANCE instance);
// Destroys every form window, owned ones first, without raising an event.
void destroyWindows();

// Gives a message to the progress window's dialog keys (Esc, Tab, Return)
// while one is shown; true when it was used.
bool progressDialogMessage(MSG& msg);

// Dispatches everything queued for the thread's windows now, offering each
// message to `first` before (true: it was used). A WM_QUIT ends the round
// and is posted again for the message loop proper.
void dispatchPending(bool (*first)(MSG& msg));

// Registers a window class of `instance`: no class styles (so no
// double-click messages), the arrow cursor unless `arrowCursor` is false (a
// message-only window has no use for one), and `background` for erasing.
void registerWindowClass(HINSTANCE instance, const wchar_t* name, WNDPROC proc,
                         HBRUSH background = nullptr, bool arrowCursor = true);

// The object a window of ours was created for (its creation parameter), kept
// from WM_NCCREATE on; null before that and once the object has let go.
// The casts read pointers that the system carries as integers (see
// win32/.clang-tidy), here also for the entry points that include this.
// NOLINTBEGIN(performance-no-int-to-ptr)
template <class T>
T* windowObject(HWND hwnd, UINT msg, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        void* object = reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
    }
    return reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}
// NOLINTEND(performance-no-int-to-ptr)

// Tests only: the GdiplusVersion that the imaging's startup asks for (1
// unless changed here). GDI+ refuses versions it does not know, which is how
// a test program makes the start fail for real (imaging.cpp).
void setGdiPlusVersionForTests(std::uint32_t version);

// True once end() or an untrapped error has begun: from then on no event
// reaches the launcher.
bool ending();

// Every native event runs through here (Platform::guarded): an exception
// cannot unwind through the system's frames.
template <class F>
void guarded(F&& f) {
    Platform::get().guarded(std::forward<F>(f));
}

} // namespace fw::win32
