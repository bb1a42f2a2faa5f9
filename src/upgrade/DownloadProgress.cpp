#include "upgrade/DownloadProgress.h"

#include "upgrade/VersionCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace upgrade {

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

std::string formatSpeed(double bytesPerSecond) {
    char out[32];
    if (bytesPerSecond >= kMiB)
        std::snprintf(out, sizeof out, "%.1f MB/s", bytesPerSecond / kMiB);
    else
        std::snprintf(out, sizeof out, "%.0f KB/s", bytesPerSecond / 1024.0);
    return out;
}

std::string formatDuration(std::int64_t seconds) {
    char out[32];
    if (seconds >= 3600)
        std::snprintf(out, sizeof out, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60),
                      static_cast<long long>(seconds % 60));
    else
        std::snprintf(out, sizeof out, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return out;
}

// "12.3 MB": mebibytes with one decimal, as the system's own dialogs count.
std::string formatSize(std::int64_t bytes) {
    char out[32];
    std::snprintf(out, sizeof out, "%.1f MB", static_cast<double>(bytes) / kMiB);
    return out;
}

} // namespace

std::optional<ProgressMeter::Figures> ProgressMeter::sample(Clock::time_point now,
                                                            std::int64_t done, std::int64_t total) {
    // A redirect starts the count again.
    if (!recent_.empty() && done < recent_.back().done) recent_.clear();
    recent_.push_back({now, done});
    while (recent_.size() > 2 && now - recent_[1].at >= kSpeedWindow) recent_.pop_front();
    if (shown_ && now - *shown_ < kInterval) return std::nullopt;
    shown_ = now;

    Figures f;
    f.text = formatSize(done);
    if (total > 0) {
        f.fraction = std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
        f.text += " / " + formatSize(total);
    }
    // No speed before half a second of measuring: the first packets say
    // little about the pace.
    const double seconds = std::chrono::duration<double>(now - recent_.front().at).count();
    if (seconds >= 0.5) {
        const double speed = static_cast<double>(done - recent_.front().done) / seconds;
        f.text += "   " + formatSpeed(speed);
        if (total > 0 && speed > 0 && done < total)
            f.text += "   剩余 " + formatDuration(static_cast<std::int64_t>(
                                       std::ceil(static_cast<double>(total - done) / speed)));
    }
    return f;
}

fw::DownloadOutcome downloadWithProgress(const std::string& address,
                                         const std::string& relativePath,
                                         const ProgressOwner& owner) {
    fw::DownloadWatch watch;
    auto window = fw::Platform::get().createProgressWindow(owner ? owner() : nullptr, "升级提示",
                                                           "正在下载升级文件…", "取消",
                                                           [&watch] { watch.cancel = true; });
    ProgressMeter meter;
    watch.progress = [&](std::int64_t done, std::int64_t total) {
        if (auto f = meter.sample(ProgressMeter::Clock::now(), done, total))
            window->update(f->fraction, f->text);
    };
    return downloadFile(address, relativePath, &watch);
}

} // namespace upgrade
