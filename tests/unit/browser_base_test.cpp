// The rules every browser adapter shares (framework/portable/browser_base.h),
// with an engine that reports each navigation it is given.
#include "framework/headless/platform.h"
#include "framework/portable/browser_base.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// What happened, in order, as "a; b; c".
struct Log {
    std::string text;
    void add(const std::string& line) { text += (text.empty() ? "" : "; ") + line; }
};

struct Handlers : fw::BrowserEvents {
    Log& log;
    std::function<void(const std::string&)> onBefore;
    explicit Handlers(Log& l) : log(l) {}
    void BeforeNavigate2(const std::string& url, bool& cancel) override {
        log.add("before " + url);
        cancel = url.find("cancel") != std::string::npos;
        if (onBefore) onBefore(url);
    }
    void DownloadComplete() override { log.add("downloaded"); }
};

class Engine : public fw::BrowserBase {
public:
    using BrowserBase::Queued;
    Engine(fw::BrowserEvents& events, Queued queued, Log& log)
        : BrowserBase(events, queued), log_(log) {}
    void setSilent(bool) override {}
    void place(const fw::Rect&) override {}
    fw::Rect placement() const override { return {}; }
    bool hasDocument() override { return false; }
    std::optional<std::string> documentTitle() override { return std::nullopt; }
    std::optional<fw::ActiveElement> activeElement() override { return std::nullopt; }
    bool runScript(const std::string&) override { return false; }
    void focus() override {}

private:
    void startNavigation(const std::string& url) override {
        log_.add("engine " + url);
        Log& log = log_; // `this` may be gone after the event
        bool cancel = false;
        if (!raise([&](fw::BrowserEvents& e) { e.BeforeNavigate2(url, cancel); }))
            log.add("engine sees it gone");
    }
    Log& log_;
};

TEST(BrowserBaseTest, NavigationsRunFromTheLoopInTheirOrder) {
    using Q = Engine::Queued;
    struct Case {
        const char* name;
        Q queued;
        const char* requests;   // made one after the other, in one handler
        const char* navigateOn; // its BeforeNavigate2 asks for "late"
        const char* destroyOn;  // its BeforeNavigate2 (or "now") destroys the browser
        const char* expected;   // "turn": work posted after the requests
    };
    const Case cases[] = {
        {"an empty address is a blank page", Q::Each, "", "-", "-",
         "engine about:blank; before about:blank; turn"},
        {"each request in turn", Q::Each, "a b", "-", "-",
         "engine a; before a; engine b; before b; turn"},
        {"only the last reaches the engine", Q::LastOnly, "a cancel-b c", "-", "-",
         "before a; before cancel-b; downloaded; engine c; before c; turn"},
        {"a request inside an event waits for a new turn", Q::Each, "a", "a", "-",
         "engine a; before a; returned late; turn; engine late; before late"},
        {"or joins the requests still queued", Q::LastOnly, "a b", "a", "-",
         "before a; returned late; before b; engine late; before late; turn"},
        {"a handler destroys the browser: nothing more", Q::Each, "a b", "-", "a",
         "engine a; before a; engine sees it gone; turn"},
        {"also while the queue is worked through", Q::LastOnly, "cancel-a b", "-", "cancel-a",
         "before cancel-a; turn"},
        {"destroyed, it drops its queued navigations", Q::Each, "a", "-", "now", "turn"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fw::headless::HeadlessPlatform p;
        Log log;
        Handlers handlers(log);
        auto browser = std::make_unique<Engine>(handlers, c.queued, log);
        handlers.onBefore = [&](const std::string& url) {
            if (url == c.destroyOn) browser.reset();
            if (url != c.navigateOn) return;
            browser->Navigate("late");
            log.add("returned late");
        };
        std::istringstream requests(c.requests);
        std::string url;
        do {
            requests >> url; // an empty list asks for the empty address
            browser->Navigate(url);
        } while (!requests.eof());
        EXPECT_EQ(log.text, "") << "an event before Navigate returned";
        if (std::string(c.destroyOn) == "now") browser.reset();
        p.post([&] { log.add("turn"); });
        p.pump();
        EXPECT_EQ(log.text, c.expected);
    }
}

// At most 4 page windows at once, each counted until it goes, after its browser too.
TEST(BrowserBaseTest, APageHasAtMostFourWindowsOpen) {
    auto windows = std::make_shared<fw::PageWindows>();
    std::vector<std::shared_ptr<void>> open(4);
    for (auto& w : open) EXPECT_NE(w = windows->admit(), nullptr);
    EXPECT_EQ(windows->admit(), nullptr);
    open.pop_back();
    EXPECT_NE(open.emplace_back(windows->admit()), nullptr);
    EXPECT_EQ(windows->admit(), nullptr);
    open.clear();
    EXPECT_EQ(windows->open(), 0);
}

} // namespace
