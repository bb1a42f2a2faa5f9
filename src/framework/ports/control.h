// Port of the host surface of a child control (the picture button) and of
// the plain label: a child window of a launcher window that the control
// paints itself, with the drawing calls, pointer capture, cursor and
// immediate repaint the control asks for. The control's rules (states,
// placement, paint order, events) and its properties (colours, font,
// enabled) are the launcher's own (src/controls); adapters only report
// notifications and carry out requests.
#pragma once

#include "framework/ports/geometry.h"
#include "framework/ports/imaging.h"
#include "framework/ports/platform.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fw {

// A 24-bit picture object, shared by reference between the properties that
// hold it.
struct Picture {
    int width = 0;  // pixels
    int height = 0; // pixels
    // Top-down rows of blue, green, red bytes, 3 * width bytes a row.
    std::vector<std::uint8_t> bgr;

    // The size the picture object reports, HIMETRIC (0.01 mm) at 96 dpi:
    // a 26-pixel bitmap measures 688.
    int widthHimetric() const { return toHimetric(width); }
    int heightHimetric() const { return toHimetric(height); }
    static int toHimetric(int pixels) { return (pixels * 2540 + 48) / 96; }
};
using PictureRef = std::shared_ptr<const Picture>;

// A font object: shared, so that assigning it shares it.
struct Font {
    std::string face;  // UTF-8
    double size = 9.0; // points
    int weight = 400;
    int charset = 1; // DEFAULT_CHARSET
    bool italic = false;
    bool underline = false;
    bool strikethrough = false;
};
using FontRef = std::shared_ptr<Font>;

enum class Cursor { Arrow, Hand };

// DrawText flags the controls use.
inline constexpr unsigned kDtLeft = 0x00;
inline constexpr unsigned kDtTop = 0x00;
inline constexpr unsigned kDtCenter = 0x01;
inline constexpr unsigned kDtRight = 0x02;
inline constexpr unsigned kDtVCenter = 0x04;
inline constexpr unsigned kDtBottom = 0x08;
inline constexpr unsigned kDtSingleLine = 0x20;

// Themed push-button part and states.
inline constexpr int kBpPushButton = 1;
inline constexpr int kPbsNormal = 1;
inline constexpr int kPbsHot = 2;
inline constexpr int kPbsPressed = 3;
inline constexpr int kPbsDisabled = 4;
inline constexpr int kPbsDefaulted = 5;

// Notifications from the host surface to its control, on the user-interface
// thread. Parameters are the host's values by reference. Those raised while
// createControlSurface runs may be dropped: the control reads the surface's
// size itself once it holds it.
class ControlEvents {
public:
    virtual ~ControlEvents() = default;
    virtual void onResize() = 0;
    // Draw now: the whole surface, its background first (fillBackground).
    virtual void onPaint() = 0;
    virtual void onGotFocus() = 0;
    virtual void onLostFocus() = 0;
    virtual void onKeyDown(std::int16_t& keyCode, std::int16_t& shift) = 0;
    virtual void onKeyPress(std::int16_t& keyAscii) = 0;
    virtual void onKeyUp(std::int16_t& keyCode, std::int16_t& shift) = 0;
    // Button: 1 left, 2 right, 4 middle. Shift: 1 Shift, 2 Ctrl, 4 Alt.
    // X and Y: pixels of the surface.
    virtual void onMouseDown(std::int16_t& button, std::int16_t& shift, float& x, float& y) = 0;
    virtual void onMouseMove(std::int16_t& button, std::int16_t& shift, float& x, float& y) = 0;
    virtual void onMouseUp(std::int16_t& button, std::int16_t& shift, float& x, float& y) = 0;
    // Assistive technology asks for the control's action (a push button's
    // press).
    virtual void onDefaultAction() = 0;
};

// The host surface of one child control.
class ControlSurface {
public:
    virtual ~ControlSurface() = default;

    // --- drawing, valid while onPaint runs ---
    // The whole surface in `colour`.
    virtual void fillBackground(OleColor colour) = 0;
    // The themed push-button background (part kBpPushButton) for `state`;
    // false, with nothing drawn, when no theme is available.
    virtual bool drawThemeBackground(int state, const Bounds& rect, const Bounds& clip) = 0;
    virtual void drawFocusRect(const Bounds& rect) = 0;
    // The picture into (x, y, width, height) pixels, from the source
    // rectangle in HIMETRIC as IPicture::Render takes it (a negative source
    // height with the source y at the picture's height draws it upright).
    virtual void renderPicture(const Picture& picture, int x, int y, int width, int height,
                               int srcX, int srcY, int srcWidth, int srcHeight) = 0;
    // One line of text in `font` and `colour`, placed in `rect` by the kDt*
    // flags; the background under it is left as it is.
    virtual void drawText(const std::string& text, const Bounds& rect, unsigned flags,
                          const Font& font, OleColor colour) = 0;

    // --- geometry and input ---
    virtual Bounds clientRect() const = 0;
    // The client area in the surface's scale (pixels).
    virtual float scaleWidth() const = 0;
    virtual float scaleHeight() const = 0;
    virtual float himetricToPixelsX(float himetric) const = 0;
    virtual float himetricToPixelsY(float himetric) const = 0;
    // The pointer's position in client pixels of the surface.
    virtual Point cursorInClient() const = 0;
    virtual void setCapture() = 0;
    virtual void releaseCapture() = 0;
    virtual void setCursor(Cursor cursor) = 0;

    // A disabled surface takes no pointer or key input; the control holds
    // the property and sets it here.
    virtual void setEnabled(bool enabled) = 0;

    // The container's ambient values: what a control without stored values
    // of its own takes (the back colour is its window object's).
    virtual OleColor ambientForeColor() const = 0;
    virtual OleColor ambientBackColor() const = 0;
    virtual FontRef ambientFont() const = 0;

    // What assistive technology reads for the surface: a push button with
    // this name (what it does) and one action, onDefaultAction.
    virtual void setAccessibleName(const std::string& name) = 0;

    // Repaints at once: onPaint runs before this returns.
    virtual void refresh() = 0;
    // Lets the message loop process every pending window message.
    virtual void doEvents() = 0;
};

// A plain label: one line of text, centred, on a transparent background; its
// text is also what assistive technology reads.
class LabelPeer {
public:
    virtual ~LabelPeer() = default;
    virtual std::string caption() const = 0;
    virtual void setCaption(const std::string& text) = 0;
};

} // namespace fw
