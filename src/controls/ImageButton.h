// The launcher's picture button: a themed push-button background, a normal
// picture (a hot one while the pointer is over it) placed by TextAlign, an
// optional one-line caption and focus rectangle; Click when the left button
// is released over it. Written once against the host-surface port
// (framework/ports/control.h); every adapter supplies only the surface.
#pragma once

#include "framework/portable/alive_token.h"
#include "framework/portable/property_bag.h"
#include "framework/ports/control.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace controls {

class ImageButton : private fw::ControlEvents {
public:
    // The state record, the properties included: the surface only applies
    // them (Enabled) or draws with them.
    struct State {
        std::int32_t drawState = fw::kPbsNormal;
        bool mouseInside = false;
        fw::Bounds clientRect;
        bool focused = false;
        std::string Value;
        fw::PictureRef Picture;
        fw::PictureRef HotPicture;
        std::int32_t TextAlign = 0;
        bool HasFocus = false;
        bool HasHandCursor = false;
        bool Enabled = true;
        fw::OleColor ForeColor = 0;
        fw::OleColor BackColor = 0;
        fw::FontRef Font;
    };

    // Creates the host surface at `rect` (client pixels of `parent`) in the
    // parent's tab order, then runs ImageButton_Initialize.
    ImageButton(fw::WindowPeer& parent, const fw::Rect& rect, int tabIndex);
    // ImageButton_Terminate, then the surface goes.
    ~ImageButton() override;
    ImageButton(const ImageButton&) = delete;
    ImageButton& operator=(const ImageButton&) = delete;

    // --- events raised to the container; parameters by reference ---
    std::function<void(std::int16_t& keyCode, std::int16_t& shift)> KeyDown;
    std::function<void(std::int16_t& keyAscii)> KeyPress;
    std::function<void(std::int16_t& keyCode, std::int16_t& shift)> KeyUp;
    std::function<void(std::int16_t& button, std::int16_t& shift, float& x, float& y)> MouseDown;
    std::function<void(std::int16_t& button, std::int16_t& shift, float& x, float& y)> MouseMove;
    std::function<void(std::int16_t& button, std::int16_t& shift, float& x, float& y)> MouseUp;
    std::function<void()> Click;
    // The property-changed notification, by property name.
    std::function<void(const std::string& property)> PropertyChanged;

    // --- properties ---
    // A new button takes the ambient colours and font (ControlSurface).
    bool Enabled() const { return st_.Enabled; }
    void setEnabled(bool enabled);
    fw::OleColor ForeColor() const { return st_.ForeColor; }
    void setForeColor(fw::OleColor colour);
    fw::OleColor BackColor() const { return st_.BackColor; }
    void setBackColor(fw::OleColor colour);
    fw::FontRef Font() const { return st_.Font; }
    // No font is the ambient one.
    void setFont(fw::FontRef font);
    fw::PictureRef Picture() const { return st_.Picture; }
    void setPicture(fw::PictureRef picture);
    fw::PictureRef HotPicture() const { return st_.HotPicture; }
    void setHotPicture(fw::PictureRef picture);
    std::string Value() const { return st_.Value; }
    void setValue(const std::string& text);
    std::int32_t TextAlign() const { return st_.TextAlign; }
    void setTextAlign(std::int32_t code);
    bool HasFocus() const { return st_.HasFocus; }
    void setHasFocus(bool hasFocus);
    bool HasHandCursor() const { return st_.HasHandCursor; }
    void setHasHandCursor(bool hasHandCursor);
    // What assistive technology reads: the button's name, what it does.
    // Not stored with the other properties.
    void setAccessibleName(const std::string& name) { surface_->setAccessibleName(name); }

    // --- the persisted property set ---
    void ImageButton_ReadProperties(const fw::PropertyBag& bag);
    void ImageButton_WriteProperties(fw::PropertyBag& bag) const;
    // Throws the PropertyKindError that ImageButton_ReadProperties would
    // meet, before anything is changed: a host restoring stored data can keep
    // the defaults instead of a half-restored instance.
    static void checkPropertyKinds(const fw::PropertyBag& bag);

    const State& state() const { return st_; }

private:
    void ImageButton_Initialize();
    void ImageButton_Terminate();
    void ImageButton_Resize();
    void ImageButton_Paint();
    void ImageButton_GotFocus();
    void ImageButton_LostFocus();
    void ImageButton_KeyDown(std::int16_t& keyCode, std::int16_t& shift);
    void ImageButton_KeyPress(std::int16_t& keyAscii);
    void ImageButton_KeyUp(std::int16_t& keyCode, std::int16_t& shift);
    void ImageButton_MouseDown(std::int16_t& button, std::int16_t& shift, float& x, float& y);
    void ImageButton_MouseMove(std::int16_t& button, std::int16_t& shift, float& x, float& y);
    void ImageButton_MouseUp(std::int16_t& button, std::int16_t& shift, float& x, float& y);

    // fw::ControlEvents. A host may report while the surface is being made,
    // before the control holds it: those notifications are dropped, and the
    // size is taken once the surface is there.
    void onResize() override {
        if (surface_) ImageButton_Resize();
    }
    void onPaint() override {
        if (surface_) ImageButton_Paint();
    }
    void onGotFocus() override {
        if (surface_) ImageButton_GotFocus();
    }
    void onLostFocus() override {
        if (surface_) ImageButton_LostFocus();
    }
    void onKeyDown(std::int16_t& k, std::int16_t& s) override {
        if (surface_) ImageButton_KeyDown(k, s);
    }
    void onKeyPress(std::int16_t& k) override {
        if (surface_) ImageButton_KeyPress(k);
    }
    void onKeyUp(std::int16_t& k, std::int16_t& s) override {
        if (surface_) ImageButton_KeyUp(k, s);
    }
    void onMouseDown(std::int16_t& b, std::int16_t& s, float& x, float& y) override {
        if (surface_) ImageButton_MouseDown(b, s, x, y);
    }
    void onMouseMove(std::int16_t& b, std::int16_t& s, float& x, float& y) override {
        if (surface_) ImageButton_MouseMove(b, s, x, y);
    }
    void onMouseUp(std::int16_t& b, std::int16_t& s, float& x, float& y) override {
        if (surface_) ImageButton_MouseUp(b, s, x, y);
    }
    // The accessible press is the mouse's Click, for an enabled button.
    void onDefaultAction() override;

    void announce(const char* property);
    std::int32_t restingState() const { return st_.focused ? fw::kPbsDefaulted : fw::kPbsNormal; }
    bool cursorInside() const;
    void drawCaption(unsigned flags);
    // Runs a container handler; false when the control was destroyed
    // meanwhile, and the caller must then touch nothing of it.
    template <class Handler, class... Args>
    bool raise(const Handler& handler, Args&... args);

    State st_;
    std::unique_ptr<fw::ControlSurface> surface_;
    // Cleared by the destructor: a container handler may destroy the control
    // while it is raising an event (a close button unloading its window).
    fw::AliveToken alive_;
};

} // namespace controls
