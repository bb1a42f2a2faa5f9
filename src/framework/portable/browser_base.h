// What every browser adapter does alike: an empty address is a blank page;
// Navigate is carried out from the message loop, so it returns before its
// BeforeNavigate2 arrives, and a request made inside an event waits until
// the event has returned; a handler may destroy the browser, after which
// nothing of it is touched and its queued navigations never start. The
// adapter adds the engine's calls (startNavigation) and raises its events.
#pragma once

#include "framework/portable/alive_token.h"
#include "framework/ports/browser.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace fw {

// The windows a browser's pages opened, those windows' own pages included,
// that are still open: a page cannot flood the desktop with windows. Shared
// by the browser and the windows, which may outlive it.
class PageWindows : public std::enable_shared_from_this<PageWindows> {
public:
    static constexpr int kMaxOpen = 4;
    // A hold on one more window, dropped when the window goes; null (the
    // request refused) while kMaxOpen are open.
    std::shared_ptr<void> admit();
    int open() const { return open_; }

private:
    int open_ = 0;
};

class BrowserBase : public BrowserPeer {
public:
    ~BrowserBase() override { stopEvents(); }
    BrowserBase(const BrowserBase&) = delete;
    BrowserBase& operator=(const BrowserBase&) = delete;

    void Navigate(const std::string& url) override;

protected:
    // What the engine gets of requests queued together: each in turn, or
    // only the last (the others get their BeforeNavigate2, and their
    // DownloadComplete when cancelled, but are never loaded).
    enum class Queued { Each, LastOnly };
    explicit BrowserBase(BrowserEvents& events, Queued queued = Queued::Each)
        : events_(events), queued_(queued) {}

    // Hands one navigation to the engine, which reports it like any other.
    virtual void startNavigation(const std::string& url) = 0;
    // Runs one handler; an adapter catches here what must not escape into
    // the toolkit's callbacks.
    virtual void deliver(const std::function<void()>& handler) { handler(); }

    // Raises one event (`event` gets the handlers); false when the browser
    // is gone, before or because of it: nothing of it may be touched then.
    template <class F>
    bool raise(F&& event) {
        const AliveToken::Watch watch = alive_.watch();
        if (!watch.alive()) return false;
        ++raising_;
        deliver([&] { event(events_); });
        if (watch.alive()) --raising_;
        return watch.alive();
    }
    // No event and no queued navigation from here on: the first thing an
    // adapter's destructor does, before the engine goes.
    void stopEvents() {
        alive_.end();
        requests_.clear();
    }
    bool raising() const { return raising_ > 0; } // events may nest
    // Turns false when the browser goes (for waits in a nested loop).
    AliveToken::Watch aliveToken() const { return alive_.watch(); }
    // Where the adapter asks before it opens a window for the page (after
    // NewWindow2 let it), for the page's windows' own requests too.
    const std::shared_ptr<PageWindows>& pageWindows() const { return pageWindows_; }

private:
    void navigateDue();

    BrowserEvents& events_;
    const Queued queued_;
    std::deque<std::string> requests_;
    bool posted_ = false; // a navigateDue waits in the message loop
    int raising_ = 0;
    AliveToken alive_;
    std::shared_ptr<PageWindows> pageWindows_ = std::make_shared<PageWindows>();
};

} // namespace fw
