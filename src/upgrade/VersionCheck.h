// The version check and the upgrade: runs once per start, after checkConfig.
#pragma once

#include "framework/ports/network.h"
#include "upgrade/DownloadProgress.h"

#include <string>

namespace upgrade {

// Compares the local version with the server's and offers the upgrade. The
// check first removes the temporary files that downloads of earlier runs
// left in "update". `owner` gives the window that owns the upgrade's
// progress window when it comes up.
void checkVersion(const ProgressOwner& owner = {});
void downloadUpgrade(const ProgressOwner& owner = {});

// Blocking download of `address` + "?v=" + local-clock seconds into the file
// `relativePath` beside the executable. `watch`, `bounds`: see
// fw::download. The cause of a failure goes to the diagnostic
// output.
fw::DownloadOutcome downloadFile(const std::string& address, const std::string& relativePath,
                                 fw::DownloadWatch* watch = nullptr,
                                 const fw::DownloadBounds& bounds = {});
std::string requestAddress(const std::string& address);

// Tests and test programs only: other bounds for the version file's download
// (fw::DownloadBounds{} restores the launcher's own).
void setVersionCheckBoundsForTests(const fw::DownloadBounds& bounds);

} // namespace upgrade
