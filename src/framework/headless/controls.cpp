// Headless child controls: a picture-button surface that records what it was
// asked to draw and delivers the input a test scripts, and a label record.
#include "framework/headless/platform.h"
#include "framework/ports/control.h"

#include <cmath>
#include <stdexcept>

namespace fw::headless {

namespace {

bool contains(const Rect& r, Point p) {
    return p.x >= r.left && p.x < r.left + r.width && p.y >= r.top && p.y < r.top + r.height;
}

class Surface : public ControlSurface {
public:
    Surface(HeadlessControls& controls, ControlRecord& rec) : controls_(controls), rec_(rec) {}
    ~Surface() override {
        rec_.destroyed = true;
        if (controls_.capture == &rec_) controls_.capture = nullptr;
        if (controls_.focus == &rec_) controls_.focus = nullptr;
    }

    void fillBackground(OleColor colour) override {
        DrawCall c = call(DrawCall::Kind::Fill);
        c.rect = Bounds{0, 0, rec_.rect.width, rec_.rect.height};
        c.colour = colour;
        add(std::move(c));
    }
    bool drawThemeBackground(int state, const Bounds& rect, const Bounds& clip) override {
        if (!rec_.theme) return false;
        DrawCall c = call(DrawCall::Kind::Theme);
        c.state = state;
        c.rect = rect;
        c.clip = clip;
        add(std::move(c));
        return true;
    }
    void drawFocusRect(const Bounds& rect) override {
        DrawCall c = call(DrawCall::Kind::FocusRect);
        c.rect = rect;
        add(std::move(c));
    }
    void renderPicture(const Picture& picture, int x, int y, int width, int height, int srcX,
                       int srcY, int srcWidth, int srcHeight) override {
        DrawCall c = call(DrawCall::Kind::Picture);
        c.rect = {x, y, x + width, y + height};
        c.picture = &picture;
        c.srcX = srcX;
        c.srcY = srcY;
        c.srcWidth = srcWidth;
        c.srcHeight = srcHeight;
        add(std::move(c));
    }
    void drawText(const std::string& text, const Bounds& rect, unsigned flags, const Font& font,
                  OleColor colour) override {
        DrawCall c = call(DrawCall::Kind::Text);
        c.text = text;
        c.rect = rect;
        c.flags = flags;
        c.colour = colour;
        c.font = font;
        add(std::move(c));
    }

    Bounds clientRect() const override {
        return rec_.clientBounds.value_or(Bounds{0, 0, rec_.rect.width, rec_.rect.height});
    }
    float scaleWidth() const override { return static_cast<float>(rec_.rect.width); }
    float scaleHeight() const override { return static_cast<float>(rec_.rect.height); }
    float himetricToPixelsX(float himetric) const override {
        return static_cast<float>(himetric * 96 / 2540.0);
    }
    float himetricToPixelsY(float himetric) const override {
        return static_cast<float>(himetric * 96 / 2540.0);
    }
    Point cursorInClient() const override {
        if (controls_.pointerWindow != rec_.parent) return {-1000000, -1000000};
        return {controls_.pointer.x - rec_.rect.left, controls_.pointer.y - rec_.rect.top};
    }
    void setCapture() override { controls_.capture = &rec_; }
    // Like the system's: whoever holds the capture loses it.
    void releaseCapture() override { controls_.capture = nullptr; }
    void setCursor(Cursor cursor) override { rec_.cursors.push_back(cursor); }

    void setEnabled(bool enabled) override { rec_.enabled = enabled; }

    OleColor ambientForeColor() const override { return controls_.ambientForeColor; }
    OleColor ambientBackColor() const override { return rec_.parent->form->backColor(); }
    FontRef ambientFont() const override { return controls_.ambientFont; }

    void setAccessibleName(const std::string& name) override { rec_.accessibleName = name; }

    void refresh() override { controls_.paint(rec_); }
    void doEvents() override { controls_.platform().pump(); }

private:
    DrawCall call(DrawCall::Kind kind) const {
        // Drawing belongs inside the paint, as on a real device context.
        if (!rec_.painting) throw std::logic_error("controls: drawing outside a paint");
        DrawCall c;
        c.kind = kind;
        return c;
    }
    void add(DrawCall c) { rec_.paints.back().push_back(std::move(c)); }

