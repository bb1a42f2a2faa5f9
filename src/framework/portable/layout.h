// A window's stored layout: a versioned UTF-8 text compiled into the
// executable, naming each control with its kind, rectangle, tab order,
// optional group index and property bag. The format is described in
// docs/layout-format.md. A malformed file is refused as a whole; a malformed
// entry is refused on its own; each refusal leaves an error naming the line,
// and the controls concerned keep their defaults.
#pragma once

#include "framework/portable/property_bag.h"
#include "framework/ports/browser.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

inline constexpr int kLayoutVersion = 1;

struct LayoutControl {
    std::string name;
    std::string kind;         // ImageButton, PictureBox, WebBrowser, Label or Timer
    int line = 0;             // where the entry starts
    std::optional<Rect> rect; // pixels of the window, or of `container`
    std::optional<int> tabIndex;
    std::optional<int> index; // in a control group
    std::string container;    // empty: the window itself
    PropertyBag properties;
};

struct Layout {
    std::vector<LayoutControl> controls; // accepted entries, in file order
    std::vector<std::string> errors;     // "line N: why", one per refusal

    const LayoutControl* find(std::string_view name, std::optional<int> index = std::nullopt) const;
};

// The picture behind a bmp(id) reference; throws when it cannot be had.
using PictureLoader = std::function<PictureRef(int id)>;

Layout parseLayout(std::string_view text, const PictureLoader& pictures);

} // namespace fw
