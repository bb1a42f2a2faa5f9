// Windows restore their picture buttons from the layout stored in the
// executable: placed, in the tab order and with the properties kept there.
// What cannot be restored leaves a button with its defaults and an error in
// the layout's list, never a half-restored one.
#pragma once

#include "controls/ImageButton.h"
#include "framework/portable/layout.h"

#include <memory>
#include <optional>
#include <string_view>

namespace controls {

// The login window's layout (resource type "LAYOUT").
inline constexpr int kLoginLayoutId = 301;

// The layout stored as resource `id` of type "LAYOUT", its pictures read
// from the "BMP" resources it names. A missing resource gives no controls
// and that error.
fw::Layout loadLayout(int id);

// The button `name` (of group index `index`, if it belongs to a group) on
// `parent`. Without a usable entry it has no stored data: an empty
// rectangle at the end of the tab order, and its defaults.
std::unique_ptr<ImageButton> createImageButton(fw::WindowPeer& parent, fw::Layout& layout,
                                               std::string_view name,
                                               std::optional<int> index = std::nullopt);

} // namespace controls
