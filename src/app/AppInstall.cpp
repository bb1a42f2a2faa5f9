#include "app/AppInstall.h"

namespace app {
void runInstall() {}
} // namespace app
