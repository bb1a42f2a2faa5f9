// Texts reach GTK as UTF-8; a text that is not valid UTF-8 would be refused
// (a warning and nothing shown), so bad bytes become U+FFFD instead.
#pragma once

#include <glib.h>

#include <string>

namespace fw::gtk {

inline std::string utf8(const std::string& text) {
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string out(valid);
    g_free(valid);
    return out;
}

} // namespace fw::gtk
