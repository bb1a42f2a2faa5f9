#include "framework/portable/timer.h"

namespace fw {

Timer::Timer(int intervalMs, std::function<void()> tick)
    : interval_(intervalMs), tick_(std::move(tick)) {}

Timer::~Timer() {
    setEnabled(false);
}

void Timer::setEnabled(bool enabled) {
    if (enabled == Enabled()) return;
    if (enabled) {
        id_ = Platform::get().startTimer(interval_, [this] { tick_(); });
    } else {
        Platform::get().stopTimer(id_);
        id_ = 0;
    }
}

} // namespace fw
