// What every browser adapter does the same way, whatever its engine: an
// empty address is a blank page; Navigate is carried out from the message
// loop, so the request returns before its BeforeNavigate2 arrives and a
// request made inside an event waits until that event has returned; an
// event's handler may destroy the browser, after which nothing of it is
// touched and its queued navigations never start. The adapter adds only the
// engine's own calls (startNavigation) and reports the engine's events
// through raise().
#pragma once

#include "framework/ports/browser.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace fw {

class BrowserBase : public BrowserPeer {
public:
    ~BrowserBase() override;
    BrowserBase(const BrowserBase&) = delete;
    BrowserBase& operator=(const BrowserBase&) = delete;

    void Navigate(const std::string& url) override;

protected:
    // What the engine gets of several requests queued at once: each in
    // turn, or only the last (the earlier ones get their BeforeNavigate2,
    // and their DownloadComplete when cancelled, but never reach the engine).
    enum class Queued { Each, LastOnly };

    explicit BrowserBase(BrowserEvents& events, Queued queued = Queued::Each);

    // Hands one navigation to the engine, which reports it like any other
    // (BeforeNavigate2 first). Its events may destroy the browser.
    virtual void startNavigation(const std::string& url) = 0;
    // Runs one event handler; an adapter whose events come from the
    // toolkit's callbacks catches what the handler throws here.
    virtual void deliver(const std::function<void()>& handler) { handler(); }

    // Raises one event: `event` is called with the handlers. False when the
    // browser is gone, before or because of it: nothing of it may be
    // touched any more.
    template <class F>
    bool raise(F&& event) {
        const std::shared_ptr<bool> alive = alive_;
        if (!*alive) return false;
        ++raising_;
        deliver([&] { event(events_); });
        if (*alive) --raising_;
        return *alive;
    }

    // From here on no event is raised and no queued navigation starts. The
    // first thing an adapter's destructor does, before the engine goes.
    void stopEvents();
    // Events of this browser being raised now (they may nest).
    bool raising() const { return raising_ > 0; }
    // Turns false when the browser goes; for adapters that wait in a
    // nested loop, during which the browser may be destroyed.
    std::shared_ptr<const bool> aliveToken() const { return alive_; }

private:
    void navigateDue();
    void beforeNavigate(const std::string& url);

    BrowserEvents& events_;
    const Queued queued_;
    std::deque<std::string> requests_;
    bool posted_ = false; // a navigateDue is waiting in the message loop
    int raising_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace fw
