// The Windows downloader's limits (framework/win32/download.cpp), and the
// hooks that let its tests shorten them.
#pragma once

namespace fw::win32 {

// A download gives up on a server that has gone silent: nothing at all for
// beforeResponseMs while the answer's headers are awaited (connecting and
// sending included), or nothing for silenceMs once they have arrived. Wine
// reports nothing of a body until a few hundred bytes of it have arrived, so
// a body that starts slower than that counts as silence.
struct DownloadLimits {
    unsigned long beforeResponseMs = 15000;
    unsigned long silenceMs = 30000;
};

// How long the worker has been silent at `now` (GetTickCount64). The worker
// may give a sign between the caller's two reads, newer than `now`: that is
// no silence at all, not a wrap-around to an enormous one.
unsigned long long silentForMs(unsigned long long lastSign, unsigned long long now);

// Tests only: shorter limits, so that a stalled server costs a second.
// DownloadLimits{} restores the launcher's own values.
void setDownloadLimitsForTests(const DownloadLimits& limits);

// Tests only: waits up to `ms` for the transfers that were given up on to
// end and remove their temporary files; returns how many are still running.
int waitForAbandonedDownloadsForTests(unsigned long ms);

} // namespace fw::win32
