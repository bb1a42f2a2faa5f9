#include "framework/portable/browser_base.h"

#include "framework/ports/platform.h"

#include <utility>

namespace fw {

BrowserBase::BrowserBase(BrowserEvents& events, Queued queued)
    : events_(events), queued_(queued) {}

BrowserBase::~BrowserBase() {
    stopEvents();
}

void BrowserBase::stopEvents() {
    *alive_ = false;
    requests_.clear();
}

void BrowserBase::Navigate(const std::string& url) {
    requests_.push_back(url.empty() ? "about:blank" : url);
    if (posted_) return;
    posted_ = true;
    Platform::get().post([this, alive = alive_] {
        if (*alive) navigateDue();
    });
}

// Requests made while this runs join the queue; once the last one has gone
// to the engine, a new request waits for a new turn of the loop.
void BrowserBase::navigateDue() {
    const std::shared_ptr<bool> alive = alive_;
    while (!requests_.empty()) {
        const std::string url = std::move(requests_.front());
        requests_.pop_front();
        const bool last = requests_.empty();
        if (!last && queued_ == Queued::LastOnly) {
            beforeNavigate(url);
            if (!*alive) return;
            continue;
        }
        if (last) posted_ = false;
        startNavigation(url);
        if (!*alive || last) return;
    }
    posted_ = false;
}

// A request that never reaches the engine: the engine reports nothing of
// it, so a cancelled one gets its DownloadComplete here.
void BrowserBase::beforeNavigate(const std::string& url) {
    bool cancel = false;
    if (raise([&](BrowserEvents& e) { e.BeforeNavigate2(url, cancel); }) && cancel)
        raise([](BrowserEvents& e) { e.DownloadComplete(); });
}

} // namespace fw
