#pragma once

#include "framework/ports/platform.h"

#include <cstdint>
#include <optional>

namespace forms {

// When the web engine under a window's page dies, the window loads its page
// again, but not a second time within a minute of the last time: a page that
// kills its engine as it loads would otherwise restart it for ever. The view
// then stays blank until the window is shown anew.
class EngineRestart {
public:
    static constexpr std::int64_t kQuietMs = 60'000;

    // True when the page may be loaded again now (and that counts as the
    // last time).
    bool allowed() {
        const std::int64_t now = fw::Platform::get().tickMs();
        if (last_ && now - *last_ < kQuietMs) return false;
        last_ = now;
        return true;
    }
    void reset() { last_.reset(); }

private:
    std::optional<std::int64_t> last_;
};

} // namespace forms
