#pragma once

namespace app {
// Install hook: reserved for first-run work; it has none.
void runInstall();
} // namespace app
