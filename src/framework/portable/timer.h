// A timer control: raises its tick every Interval milliseconds while enabled,
// on the user-interface thread.
#pragma once

#include "framework/ports/platform.h"

#include <functional>
#include <utility>

namespace fw {

class Timer {
public:
    Timer(int intervalMs, std::function<void()> tick)
        : interval_(intervalMs), tick_(std::move(tick)) {}
    ~Timer() { setEnabled(false); }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void setEnabled(bool enabled) {
        if (enabled == Enabled()) return;
        if (enabled) {
            id_ = Platform::get().startTimer(interval_, [this] { tick_(); });
        } else {
            Platform::get().stopTimer(id_);
            id_ = 0;
        }
    }
    bool Enabled() const { return id_ != 0; }
    int Interval() const { return interval_; }

private:
    int interval_;
    std::function<void()> tick_;
    TimerId id_ = 0;
};

} // namespace fw
