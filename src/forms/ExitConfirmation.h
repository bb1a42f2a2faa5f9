#pragma once

namespace forms {
// "Leave the game?" asked by the login and game windows; true on OK.
bool confirmExit();
} // namespace forms
