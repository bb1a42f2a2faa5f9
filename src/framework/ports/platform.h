// Ports: what the launcher's own rules need of a desktop. Each adapter folder
// (headless/, gtk/, win32/) implements these and nothing else; adapters report
// events and carry out requests, they never decide a launcher rule.
#pragma once

#include "framework/ports/browser.h"
#include "framework/ports/geometry.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

class Imaging;
class ControlSurface;
class ControlEvents;
class LabelPeer;

// OLE colour values: 0x00BBGGRR, or a system colour with bit 31 set and the
// system colour index in the low byte.
using OleColor = std::uint32_t;

// Window layouts are kept in twips; the launcher runs at 96 dpi as a whole, so
// one pixel is always 15 twips.
inline constexpr int kTwipsPerPixel = 15;

enum class WindowState : int { Normal = 0, Minimized = 1, Maximized = 2 };

// Reason given to Form_QueryUnload.
enum class UnloadMode : int { ControlMenu = 0, Code = 1, WindowsSession = 2 };

// Message box styles and answers.
inline constexpr int kOkOnly = 0;
inline constexpr int kOkCancel = 1;
inline constexpr int kCritical = 16;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

enum class Border { None, Sizable };

// Design-time description of a top-level window.
struct FormLayout {
    std::string caption;
    Border border = Border::None;
    int clientWidth = 0;  // pixels
    int clientHeight = 0; // pixels
    bool centred = false;
    WindowState startState = WindowState::Normal;
    bool taskbar = true;
    bool icon = false; // the program icon
    // A user scale: the client area measures this many units across and
    // down whatever its size in pixels. 0: the scale unit is the pixel.
    double scaleWidth = 0;
    double scaleHeight = 0;
};

struct DateTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

// A native top-level window. Destroying the peer destroys the window without
// raising any event.
class WindowPeer {
public:
    virtual ~WindowPeer() = default;
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual bool visible() const = 0;
    // Outer top-left corner on the screen, pixels. The window object moves
    // a window only to a new place.
    virtual Point position() const = 0;
    virtual void move(Point topLeft) = 0;
    virtual WindowState state() const = 0;
    virtual void setState(WindowState state) = 0;
    virtual std::string caption() const = 0;
    virtual void setCaption(const std::string& text) = 0;
    virtual Size clientSize() const = 0;
    // Hands the window to the system's move loop as a press on its caption
    // would; returns when the move ends (or at once where the system runs the
    // move on its own).
    virtual void beginMoveDrag() = 0;
    // Gives the window the keyboard (raised, restored when minimised); its
    // events then hear onActivate.
    virtual void activate() = 0;
    // The window object's back colour (WindowEvents::backColor) changed:
    // the window fills its own surface again.
    virtual void backColorChanged() = 0;
};

// What a native top-level window reports to its window object, on the
// message loop. Any of these may destroy the window's peer.
class WindowEvents {
public:
    virtual ~WindowEvents() = default;
    // The close box, Alt+F4 or the session's end; the object decides.
    virtual void onCloseRequest(UnloadMode mode) = 0;
    // A new client size or window state.
    virtual void onResize() = 0;
    // A press on the window's own surface, in client pixels.
    virtual void onMouseDown(int button, int shift, float x, float y) = 0;
    // The window got the keyboard (a click, the taskbar, alt-tab, activate).
    virtual void onActivate() = 0;
    // Whether the object still has its window: a close request may be refused.
    virtual bool hasWindow() const = 0;
    // The colour the window's own surface is filled with, which the object
    // holds; read by the window whenever it fills its surface.
    virtual OleColor backColor() const = 0;
};

using TimerId = std::uint64_t;

// A small modal window with a line of text, a progress bar, a line of
// figures and one button. While it lives no other window of the launcher
// takes input. Destroying the peer closes the window.
class ProgressPeer {
public:
    virtual ~ProgressPeer() = default;
    // `fraction` from 0 to 1, or below 0 when there is no fraction to show.
    virtual void update(double fraction, const std::string& figures) = 0;
};

// The desktop: windows and their parts, timers, message boxes, the message
// loop, the program's end, clocks and the diagnostic output.
class Desktop {
public:
    virtual ~Desktop() = default;

    // `events` outlives the peer; the adapter calls its on* methods.
    virtual std::unique_ptr<WindowPeer> createWindow(WindowEvents& events, const FormLayout& layout,
                                                     WindowPeer* owner) = 0;

    // An embedded browser in `parent`. With a frame, the browser sits in a
    // plain white child area at `frame` (client pixels of `parent`) that
    // clips it, and its placement is relative to that area; without one it
    // is placed in the client area directly and clipped by the window.
    virtual std::unique_ptr<BrowserPeer> createBrowser(WindowPeer& parent, BrowserEvents& events,
                                                       const std::optional<Rect>& frame) = 0;

