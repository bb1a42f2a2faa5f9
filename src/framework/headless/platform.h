// A scripted desktop for tests: windows are records, time is virtual, message
// boxes are answered by the test, and the immediate end unwinds to the test
// as a ProgramEnded exception after destroying every window.
#pragma once

#include "framework/linux/platform.h"
#include "framework/ports/control.h"

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fw::headless {

// Thrown by end(): no code after the end runs, the test catches it.
struct ProgramEnded {};

// ---- imaging (imaging.cpp) ----------------------------------------
// What a shaped window shows, row by row: premultiplied ARGB (alpha in the
// top byte).
struct ArgbPixels {
    Size size;
    std::vector<std::uint32_t> pixels;
    std::uint32_t at(int x, int y) const {
        return pixels.at(static_cast<std::size_t>(y) * size.width + x);
    }
};
struct ColorKeyRecord {
    OleColor colour = 0;
    std::uint8_t alpha = 0;
    int flags = 0;
};
struct ImagingRecord {
    bool layered = false;                   // has the layered style
    std::optional<ArgbPixels> face;         // the picture of the last layered update
    std::optional<ColorKeyRecord> colorKey; // the last colour key
    bool released = false;                  // the face let go of its drawing (releaseFace)
};
// ---- end imaging ------------------------------------------------------------

struct WindowRecord {
    WindowEvents* form = nullptr; // its window object
    FormLayout layout;
    WindowRecord* owner = nullptr;
    Point position;
    Size client;
    WindowState state = WindowState::Normal;
    std::string caption;
    bool visible = false;
    bool destroyed = false;
    int dragRequests = 0;
    int moves = 0;       // moves asked of it (move)
    int activations = 0; // the keyboard given to it (activate)
    ImagingRecord imaging;
};

// A scripted embedded browser: it records what the window asks of it and
// holds the page state the test sets up; the test raises its events.
struct BrowserRecord {
    BrowserEvents* events = nullptr;
    WindowRecord* parent = nullptr;
    std::optional<Rect> frame;
    Rect placement;
    bool silent = false;
    bool destroyed = false;
    std::vector<std::string> navigations; // every Navigate, in order
    std::string location;                 // the address the page is at
    // Page state.
    bool document = false;
    std::optional<std::string> title;
    std::optional<ActiveElement> active;
    std::function<bool(const std::string&)> script; // answers runScript
    std::vector<std::string> scripts;               // every script asked to run
    int focusRequests = 0;                          // focus(): the keyboard into the page

    // Raise an event as the engine would; the results are the handler's.
    bool beforeNavigate(const std::string& url);
    bool newWindow();
    void documentComplete(const std::string& url) { events->DocumentComplete(url); }
    void downloadComplete() { events->DownloadComplete(); }
    void titleChange(const std::string& text) { events->TitleChange(text); }
    // The engine's process dies: the document goes with it.
    void engineTerminated();
};

struct MessageBoxCall {
    std::string text;
    std::string title;
    int style = 0;
    // What could be seen when the box came up.
    std::vector<std::string> visibleWindows;
};

// A progress window: what it shows, every update in order; `press` is its
// button, for the test to use.
struct ProgressRecord {
    WindowRecord* owner = nullptr;
    std::string title, text, button;
    std::vector<std::string> visibleWindows; // when it came up
    struct Update {
        double fraction = -1;
        std::string figures;
        std::chrono::steady_clock::time_point at;
    };
    std::vector<Update> updates;
    bool destroyed = false;
    std::function<void()> press;
};

// ---- Child controls: picture-button host surfaces and labels --------------
// What a surface was asked to draw, one paint at a time; where the pointer,
// the capture and the focus are; and what the user does to the controls,
// delivered as a desktop would: pointer input to the control holding the
// capture, else to the enabled control under the pointer; keys to the
// focused one.

class HeadlessPlatform;

// One drawing call of a paint.
struct DrawCall {
    enum class Kind { Fill, Theme, FocusRect, Picture, Text };
    Kind kind = Kind::Fill;
    Bounds rect;                      // Picture: the destination x, y, x + width, y + height
    Bounds clip;                      // Theme
    int state = 0;                    // Theme: the push-button state
    OleColor colour = 0;              // Fill: the back colour; Text: the text colour
    const Picture* picture = nullptr; // Picture: which object, not owned
    int srcX = 0, srcY = 0, srcWidth = 0, srcHeight = 0; // Picture, HIMETRIC
    std::string text;                                    // Text
    unsigned flags = 0;                                  // Text
    Font font;                                           // Text
};
using PaintRecord = std::vector<DrawCall>;

struct ControlRecord {
    ControlEvents* events = nullptr;
    WindowRecord* parent = nullptr;
    Rect rect; // client pixels of the parent
    int tabIndex = 0;
    bool destroyed = false;
    // Script.
    bool theme = true;                  // visual styles available
    std::optional<Bounds> clientBounds; // instead of (0, 0, width, height)
    bool enabled = true;                // takes input (setEnabled)
    // Observations.
    std::vector<PaintRecord> paints;
    std::vector<Cursor> cursors; // every cursor set, in order
    bool painting = false;
    std::string accessibleName;

    const PaintRecord& lastPaint() const;
    // The calls of one kind in the last paint.
    std::vector<DrawCall> last(DrawCall::Kind kind) const;
};

struct LabelRecord {
    WindowRecord* parent = nullptr;
    Rect rect;
    OleColor colour = 0;
    std::string caption;
    bool destroyed = false;
};

class HeadlessControls {
public:
    explicit HeadlessControls(HeadlessPlatform& platform) : platform_(platform) {}

    std::deque<ControlRecord> surfaces; // live and destroyed, in creation order
    std::deque<LabelRecord> labels;
    FontRef ambientFont = std::make_shared<Font>(Font{"Sans", 9.0, 400, 1});
    OleColor ambientForeColor = 0x80000012; // the button text colour
    ControlRecord* capture = nullptr;
    ControlRecord* focus = nullptr;
    // The pointer, client pixels of `pointerWindow`.
    WindowRecord* pointerWindow = nullptr;
    Point pointer{-1, -1};
    std::int16_t buttons = 0; // held, as the move notification reports them

    // The live surface at tab index `tabIndex` of the window.
    ControlRecord* byTabIndex(const WindowRecord& window, int tabIndex);

    // What the user does. Positions are pixels of `control`.
    void moveTo(ControlRecord& control, float x, float y);
    void press(int button);                // at the pointer
    void release(int button);              // at the pointer
    void setFocus(ControlRecord* control); // focus notifications to both
    void keyDown(std::int16_t keyCode);    // to the focused control
    void keyUp(std::int16_t keyCode);
    // Assistive technology presses the control.
    void defaultAction(ControlRecord& control);
    // The host resizes the surface, then repaints it.
    void resize(ControlRecord& control, Size size);
    // A paint as the host runs it: a new paint record, then onPaint.
    void paint(ControlRecord& control);

    HeadlessPlatform& platform() { return platform_; }

private:
    ControlRecord* pointerTarget();
    HeadlessPlatform& platform_;
};
// ---- end of child controls ----------------------------------------------

// Files, downloads and signatures are the Linux builds' own, in the test's
// folder; a watched download is waited for in real time. Programs (a held
// file's start included) and addresses are only recorded.
class HeadlessPlatform : public LinuxPlatform {
public:
    ~HeadlessPlatform() override;

    // --- script ---
    Size screen{1600, 1000};
    std::string folder = "/launcher";
    DateTime clock{2024, 3, 5, 7, 8, 9};
    // Answers message boxes in order; an unexpected box fails the test.
    std::deque<int> answers;
    std::function<int(const MessageBoxCall&)> answerWith;
    // Runs while a box is up, before its answer is taken: the desktop goes
    // on meanwhile (timers, the pages' own events, a session ending).
    std::function<void(const MessageBoxCall&)> whileUp;
    // Runs while a drag is in progress (the system's move loop); may move
    // the window.
    std::function<void(WindowRecord&)> onDrag;
    // What startProcess answers (false: the program could not be started).
    bool startSucceeds = true;

    // --- observations ---
    std::vector<MessageBoxCall> messageBoxes;
    std::vector<std::string> startedCommands;
    std::vector<std::string> openedUrls;
    std::vector<std::string> diagnostics; // every diagnostic line
    std::string playerLog;                // the player's log file; none when empty
    std::deque<ProgressRecord> progressWindows;
    // Runs after each update of a progress window; may press its button.
    std::function<void(ProgressRecord&)> onProgress;
    bool ended = false;
    // Message boxes up now. While one is, the user reaches no window but the
    // box: closeBox, mouseDown and the controls' input are refused.
    int boxesOpen = 0;

    // Live and destroyed windows in creation order.
    const std::deque<WindowRecord>& windows() const { return windows_; }
    WindowRecord* find(const WindowEvents& form);
    // The record of one of this desktop's window peers; throws for any other.
    WindowRecord& recordOf(WindowPeer& peer);
    std::vector<const WindowRecord*> visibleWindows() const;

    const std::deque<BrowserRecord>& browsers() const { return browsers_; }
    // The live browser of a window (the last one created in it).
    BrowserRecord* browserOf(const WindowEvents& form);

    // Runs what the message loop would run next: posted work such as the
    // navigations that Navigate asked for.
    void pump();
    void post(std::function<void()> work) override { posted_.push_back(std::move(work)); }

    // Virtual time: runs posted work, then every timer that falls due
    // within `ms`.
    void advance(int ms);

    // What the user does to a window.
    void closeBox(WindowEvents& form); // the close box / Alt+F4
    // The session ends: the system asks the window to close, also while a
    // box has it disabled.
    void endSession(WindowEvents& form);
    void mouseDown(WindowEvents& form, int button); // a press on the window's surface
    // The taskbar, alt-tab or a click gives the window the keyboard.
    void activate(WindowEvents& form);
    WindowRecord* active = nullptr;               // the window that has the keyboard
    void resize(WindowEvents& form, Size client); // the user or the system resizes

    // Child controls (picture-button surfaces, labels): see HeadlessControls.
    HeadlessControls controls{*this};

    // --- Platform ---
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
    [[noreturn]] void end() override;
    std::string exeFolder() override { return folder; }
    std::vector<std::uint8_t> resource(int id, const std::string& type) override;
    DateTime localNow() override { return clock; }
    std::int64_t tickMs() override { return nowMs_; } // virtual time
    bool startProcess(const std::string& commandLine) override;
    void openUrl(const std::string& address) override { openedUrls.push_back(address); }
    void writeDiagnostic(const std::string& line) override { diagnostics.push_back(line); }
    std::string playerLogPath() override { return playerLog; }
    int run() override { return 0; }
    // A short sleep in real time: the transfer's end is seen at the next.
    void awaitTransfer() override;
    void transferEnded() override {}

    // ---- imaging (imaging.cpp) ------------------------------------
    // The decoder's start answers this (0: started).
    int imagingStartStatus = 0;
    int imagingStarts = 0;
    int imagingStops = 0;
    // Resource bytes that replace the compiled-in ones, by id and type.
    std::map<std::pair<int, std::string>, std::vector<std::uint8_t>> resourceBytes;
    // What the window shows of itself: the picture of its layered update, or
    // its own surface (filled with its back colour) through its colour key.
    ArgbPixels ownFace(const WindowRecord& window) const;
    // ---- end imaging --------------------------------------------------------

protected:
    // The box as any other (messageBoxes); the end as end() does it.
    void showUntrapped(const std::string& text) override {
        messageBox(text, "launcher", kCritical);
    }
    [[noreturn]] void endUntrapped() override { HeadlessPlatform::end(); }
    // A timer of the virtual clock: due every interval of advance().
    std::uintptr_t armTimer(TimerId id, int intervalMs) override;
    void disarmTimer(std::uintptr_t handle) override { schedule_.erase(handle); }

private:
    struct Schedule {
        int interval;
        std::int64_t due;
    };
    std::deque<WindowRecord> windows_;
    std::deque<BrowserRecord> browsers_;
    std::deque<std::function<void()>> posted_;
    // By timer id, so that ties go to the timer started first.
    std::map<TimerId, Schedule> schedule_;
    std::int64_t nowMs_ = 0;
    std::unique_ptr<Imaging> imaging_; // imaging.cpp
};

} // namespace fw::headless
