// The timer table every desktop shares: ids, and which tick a native timer
// runs (Desktop::startTimer, ports/platform.h).
#include "framework/ports/platform.h"

#include <algorithm>
#include <utility>

namespace fw {

TimerId Desktop::startTimer(int intervalMs, std::function<void()> tick) {
    // Our own ids: a native one may be handed out again once removed.
    const TimerId id = ++lastTimer_;
    const std::uintptr_t handle = armTimer(id, std::max(intervalMs, 1));
    timers_[id] = {handle, std::make_shared<const std::function<void()>>(std::move(tick))};
    return id;
}

void Desktop::stopTimer(TimerId id) {
    const auto it = timers_.find(id);
    if (it == timers_.end()) return;
    const std::uintptr_t handle = it->second.handle;
    timers_.erase(it);
    disarmTimer(handle);
}

void Desktop::timerDue(TimerId id) {
    const auto it = timers_.find(id);
    if (it == timers_.end()) return;
    // The tick may stop its own timer, which drops the entry under it.
    const auto tick = it->second.tick;
    (*tick)();
}

void Desktop::stopTimers() {
    // Moved out first: disarming runs no tick, but keeps the table whole.
    const auto armed = std::exchange(timers_, {});
    for (const auto& [id, timer] : armed) disarmTimer(timer.handle);
}

} // namespace fw