    // The picture decoder and the shaped windows (framework/ports/imaging.h).
    virtual Imaging& imaging() = 0;

    // The host surface of a child control at `rect` (client pixels of
    // `parent`), in the parent's tab order at `tabIndex`
    // (framework/ports/control.h).
    virtual std::unique_ptr<ControlSurface> createControlSurface(WindowPeer& parent,
                                                                 ControlEvents& events,
                                                                 const Rect& rect,
                                                                 int tabIndex) = 0;
    // A label at `rect` in `colour`: centred text, transparent background,
    // the platform's default window font.
    virtual std::unique_ptr<LabelPeer> createLabel(WindowPeer& parent, const Rect& rect,
                                                   OleColor colour) = 0;

    // A repeating timer: `tick` runs from the message loop every
    // `intervalMs` (at least 1) until stopTimer. Ids are never 0; a tick may
    // stop its own timer or another. The table is portable
    // (portable/timers.cpp); the adapter gives the native timer (armTimer).
    TimerId startTimer(int intervalMs, std::function<void()> tick);
    void stopTimer(TimerId id);

    // Shows a progress window owned by `owner`; the button and the close box
    // call `onButton`.
    virtual std::unique_ptr<ProgressPeer>
    createProgressWindow(WindowPeer* owner, const std::string& title, const std::string& text,
                         const std::string& button, std::function<void()> onButton) = 0;

    // Modal; returns kIdOk or kIdCancel (Esc and the close box give kIdCancel).
    virtual int messageBox(const std::string& text, const std::string& title, int style) = 0;

    // Destroys every window without running a handler and ends the process;
    // no code after the call runs.
    [[noreturn]] virtual void end() = 0;

    virtual DateTime localNow() = 0;
    // Milliseconds of a clock that only goes forward (not the wall clock),
    // for measuring intervals.
    virtual std::int64_t tickMs() = 0;

    // A line for the developer's diagnostic output (standard error, the
    // debugger's output); Platform::diagnostic also puts it in the player's
    // log.
    virtual void writeDiagnostic(const std::string& line) = 0;

    // Runs `work` from the message loop (also from the loop of a message box
    // or a move), after the handler that posted it has returned.
    virtual void post(std::function<void()> work) = 0;

    // Runs the message loop; returns only on platforms that may end it.
    virtual int run() = 0;

protected:
    // The native repeating timer under startTimer: from now on the message
    // loop calls timerDue(id) every `intervalMs`, until disarmTimer gets the
    // handle returned here (the adapter's own).
    virtual std::uintptr_t armTimer(TimerId id, int intervalMs) = 0;
    virtual void disarmTimer(std::uintptr_t handle) = 0;
    // What a native timer calls: the tick of `id`, unless it was stopped.
    void timerDue(TimerId id);
    // Stops every timer (the immediate end, the adapter's destructor).
    void stopTimers();

private:
    struct ArmedTimer {
        std::uintptr_t handle;
        // Shared: it outlives its entry while it runs.
        std::shared_ptr<const std::function<void()>> tick;
    };
    std::map<TimerId, ArmedTimer> timers_;
    TimerId lastTimer_ = 0;
};

// A file held open so that what is read from it is what is moved and
// started: while the object lives no other process can change its bytes or
// take its place under its name (Windows: open for reading and deleting,
// shared for reading only; Linux: a name is trusted only when it leads to
// the open file, and a program is executed through it, a script by its
// checked name, since its interpreter reads it by name). Closed with the
// object.
class HeldFile {
public:
    virtual ~HeldFile() = default;
    // The whole content; false when it cannot be read or is longer than
    // `maxBytes`.
    virtual bool read(std::string& bytes, std::size_t maxBytes) = 0;
    // Renames the held file over `target` in the same folder, replacing it;
    // the file stays held under its new name. False when nothing was moved
    // or the name no longer leads to the held file.
    virtual bool moveTo(const std::string& target) = 0;
    // Starts the held file as a program without arguments, as
    // Processes::startProcess does (made executable first where the system
    // needs it). False when it could not be started.
    virtual bool start() = 0;
};

// Files: the executable's folder and resources, files and folders, and
// private-profile (INI) files.
class Files {
public:
    virtual ~Files() = default;

    // The executable's folder, without a trailing separator except for a root.
    virtual std::string exeFolder() = 0;
    virtual char pathSeparator() const = 0;
    virtual std::vector<std::uint8_t> resource(int id, const std::string& type) = 0;

