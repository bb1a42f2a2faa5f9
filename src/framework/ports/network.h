// Network: downloads, the clean-up of their leftovers, and signature checks.
// Each build links one definition (framework/linux/, framework/win32/).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace fw {

// A download that someone watches (download).
struct DownloadWatch {
    // Called on the calling thread several times a second while the transfer
    // runs: the bytes received so far and the announced length (-1: none).
    std::function<void(std::int64_t done, std::int64_t total)> progress;
    // Set on the calling thread to stop the transfer: the download then
    // ends Cancelled, unless the file was already in place.
    std::atomic<bool> cancel{false};
};

// Limits a caller sets on one download; 0 is none.
struct DownloadBounds {
    // The whole transfer, connecting included.
    std::int64_t totalMs = 0;
    // The body: a longer one, announced or arriving, is a failure.
    std::int64_t maxBytes = 0;
};

// How a download ended (download, and the signed-upgrade check).
struct DownloadOutcome {
    enum class Result { Done, Failed, Cancelled };
    Result result = Result::Done;
    // The platform's own code: a CURLcode, an HRESULT; 0 when it has none.
    std::int64_t code = 0;
    // Why it failed, for the diagnostic output; never shown to the player.
    std::string cause;

    bool done() const { return result == Result::Done; }
};

// A download writes into a temporary file beside its target, named after it:
// the target's name, a dot and six letters or digits. True when `name` is
// such a name for `target` (both file names, without folders).
bool isDownloadTemporary(std::string_view name, std::string_view target);

// Blocking download of `url` into the file `path`: Done, Failed, or
// Cancelled through the watch. An HTTP status outside 2xx, a body cut short
// of its announced length and a transfer beyond `bounds` are failures. The
// file at `path` is replaced only when done; otherwise the earlier file stays
// intact and no temporary file is left. With a `watch`, the call keeps the
// desktop's events flowing while it waits (Desktop::awaitTransfer: a
// progress window paints, its button works) and reports to the watch.
DownloadOutcome download(const std::string& url, const std::string& path,
                         DownloadWatch* watch = nullptr, const DownloadBounds& bounds = {});

// Removes the temporary file of a download whose launcher ended before the
// download did. A file that a download of any running launcher still writes
// stays. False when nothing was removed.
bool removeLeftover(const std::string& path);

// True when `signatureBase64` (an RSA PKCS#1 v1.5 signature over SHA-256,
// base64) is a valid signature of `message` (bytes) under `publicKeyPem` (an
// RSA public key, PEM "PUBLIC KEY"). Anything unreadable is false.
bool verifySignature(const std::string& message, const std::string& signatureBase64,
                     const std::string& publicKeyPem);

} // namespace fw
