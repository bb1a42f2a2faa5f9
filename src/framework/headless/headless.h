// A scripted desktop for tests: windows are records, time is virtual, message
// boxes are answered by the test, and the immediate end unwinds to the test
// as a ProgramEnded exception after destroying every window.
#pragma once

#include "framework/platform.h"

#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace fw::headless {

// Thrown by end(): no code after the end runs, the test catches it.
struct ProgramEnded {};

struct WindowRecord {
    Form* form = nullptr;
    FormLayout layout;
    WindowRecord* owner = nullptr;
    Point position;
    Size client;
    WindowState state = WindowState::Normal;
    std::string caption;
    bool visible = false;
    bool destroyed = false;
    int dragRequests = 0;
};

struct MessageBoxCall {
    std::string text;
    std::string title;
    int style = 0;
    // What could be seen when the box came up.
    std::vector<std::string> visibleWindows;
};

class HeadlessPlatform : public Platform {
public:
    HeadlessPlatform();
    ~HeadlessPlatform() override;

    // --- script ---
    Size screen{1600, 1000};
    std::string folder = "/launcher";
    DateTime clock{2024, 3, 5, 7, 8, 9};
    // Answers message boxes in order; an unexpected box fails the test.
    std::deque<int> answers;
    std::function<int(const MessageBoxCall&)> answerWith;
    // Runs while a drag is in progress (the system's move loop); may move
    // the window.
    std::function<void(WindowRecord&)> onDrag;

    // --- observations ---
    std::vector<MessageBoxCall> messageBoxes;
    std::vector<std::string> startedCommands;
    std::vector<std::string> openedUrls;
    std::vector<std::string> createdFolders;
    std::vector<std::string> downloads; // "url -> path"
    bool ended = false;

    // Live and destroyed windows in creation order.
    const std::deque<WindowRecord>& windows() const { return windows_; }
    WindowRecord* find(const Form& form);
    std::vector<const WindowRecord*> visibleWindows() const;

    // Virtual time: runs every timer that falls due within `ms`.
    void advance(int ms);
    std::int64_t nowMs() const { return nowMs_; }

    // What the user does to a window.
    void closeBox(Form& form);               // the close box / Alt+F4
    void mouseDown(Form& form, int button);  // a press on the window's surface
    void resize(Form& form, Size client);    // the user or the system resizes

    // --- Platform ---
    std::unique_ptr<WindowPeer> createWindow(Form& events, const FormLayout& layout,
                                             WindowPeer* owner) override;
    TimerId startTimer(int intervalMs, std::function<void()> tick) override;
    void stopTimer(TimerId id) override;
    int messageBox(const std::string& text, const std::string& title, int style) override;
    [[noreturn]] void end() override;
    std::string exeFolder() override { return folder; }
    char pathSeparator() const override { return '/'; }
    std::vector<std::uint8_t> resource(int id, const std::string& type) override;
    DateTime localNow() override { return clock; }
    bool pathExists(const std::string& path) override;
    bool createFolder(const std::string& path) override;
    void startProcess(const std::string& commandLine) override;
    void openUrl(const std::string& address) override;
    void markExecutable(const std::string& path) override;
    // Real downloads (libcurl), recorded.
    std::int32_t download(const std::string& url, const std::string& path) override;
    std::string readProfileString(const std::string& section, const std::string& key,
                                  const std::string& defaultValue, std::size_t bufferSize,
                                  const std::string& path) override;
    bool writeProfileString(const std::string& section, const std::string& key,
                            const std::string& value, const std::string& path) override;
    int run() override { return 0; }

private:
    struct TimerRec {
        int interval;
        std::int64_t due;
        std::function<void()> tick;
    };
    std::deque<WindowRecord> windows_;
    std::map<TimerId, TimerRec> timers_;
    TimerId nextTimer_ = 1;
    std::int64_t nowMs_ = 0;
};

} // namespace fw::headless
