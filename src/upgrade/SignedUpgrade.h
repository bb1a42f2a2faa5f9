// Signed upgrades: with the operator's public key compiled in, an upgrade
// program is kept only when the version file carries a valid signature of it
// made for the version it is offered as.
#pragma once

#include "framework/ports/files.h"
#include "framework/ports/network.h"

#include <functional>
#include <memory>
#include <string>

namespace upgrade {

// Tests and test programs only: another key than the one the launcher was
// built with, or none ("").
void setUpgradeKeyForTests(std::string pem);

// True when the launcher was built with a key.
bool signedBuild();

// Each upgrade download goes to a file of its own, named after the upgrade
// program: its name, this suffix, a dot and six letters or digits.
inline constexpr const char* kUnverifiedSuffix = ".unverified";

// The version file's key that holds the upgrade program's signature.
inline constexpr const char* kSignatureKey = "upgradeSignature";

// What is signed: the version the program is offered as, then its bytes, so
// that a signature made for one version does not verify for another.
std::string signedMessage(const std::string& version, const std::string& program);

// True when `offered` is a newer version than `own`: both dot-separated
// whole numbers ("1.01", "2.10.3"), compared part by part as numbers, a
// missing part counting as 0. Anything else is not newer.
bool isNewerVersion(const std::string& offered, const std::string& own);

// How a file is fetched: `address` into the relative path `target`.
using Fetch =
    std::function<fw::DownloadOutcome(const std::string& address, const std::string& target)>;

// How an upgrade download ended: the transfer's own outcome (Done, Failed,
// Cancelled), or the program it brought refused.
struct UpgradeOutcome {
    enum class Result { Done, Failed, Cancelled, NotSigned, BadSignature, NotReplaced };
    Result result = Result::Done;
    // Why it failed, for the diagnostic output; never shown to the player.
    std::string cause;

    bool done() const { return result == Result::Done; }
};

// An upgrade program in place: the outcome and, when done, the program held
// open under the name `target` (fw::HeldFile), to be started as it is.
struct HeldUpgrade {
    UpgradeOutcome outcome;
    std::unique_ptr<fw::HeldFile> program;
};

// Downloads `address` with `fetch` into a file of its own beside `target`
// (relative), holds it, and with a key checks through the held file that
// `signature` is the signature of it for `version`; then moves the held file
// over `target`. Otherwise the file of its own is removed, `target` stays as
// it was and the outcome says why (NotSigned, BadSignature, NotReplaced, or
// the fetch's own).
HeldUpgrade downloadVerified(const std::string& address, const std::string& target,
                             const std::string& version, const std::string& signature,
                             const Fetch& fetch);

// True when `name` is a file that downloadVerified makes beside `target`
// (both names without folders), or a download's temporary file of one, or
// the side file of earlier launchers (`target` + kUnverifiedSuffix).
bool isUnverifiedFile(const std::string& name, const std::string& target);

} // namespace upgrade
