// The upgrade download as the player watches it: a modal progress window
// over the login face with the bytes, the speed and the time left, and a
// button that stops the transfer.
#pragma once

#include "framework/ports/platform.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace upgrade {

// Turns the downloader's reports into what the window shows, a few times a
// second at most.
class ProgressMeter {
public:
    using Clock = std::chrono::steady_clock;
    struct Figures {
        double fraction = -1; // below 0: no length announced
        std::string text;     // "12.3 MB / 45.6 MB   1.2 MB/s   剩余 0:27"
    };

    static constexpr std::chrono::milliseconds kInterval{250};
    // The speed is measured over this much of the recent past, so that it
    // follows a change of pace but does not jump with every packet.
    static constexpr std::chrono::seconds kSpeedWindow{3};

    // A new figure to show, or nothing when the last one is too recent.
    std::optional<Figures> sample(Clock::time_point now, std::int64_t done, std::int64_t total);

private:
    struct Point {
        Clock::time_point at;
        std::int64_t done;
    };
    std::deque<Point> recent_;
    std::optional<Clock::time_point> shown_;
};

// The window that owns the progress window, asked for when it comes up
// (null, or an empty function: none).
using ProgressOwner = std::function<fw::WindowPeer*()>;

// Downloads the upgrade program like downloadFile, with the progress window
// over `owner`'s window; returns when the transfer has ended. Cancelled when
// the player stopped it before the file was in place.
fw::DownloadOutcome downloadWithProgress(const std::string& address,
                                         const std::string& relativePath,
                                         const ProgressOwner& owner);

} // namespace upgrade
