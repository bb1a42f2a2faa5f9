#include "controls/ImageButton.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>

namespace controls {

namespace {

constexpr std::int16_t kKeySpace = 32;
constexpr std::int16_t kKeyEnter = 13;
constexpr std::int16_t kLeftButton = 1;

constexpr unsigned kCaptionAlone = fw::kDtSingleLine | fw::kDtVCenter | fw::kDtCenter; // 0x25
constexpr unsigned kCaptionRight = fw::kDtSingleLine | fw::kDtVCenter | fw::kDtRight;  // 0x26
constexpr unsigned kCaptionTop = fw::kDtSingleLine | fw::kDtTop | fw::kDtCenter;       // 0x21
constexpr unsigned kCaptionBottom = fw::kDtSingleLine | fw::kDtBottom | fw::kDtCenter; // 0x29
constexpr unsigned kCaptionLeft = fw::kDtSingleLine | fw::kDtVCenter | fw::kDtLeft;    // 0x24

// Placement works in 32-bit integers; leaving their range is an error for
// the host, like any failing service, not a wrapped coordinate.
std::int32_t checked(std::int64_t v) {
    if (v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
        throw std::overflow_error("picture placement leaves the 32-bit range");
    return static_cast<std::int32_t>(v);
}

// Nearest integer, ties to even, whatever the floating-point rounding mode.
std::int32_t roundHalfEven(double v) {
    if (!std::isfinite(v)) throw std::overflow_error("picture size is not a number");
    double r = std::floor(v);
    const double frac = v - r;
    if (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
    if (r < std::numeric_limits<std::int32_t>::min() ||
        r > std::numeric_limits<std::int32_t>::max())
        throw std::overflow_error("picture placement leaves the 32-bit range");
    return static_cast<std::int32_t>(r);
}

struct Placement {
    std::int32_t left;
    std::int32_t top;
    unsigned captionFlags;
};

// Where TextAlign puts a picW x picH picture in `rc`; nothing for codes that
// draw neither picture nor caption.
std::optional<Placement> place(std::int32_t textAlign, const fw::Bounds& rc, std::int32_t picW,
                               std::int32_t picH) {
    const std::int64_t width = checked(std::int64_t{rc.right} - rc.left);
    const std::int64_t height = checked(std::int64_t{rc.bottom} - rc.top);
    const auto centreX = [&] {
        return roundHalfEven(rc.left + static_cast<double>(checked(width - picW)) / 2.0);
    };
    const auto centreY = [&] {
        return roundHalfEven(rc.top + static_cast<double>(checked(height - picH)) / 2.0);
    };
    switch (textAlign) {
    case 0:
    case 4: return Placement{rc.left, centreY(), kCaptionRight};
    case 1: return Placement{centreX(), checked(std::int64_t{rc.bottom} - picH), kCaptionTop};
    case 2: return Placement{centreX(), rc.top, kCaptionBottom};
    case 3: return Placement{checked(std::int64_t{rc.right} - picW), centreY(), kCaptionLeft};
    default: return std::nullopt;
    }
}

} // namespace

ImageButton::ImageButton(fw::WindowPeer& parent, const fw::Rect& rect, int tabIndex)
    : surface_(fw::Platform::get().createControlSurface(parent, *this, rect, tabIndex)) {
    ImageButton_Initialize();
    ImageButton_Resize();
}

ImageButton::~ImageButton() {
    alive_.end();
    ImageButton_Terminate();
}

void ImageButton::ImageButton_Initialize() {
    // The surface's scale is pixels on every host: its scale size, the
    // pointer coordinates and all drawing positions are pixels already.
    st_.drawState = fw::kPbsNormal;
    st_.ForeColor = surface_->ambientForeColor();
    st_.BackColor = surface_->ambientBackColor();
    st_.Font = surface_->ambientFont();
}

void ImageButton::ImageButton_Terminate() {
    st_.Picture.reset();
    st_.HotPicture.reset();
    if (st_.HasHandCursor) surface_->setCursor(fw::Cursor::Arrow);
}

// --- properties ---

void ImageButton::announce(const char* property) {
    if (PropertyChanged) {
        auto handler = PropertyChanged;
        handler(property);
    }
}

void ImageButton::setEnabled(bool enabled) {
    st_.Enabled = enabled;
    surface_->setEnabled(enabled);
    announce("Enabled");
    st_.drawState = enabled ? fw::kPbsNormal : fw::kPbsDisabled;
    surface_->refresh();
}

void ImageButton::setForeColor(fw::OleColor colour) {
    st_.ForeColor = colour;
    announce("ForeColor");
    surface_->refresh();
}

void ImageButton::setBackColor(fw::OleColor colour) {
    st_.BackColor = colour;
    announce("BackColor");
    surface_->refresh();
}

void ImageButton::setFont(fw::FontRef font) {
    st_.Font = font ? std::move(font) : surface_->ambientFont();
    announce("Font");
    surface_->refresh();
}

void ImageButton::setPicture(fw::PictureRef picture) {
    st_.Picture = std::move(picture);
    announce("Picture");
    surface_->refresh();
}

void ImageButton::setHotPicture(fw::PictureRef picture) {
    // Shows at the next repaint.
    st_.HotPicture = std::move(picture);
}

void ImageButton::setValue(const std::string& text) {
    st_.Value = text;
    announce("Value");
    surface_->refresh();
}

void ImageButton::setTextAlign(std::int32_t code) {
    st_.TextAlign = code;
    announce("TextAlign");
    surface_->refresh();
}

void ImageButton::setHasFocus(bool hasFocus) {
    st_.HasFocus = hasFocus;
    announce("HasFocus");
}

void ImageButton::setHasHandCursor(bool hasHandCursor) {
    st_.HasHandCursor = hasHandCursor;
    announce("HasHandCursor");
}

// --- persistence ---

void ImageButton::checkPropertyKinds(const fw::PropertyBag& bag) {
    // Reading with throw-away defaults meets exactly the kind errors the
    // real read would.
    (void)bag.readBool("Enabled", true);
    (void)bag.readInt("ForeColor", 0);
    (void)bag.readInt("BackColor", 0);
    (void)bag.readFont("Font", nullptr);
    (void)bag.readPicture("Picture", nullptr);
    (void)bag.readPicture("HotPicture", nullptr);
    (void)bag.readString("Value", "");
    (void)bag.readInt("TextAlign", 0);
    (void)bag.readBool("HasFocus", false);
    (void)bag.readBool("HasHandCursor", false);
}

void ImageButton::ImageButton_ReadProperties(const fw::PropertyBag& bag) {
    // Through the setter: announced, and repainted before the other keys.
    setEnabled(bag.readBool("Enabled", true));
    const auto& s = *surface_;
    st_.ForeColor = static_cast<fw::OleColor>(
        bag.readInt("ForeColor", static_cast<std::int32_t>(s.ambientForeColor())));
    st_.BackColor = static_cast<fw::OleColor>(
        bag.readInt("BackColor", static_cast<std::int32_t>(s.ambientBackColor())));
    st_.Font = bag.readFont("Font", nullptr);
    if (!st_.Font) st_.Font = s.ambientFont();
    st_.Picture = bag.readPicture("Picture", nullptr);
    st_.HotPicture = bag.readPicture("HotPicture", nullptr);
    st_.Value = bag.readString("Value", "");
    st_.TextAlign = bag.readInt("TextAlign", 0);
    st_.HasFocus = bag.readBool("HasFocus", false);
    st_.HasHandCursor = bag.readBool("HasHandCursor", false);
}

void ImageButton::ImageButton_WriteProperties(fw::PropertyBag& bag) const {
    const auto& s = *surface_;
    bag.writeBool("Enabled", st_.Enabled, true);
    bag.writeInt("ForeColor", static_cast<std::int32_t>(st_.ForeColor),
                 static_cast<std::int32_t>(s.ambientForeColor()));
    bag.writeInt("BackColor", static_cast<std::int32_t>(st_.BackColor),
                 static_cast<std::int32_t>(s.ambientBackColor()));
    bag.writeFont("Font", st_.Font, s.ambientFont());
    bag.writePicture("Picture", st_.Picture, nullptr);
    bag.writePicture("HotPicture", st_.HotPicture, nullptr);
    bag.writeString("Value", st_.Value, "");
    bag.writeInt("TextAlign", st_.TextAlign, 0);
    bag.writeBool("HasFocus", st_.HasFocus, false);
    bag.writeBool("HasHandCursor", st_.HasHandCursor, false);
}

// --- painting ---

void ImageButton::ImageButton_Resize() {
    st_.clientRect = surface_->clientRect();
}

void ImageButton::drawCaption(unsigned flags) {
    // The caption ends at its first NUL, as a C string would; an empty one
    // draws nothing. Texts stay UTF-8: the adapters draw them as Unicode, so
    // Chinese captions survive any system code page.
    const std::string text = st_.Value.substr(0, st_.Value.find('\0'));
    if (text.empty()) return;
    surface_->drawText(text, st_.clientRect, flags, *st_.Font, st_.ForeColor);
}

void ImageButton::ImageButton_Paint() {
    auto& s = *surface_;
    const fw::Bounds rc = st_.clientRect;
    s.fillBackground(st_.BackColor);
    // Without a theme the surface draws nothing and says so; the rest is
    // drawn all the same.
    (void)s.drawThemeBackground(st_.drawState, rc, rc);
    if (st_.HasFocus && st_.focused) s.drawFocusRect(rc);
    if (!st_.Picture) {
        drawCaption(kCaptionAlone);
        return;
    }
    const fw::PictureRef picture =
        (st_.HotPicture && st_.drawState == fw::kPbsHot) ? st_.HotPicture : st_.Picture;
    const std::int32_t widthHm = picture->widthHimetric();
    const std::int32_t heightHm = picture->heightHimetric();
    const std::int32_t picW = roundHalfEven(s.himetricToPixelsX(static_cast<float>(widthHm)));
    const std::int32_t picH = roundHalfEven(s.himetricToPixelsY(static_cast<float>(heightHm)));
    const auto at = place(st_.TextAlign, rc, picW, picH);
    if (!at) return;
    // Upright: the source starts at the picture's height and runs up.
    s.renderPicture(*picture, at->left, at->top, picW, picH, 0, heightHm, widthHm, -heightHm);
    drawCaption(at->captionFlags);
}

// --- keyboard, mouse and Click ---

template <class Handler, class... Args>
bool ImageButton::raise(const Handler& handler, Args&... args) {
    if (!handler) return true;
    // A copy: the container may replace the handler, or destroy the control
    // and with it this member, while the handler runs.
    const Handler run = handler;
    const fw::AliveToken::Watch watch = alive_.watch();
    run(args...);
    return watch.alive();
}

bool ImageButton::cursorInside() const {
    const fw::Point p = surface_->cursorInClient();
    const fw::Bounds& r = st_.clientRect;
    return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
}

void ImageButton::ImageButton_GotFocus() {
    st_.focused = true;
    st_.drawState = fw::kPbsDefaulted;
    surface_->refresh();
}

void ImageButton::ImageButton_LostFocus() {
    st_.focused = false;
    st_.drawState = fw::kPbsNormal;
    surface_->refresh();
}

void ImageButton::ImageButton_KeyDown(std::int16_t& keyCode, std::int16_t& shift) {
    if (keyCode == kKeySpace || keyCode == kKeyEnter) {
        st_.drawState = fw::kPbsPressed;
        surface_->refresh();
    }
    raise(KeyDown, keyCode, shift);
}

void ImageButton::ImageButton_KeyPress(std::int16_t& keyAscii) {
    raise(KeyPress, keyAscii);
}

void ImageButton::ImageButton_KeyUp(std::int16_t& keyCode, std::int16_t& shift) {
    if (keyCode == kKeySpace || keyCode == kKeyEnter) {
        st_.drawState = cursorInside() ? fw::kPbsHot : restingState();
        surface_->refresh();
        // Pending messages may run anything, this control's destruction
        // included.
        const fw::AliveToken::Watch watch = alive_.watch();
        surface_->doEvents();
        if (!watch.alive()) return;
    }
    raise(KeyUp, keyCode, shift);
}

void ImageButton::ImageButton_MouseDown(std::int16_t& button, std::int16_t& shift, float& x,
                                        float& y) {
    if (button == kLeftButton) {
        st_.drawState = fw::kPbsPressed;
        surface_->refresh();
    }
    raise(MouseDown, button, shift, x, y);
}

void ImageButton::ImageButton_MouseMove(std::int16_t& button, std::int16_t& shift, float& x,
                                        float& y) {
    auto& s = *surface_;
    const float width = s.scaleWidth();
    const float height = s.scaleHeight();
    // Strict on all four sides: the top row and left column count as outside.
    if (x > 0 && y > 0 && x < width && y < height) {
        if (!st_.mouseInside) {
            if (st_.HasHandCursor) s.setCursor(fw::Cursor::Hand);
            st_.mouseInside = true;
            st_.drawState = fw::kPbsHot;
            s.refresh();
        }
        // Held while inside, so that the move that leaves still arrives.
        s.setCapture();
    } else {
        s.releaseCapture();
        if (st_.HasHandCursor) s.setCursor(fw::Cursor::Arrow);
        st_.mouseInside = false;
        st_.drawState = restingState();
        s.refresh();
    }
    raise(MouseMove, button, shift, x, y);
}

void ImageButton::ImageButton_MouseUp(std::int16_t& button, std::int16_t& shift, float& x,
                                      float& y) {
    if (!raise(MouseUp, button, shift, x, y)) return;
    // Read after the container's handler: it may have changed the button.
    if (button != kLeftButton) return;
    const bool wasFocused = st_.focused;
    st_.drawState = fw::kPbsDefaulted;
    st_.focused = false; // no focus rectangle while the click is delivered
    surface_->refresh();
    if (st_.mouseInside && !raise(Click)) return;
    st_.focused = wasFocused;
    st_.drawState = cursorInside() ? fw::kPbsHot : restingState();
    surface_->refresh();
}

void ImageButton::onDefaultAction() {
    if (surface_ && st_.Enabled) raise(Click);
}

} // namespace controls
