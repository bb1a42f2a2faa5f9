#include "framework/portable/player_log.h"

#include <cstdlib>

namespace fw {

// $XDG_STATE_HOME/<id>/launcher.log, else ~/.local/state/<id>/launcher.log;
// a relative setting counts as none, as the base-directory rules say.
std::string playerLogPathFor(const std::string& brandId) {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::string base;
    if (state && state[0] == '/') base = state;
    else if (home && home[0] == '/') base = std::string(home) + "/.local/state";
    else return {};
    return base + "/" + brandId + "/launcher.log";
}

} // namespace fw
