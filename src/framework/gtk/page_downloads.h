// Downloads that pages start (a link with `download`, a data: link, an
// attachment, in any frame, with or without a click) are saved only where
// the player says, as the Windows browser control asks too.
#pragma once

#include <webkit2/webkit2.h>

namespace fw::gtk {

// Every download of `context` waits for a save dialog ("另存为"), one at a
// time, modal to the window whose page started it; cancelled, it writes
// nothing.
void askWhereToSaveDownloads(WebKitWebContext* context);

} // namespace fw::gtk
