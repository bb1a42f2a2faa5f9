// Ports: what the launcher's own rules need of a desktop. Each adapter folder
// (headless/, gtk/, win32/) implements these and nothing else; adapters report
// events and carry out requests, they never decide a launcher rule.
#pragma once

#include "framework/ports/browser.h"
#include "framework/ports/files.h"
#include "framework/ports/geometry.h"
#include "framework/ports/network.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
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
// loop, the program's end, clocks, the diagnostic output and the wait of a
// watched download.
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

    // Runs again and again while a watched download's transfer goes on
    // (download with a watch): lets the desktop's events through, so a
    // progress window paints and its button works, and returns within about
    // 100 ms, sooner after transferEnded.
    virtual void awaitTransfer() = 0;
    // Called on the transfer's thread when it has ended, to cut the current
    // awaitTransfer short.
    virtual void transferEnded() = 0;

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

// What a test puts in place of the system, and so the only part of files
// and processes that is virtual (the rest: files.h, network.h).
class Host {
public:
    virtual ~Host() = default;

    // The executable's folder, without a trailing separator except for a
    // root. Tests: a scratch folder.
    virtual std::string exeFolder() = 0;
    // Tests: pictures and layouts of their own, broken ones included.
    virtual std::vector<std::uint8_t> resource(int id, const std::string& type) = 0;
    // The player's log (framework/portable/player_log.h): a file in the
    // player's own folder for this game; empty when there is none. Tests: a
    // scratch file or none, never the player's own.
    virtual std::string playerLogPath() = 0;
    // The file at `path`, held (HeldFile); null when it cannot be opened.
    // Tests: another process replacing the file while it is held.
    virtual std::unique_ptr<HeldFile> holdFile(const std::string& path) = 0;
    // Starts a program from a command line in a normal window with the
    // focus; does not wait. False when the program could not be started.
    // Tests: recorded, not started; a start that fails.
    virtual bool startProcess(const std::string& commandLine) = 0;
    // Opens an address in the user's default browser; failures are ignored.
    // Tests: recorded, no browser opened.
    virtual void openUrl(const std::string& address) = 0;
};

// Everything the launcher needs of its system, one per run: the adapter's
// platform object is the current one (get) for its lifetime.
class Platform : public Desktop, public Host {
public:
    static Platform& get();

    // What went wrong, never shown in a window: the diagnostic output and
    // the player's log (playerLogPath), with the time.
    void diagnostic(const std::string& line);

    // An error that no handler caught, at the message loop's edge: it goes
    // to the diagnostic output and the player's log, the first one is shown
    // in a box (untrappedText), and the program ends with status 1. From the
    // first one on nothing reaches the launcher's handlers (failing), so a
    // timer or a page that keeps failing cannot stack boxes.
    [[noreturn]] void untrapped(const char* what);
    bool failing() const { return failing_; }
    // Runs a handler at the loop's edge (a native event, a timer, the
    // start): an error that escapes it is untrapped.
    template <class F>
    void guarded(F&& handler) {
        try {
            std::forward<F>(handler)();
        } catch (const std::exception& e) {
            untrapped(e.what());
        } catch (...) {
            untrapped("unknown error");
        }
    }
    // What the error box says: the same text on every desktop.
    static std::string untrappedText(const std::string& what);

protected:
    Platform() { install(this); }
    ~Platform() override { install(nullptr); }
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

    // The untrapped error's box, modal over the whole program.
    virtual void showUntrapped(const std::string& text) = 0;
    // Destroys every window without running a handler and ends the process
    // with status 1; no code after the call runs.
    [[noreturn]] virtual void endUntrapped() = 0;

private:
    static void install(Platform* platform);

    bool failing_ = false;
};

} // namespace fw
