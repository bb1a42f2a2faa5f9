#pragma once

namespace windows {
// "Leave the game?" asked by the login and game windows; true on OK.
bool confirmExit();
} // namespace windows
