#include "framework/portable/form.h"

#include "framework/ports/imaging.h"

#include <cmath>
#include <vector>

namespace fw {

namespace {
std::vector<std::unique_ptr<Form>> retiredForms;
bool sweepPosted = false;

void postSweep() {
    if (sweepPosted) return;
    sweepPosted = true;
    Platform::get().post([] { Form::destroyRetired(); });
}

int toPixels(int twips) {
    return static_cast<int>(std::lround(static_cast<double>(twips) / kTwipsPerPixel));
}

constexpr OleColor kDefaultBackColor = systemColor(kColorBtnFace);
} // namespace

Form::Form(FormLayout layout) : layout_(std::move(layout)), backColor_(kDefaultBackColor) {}

Form::~Form() = default;

void Form::Show(Form* owner) {
    if (!peer_) {
        // A reloaded window starts from its design values again.
        loading_ = true;
        peer_ = Platform::get().createWindow(*this, layout_, owner ? owner->peer() : nullptr);
        createControls();
        Form_Load();
        loading_ = false;
        if (!peer_) return; // Form_Load unloaded the window again
        Form_Resize();
    }
    peer_->show();
}

Form::Busy::~Busy() {
    // The sweep that found this form busy waits for this.
    if (--form.busy_ == 0 && form.retired_) postSweep();
}

void Form::retire(std::unique_ptr<Form> form) {
    if (!form) return;
    form->retired_ = true;
    form->Hide();
    retiredForms.push_back(std::move(form));
    postSweep();
}

void Form::destroyRetired() {
    sweepPosted = false;
    for (const auto& f : retiredForms)
        if (f->busy_) return;
    // Moved out first: a destructor may retire or sweep again.
    auto gone = std::move(retiredForms);
    retiredForms.clear();
    for (auto& f : gone) f.reset();
}

void Form::releaseShowing() {
    if (!peer_ || peer_->visible()) return;
    releaseDrawing();
    Platform::get().imaging().releaseFace(*peer_);
}

void Form::Unload(UnloadMode mode) {
    // A close that is already running (for example one whose confirmation
    // unloads this window again) is not started twice.
    if (!peer_ || closing_) return;
    Busy busy(*this);
    closing_ = true;
    bool cancel = false;
    Form_QueryUnload(cancel, mode);
    if (!cancel) Form_Unload(cancel);
    if (!cancel) destroyWindow();
    closing_ = false;
}

void Form::destroyWindow() {
    destroyControls();
    peer_.reset();
    backColor_ = kDefaultBackColor;
}

void Form::setBackColor(OleColor colour) {
    if (!peer_) return;
    backColor_ = colour;
    peer_->backColorChanged();
}

void Form::setLeft(int twips) {
    if (!peer_) return;
    moveTo({toPixels(twips), peer_->position().y});
}

void Form::setTop(int twips) {
    if (!peer_) return;
    moveTo({peer_->position().x, toPixels(twips)});
}

void Form::moveTo(Point topLeft) {
    // The login window follows the background every 10 ms: a window already
    // in place is left alone, since a move costs the desktop a layout pass
    // and a configure round trip even to the same place.
    const Point now = peer_->position();
    if (topLeft.x != now.x || topLeft.y != now.y) peer_->move(topLeft);
}

double Form::ScaleWidth() const {
    if (layout_.scaleWidth > 0) return layout_.scaleWidth;
    return peer_ ? peer_->clientSize().width : 0;
}
double Form::ScaleHeight() const {
    if (layout_.scaleHeight > 0) return layout_.scaleHeight;
    return peer_ ? peer_->clientSize().height : 0;
}

void Form::onResize() {
    // The first resize of a load is raised by Show itself.
    if (peer_ && !loading_) Form_Resize();
}

void Form::onMouseDown(int button, int shift, float x, float y) {
    Busy busy(*this); // a drag runs the system's move loop
    if (peer_) Form_MouseDown(button, shift, x, y);
}

void Form::onActivate() {
    // A retired window keeps no role: what it would pass the focus to is gone.
    if (peer_ && !retired_) Form_Activate();
}

} // namespace fw