    HeadlessControls& controls_;
    ControlRecord& rec_;
};

class Label : public LabelPeer {
public:
    explicit Label(LabelRecord& rec) : rec_(rec) {}
    ~Label() override { rec_.destroyed = true; }
    std::string caption() const override { return rec_.caption; }
    void setCaption(const std::string& text) override { rec_.caption = text; }

private:
    LabelRecord& rec_;
};

} // namespace

const PaintRecord& ControlRecord::lastPaint() const {
    if (paints.empty()) throw std::logic_error("controls: never painted");
    return paints.back();
}

std::vector<DrawCall> ControlRecord::last(DrawCall::Kind kind) const {
    std::vector<DrawCall> out;
    for (const auto& c : lastPaint())
        if (c.kind == kind) out.push_back(c);
    return out;
}

ControlRecord* HeadlessControls::byTabIndex(const WindowRecord& window, int tabIndex) {
    for (auto& c : surfaces)
        if (!c.destroyed && c.parent == &window && c.tabIndex == tabIndex) return &c;
    return nullptr;
}

ControlRecord* HeadlessControls::pointerTarget() {
    if (platform_.boxesOpen) return nullptr; // only the box takes input
    if (capture && capture->enabled) return capture;
    // The last one made is on top.
    for (auto it = surfaces.rbegin(); it != surfaces.rend(); ++it)
        if (!it->destroyed && it->enabled && it->parent == pointerWindow &&
            contains(it->rect, pointer))
            return &*it;
    return nullptr;
}

void HeadlessControls::moveTo(ControlRecord& control, float x, float y) {
    pointerWindow = control.parent;
    pointer = {control.rect.left + static_cast<int>(std::floor(x)),
               control.rect.top + static_cast<int>(std::floor(y))};
    ControlRecord* target = pointerTarget();
    if (!target) return;
    // Fractions survive for the control they were given for.
    float tx = x + static_cast<float>(control.rect.left - target->rect.left);
    float ty = y + static_cast<float>(control.rect.top - target->rect.top);
    std::int16_t held = buttons;
    std::int16_t shift = 0;
    target->events->onMouseMove(held, shift, tx, ty);
}

namespace {
// A button's press or release at the pointer, to the control that takes it.
void sendButton(ControlRecord* target, Point pointer, int button,
                void (ControlEvents::*event)(std::int16_t&, std::int16_t&, float&, float&)) {
    if (!target) return;
    std::int16_t b = static_cast<std::int16_t>(button);
    std::int16_t shift = 0;
    float x = static_cast<float>(pointer.x - target->rect.left);
    float y = static_cast<float>(pointer.y - target->rect.top);
    (target->events->*event)(b, shift, x, y);
}
} // namespace

void HeadlessControls::press(int button) {
    buttons = static_cast<std::int16_t>(buttons | button);
    sendButton(pointerTarget(), pointer, button, &ControlEvents::onMouseDown);
}

void HeadlessControls::release(int button) {
    buttons = static_cast<std::int16_t>(buttons & ~button);
    sendButton(pointerTarget(), pointer, button, &ControlEvents::onMouseUp);
}

void HeadlessControls::setFocus(ControlRecord* control) {
    if (focus == control) return;
    ControlRecord* old = focus;
    focus = control;
    if (old && !old->destroyed) old->events->onLostFocus();
    if (control && !control->destroyed) control->events->onGotFocus();
}

void HeadlessControls::keyDown(std::int16_t keyCode) {
    if (!focus || !focus->enabled || platform_.boxesOpen) return;
    std::int16_t shift = 0;
    focus->events->onKeyDown(keyCode, shift);
}

void HeadlessControls::keyUp(std::int16_t keyCode) {
    if (!focus || !focus->enabled || platform_.boxesOpen) return;
    std::int16_t shift = 0;
    focus->events->onKeyUp(keyCode, shift);
}

void HeadlessControls::defaultAction(ControlRecord& control) {
    if (!control.destroyed && !platform_.boxesOpen) control.events->onDefaultAction();
}

void HeadlessControls::resize(ControlRecord& control, Size size) {
    control.rect.width = size.width;
    control.rect.height = size.height;
    if (control.destroyed) return;
    control.events->onResize();
    paint(control);
}

void HeadlessControls::paint(ControlRecord& control) {
    if (control.destroyed) return;
    control.paints.emplace_back();
    const bool outer = control.painting;
    control.painting = true;
    try {
        control.events->onPaint();
    } catch (...) {
        control.painting = outer;
        throw;
    }
    control.painting = outer;
}

std::unique_ptr<ControlSurface> HeadlessPlatform::createControlSurface(WindowPeer& parent,
                                                                       ControlEvents& events,
                                                                       const Rect& rect,
                                                                       int tabIndex) {
    ControlRecord& rec = controls.surfaces.emplace_back();
    rec.events = &events;
    rec.parent = &recordOf(parent);
    rec.rect = rect;
    rec.tabIndex = tabIndex;
    // Its first size and paint come from the message loop, as a desktop's do.
    ControlRecord* r = &rec;
    HeadlessControls* c = &controls;
    post([r, c] { c->resize(*r, {r->rect.width, r->rect.height}); });
    return std::make_unique<Surface>(controls, rec);
}

std::unique_ptr<LabelPeer> HeadlessPlatform::createLabel(WindowPeer& parent, const Rect& rect,
                                                         OleColor colour) {
    LabelRecord& rec = controls.labels.emplace_back();
    rec.parent = &recordOf(parent);
    rec.rect = rect;
    rec.colour = colour;
    return std::make_unique<Label>(rec);
}

} // namespace fw::headless
