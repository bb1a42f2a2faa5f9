#include "framework/portable/browser_base.h"

#include "framework/ports/platform.h"

#include <utility>

namespace fw {

std::shared_ptr<void> PageWindows::admit() {
    if (open_ >= kMaxOpen) return nullptr;
    ++open_;
    auto self = shared_from_this();
    return std::shared_ptr<void>(self.get(), [self](void*) { --self->open_; });
}

void BrowserBase::Navigate(const std::string& url) {
    requests_.push_back(url.empty() ? "about:blank" : url);
    if (posted_) return;
    posted_ = true;
    Platform::get().post([this, watch = alive_.watch()] {
        if (watch.alive()) navigateDue();
    });
}

// Requests made meanwhile join the queue, until the last one goes to the
// engine: from then on a request waits for a new turn of the loop. A request
// that never reaches the engine is reported here, the engine knows nothing
// of it: a cancelled one ends with its DownloadComplete.
void BrowserBase::navigateDue() {
    const AliveToken::Watch watch = alive_.watch();
    while (watch.alive() && !requests_.empty()) {
        const std::string url = std::move(requests_.front());
        requests_.pop_front();
        if (requests_.empty()) {
            posted_ = false;
            startNavigation(url);
            return;
        }
        if (queued_ == Queued::Each) {
            startNavigation(url);
            continue;
        }
        bool cancel = false;
        if (raise([&](BrowserEvents& e) { e.BeforeNavigate2(url, cancel); }) && cancel)
            raise([](BrowserEvents& e) { e.DownloadComplete(); });
    }
}

} // namespace fw