    // True when anything has that name, a dangling link included: nothing
    // else may be made under it.
    virtual bool pathExists(const std::string& path) = 0;
    virtual bool createFolder(const std::string& path) = 0;
    // The names in a folder (files and folders alike), in no order; none
    // when it cannot be read.
    virtual std::vector<std::string> folderEntries(const std::string& path) = 0;
    virtual bool removeFile(const std::string& path) = 0;
    // Up to `maxBytes` of the file's beginning; false when it cannot be read.
    virtual bool readFile(const std::string& path, std::string& bytes, std::size_t maxBytes) = 0;
    // The file at `path`, held (HeldFile); null when it cannot be opened.
    virtual std::unique_ptr<HeldFile> holdFile(const std::string& path) = 0;
    // The player's log (framework/portable/player_log.h): a file in the
    // player's own folder for this game; empty when there is none.
    virtual std::string playerLogPath() = 0;
    // Marks the program's folder as in use by this run until the process
    // ends, for the upgrade program to wait on: a shared lock on
    // "update/launcher.lock" (Linux), a named mutex made from the folder's
    // path (Windows). Failures are ignored.
    virtual void holdFolderLock() = 0;

    // Private-profile access. Texts are UTF-8 here; the adapter deals with
    // the file's own bytes.
    virtual std::string readProfileString(const std::string& section, const std::string& key,
                                          const std::string& defaultValue, std::size_t bufferSize,
                                          const std::string& path) = 0;
    virtual bool writeProfileString(const std::string& section, const std::string& key,
                                    const std::string& value, const std::string& path) = 0;
};

// A download that someone watches (Network::download).
struct DownloadWatch {
    // Called on the calling thread several times a second while the transfer
    // runs: the bytes received so far and the announced length (-1: none).
    std::function<void(std::int64_t done, std::int64_t total)> progress;
    // Set on the calling thread to stop the transfer: the download then
    // ends Cancelled, unless the file was already in place.
    std::atomic<bool> cancel{false};
};

// Limits a caller sets on one download (Network::download); 0 is none.
struct DownloadBounds {
    // The whole transfer, connecting included.
    std::int64_t totalMs = 0;
    // The body: a longer one, announced or arriving, is a failure.
    std::int64_t maxBytes = 0;
};

// How a download ended (Network::download, and the signed-upgrade check).
struct DownloadOutcome {
    enum class Result { Done, Failed, Cancelled };
    Result result = Result::Done;
    // The platform's own code: a CURLcode, an HRESULT; 0 when it has none.
    std::int64_t code = 0;
    // Why it failed, for the diagnostic output; never shown to the player.
    std::string cause;

    bool done() const { return result == Result::Done; }
};

// A download writes into a temporary file beside its target, named after it:
// the target's name, a dot and six letters or digits. True when `name` is
// such a name for `target` (both file names, without folders).
bool isDownloadTemporary(std::string_view name, std::string_view target);

// Network: downloads, the clean-up of their leftovers, and signature checks.
class Network {
public:
    virtual ~Network() = default;

    // Blocking download of `url` into the file `path`: Done, Failed, or
    // Cancelled through the watch. An HTTP status outside 2xx, a body cut
    // short of its announced length and a transfer beyond `bounds` are
    // failures. The file at `path` is replaced only when done; otherwise the
    // earlier file stays intact and no temporary file is left. With a
    // `watch`, the call keeps the desktop's events flowing while it waits (a
    // progress window paints, its button works) and reports to the watch.
    virtual DownloadOutcome download(const std::string& url, const std::string& path,
                                     DownloadWatch* watch = nullptr,
                                     const DownloadBounds& bounds = {}) = 0;
    // Removes the temporary file of a download whose launcher ended before
    // the download did. A file that a download of any running launcher
    // still writes stays. False when nothing was removed.
    virtual bool removeLeftover(const std::string& path) = 0;

    // True when `signatureBase64` (an RSA PKCS#1 v1.5 signature over SHA-256,
    // base64) is a valid signature of `message` (bytes) under `publicKeyPem`
    // (an RSA public key, PEM "PUBLIC KEY"). Anything unreadable is false.
    virtual bool verifySignature(const std::string& message, const std::string& signatureBase64,
                                 const std::string& publicKeyPem) = 0;
};

// Processes: other programs, the default browser among them.
class Processes {
public:
    virtual ~Processes() = default;

    // Starts a program from a command line in a normal window with the focus;
    // does not wait. False when the program could not be started.
    virtual bool startProcess(const std::string& commandLine) = 0;
    // Opens an address in the user's default browser; failures are ignored.
    virtual void openUrl(const std::string& address) = 0;
};

// Everything the launcher needs of its system, one per run: the adapter's
// platform object is the current one (get) for its lifetime.
class Platform : public Desktop, public Files, public Network, public Processes {
public:
    static Platform& get();

    // What went wrong, never shown in a window: the diagnostic output and
    // the player's log (playerLogPath), with the time.
    void diagnostic(const std::string& line);

    // What the error box says of an error that no handler caught, at the
    // message loop's edge (each adapter shows it once, then the program ends
    // with status 1): the same text on every desktop.
    static std::string untrappedText(const std::string& what);

protected:
    Platform() { install(this); }
    ~Platform() override { install(nullptr); }
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

private:
    static void install(Platform* platform);
};

} // namespace fw
