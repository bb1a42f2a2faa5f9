#include "controls/StoredLayout.h"

#include "framework/portable/bmp.h"

#include <string>

namespace controls {

namespace {
constexpr int kEndOfTabOrder = 32767;

std::string label(std::string_view name, std::optional<int> index) {
    std::string s(name);
    if (index) s += "(" + std::to_string(*index) + ")";
    return s;
}
} // namespace

fw::Layout loadLayout(int id) {
    auto& platform = fw::Platform::get();
    std::vector<std::uint8_t> bytes;
    try {
        bytes = platform.resource(id, "LAYOUT");
    } catch (const std::exception& e) {
        fw::Layout none;
        none.errors.push_back("layout " + std::to_string(id) + ": " + e.what());
        return none;
    }
    const std::string text(bytes.begin(), bytes.end());
    fw::Layout layout = fw::parseLayout(text, [&](int bmp) {
        return std::make_shared<const fw::Picture>(fw::decodeBmp(platform.resource(bmp, "BMP")));
    });
    for (auto& e : layout.errors) e = "layout " + std::to_string(id) + ", " + e;
    return layout;
}

std::unique_ptr<ImageButton> createImageButton(fw::WindowPeer& parent, fw::Layout& layout,
                                               std::string_view name, std::optional<int> index) {
    const fw::LayoutControl* entry = layout.find(name, index);
    if (!entry || entry->kind != "ImageButton") {
        layout.errors.push_back(label(name, index) +
                                (entry ? ": stored as a " + entry->kind + ", not an ImageButton"
                                       : ": no usable entry in the layout") +
                                "; it keeps its defaults");
        return std::make_unique<ImageButton>(parent, fw::Rect{}, kEndOfTabOrder);
    }
    auto button = std::make_unique<ImageButton>(parent, *entry->rect,
                                                entry->tabIndex.value_or(kEndOfTabOrder));
    try {
        // Checked first, so that a wrong kind changes nothing.
        ImageButton::checkPropertyKinds(entry->properties);
    } catch (const fw::PropertyKindError& e) {
        layout.errors.push_back(label(name, index) + " (line " + std::to_string(entry->line) +
                                "): " + e.what() + "; it keeps its defaults");
        return button;
    }
    button->ImageButton_ReadProperties(entry->properties);
    return button;
}

} // namespace controls
