// Signed upgrades: with the operator's public key compiled in, an upgrade
// program is kept only when the version file carries a valid signature of it.
#pragma once

#include "framework/ports/platform.h"

#include <functional>
#include <string>

namespace upgrade {

// Tests and test programs only: another key than the one the launcher was
// built with, or none ("").
void setUpgradeKeyForTests(std::string pem);

// Appended to the upgrade program's name for the file that awaits its check.
inline constexpr const char* kUnverifiedSuffix = ".unverified";

// The version file's key that holds the upgrade program's signature.
inline constexpr const char* kSignatureKey = "upgradeSignature";

// How a file is fetched: `address` into the relative path `target`.
using Fetch =
    std::function<fw::DownloadOutcome(const std::string& address, const std::string& target)>;

// Downloads `address` into `target` (relative) with `fetch`. Without a key,
// exactly that. With one, the program goes into a side file first and
// becomes `target` only when `signature` verifies; otherwise the side file is
// removed, `target` stays as it was and the outcome says why (NotSigned,
// BadSignature, NotReplaced, or the fetch's own).
fw::DownloadOutcome downloadVerified(const std::string& address, const std::string& target,
                                     const std::string& signature, const Fetch& fetch);

} // namespace upgrade
