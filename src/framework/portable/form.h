// A top-level window object: creating the object creates no window; Show
// loads it (Form_Load, then the first Form_Resize) and makes it visible;
// Unload asks Form_QueryUnload, runs Form_Unload and destroys the window while
// the object and its fields survive for a later Show.
#pragma once

#include "framework/ports/platform.h"

#include <memory>
#include <string>

namespace fw {

class Form : public WindowEvents {
public:
    ~Form() override;
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    void Show(Form* owner = nullptr);
    void Hide() {
        if (peer_) peer_->hide();
    }
    void Unload(UnloadMode mode = UnloadMode::Code);

    bool Loaded() const { return peer_ != nullptr; }

    // A window replaced for good: hidden now and destroyed from the message
    // loop, never under a handler of its own that is still running (a close
    // whose question is open further down the stack). Forms retired together
    // go together, in the order given (owned windows first).
    static void retire(std::unique_ptr<Form> form);
    // Destroys the retired forms now, unless one of them is still busy.
    static void destroyRetired();
    bool Retired() const { return retired_; }

    // A hidden window that is never shown again (the login face under the
    // game window: the way back makes a new one) lets go of what only
    // showing it needs: its controls' drawing (releaseDrawing) and its
    // layered face. The object, its window and timers and an open question
    // of it stay as they are. A window on the screen keeps everything.
    void releaseShowing();

    // Outer top-left corner, twips.
    int Left() const { return peer_ ? peer_->position().x * kTwipsPerPixel : 0; }
    int Top() const { return peer_ ? peer_->position().y * kTwipsPerPixel : 0; }
    void setLeft(int twips);
    void setTop(int twips);
    bool Visible() const { return peer_ && peer_->visible(); }
    WindowState windowState() const { return peer_ ? peer_->state() : layout_.startState; }
    void setWindowState(WindowState state) {
        if (peer_) peer_->setState(state);
    }
    std::string Caption() const { return peer_ ? peer_->caption() : layout_.caption; }
    void setCaption(const std::string& text) {
        if (peer_) peer_->setCaption(text);
    }
    // The client area in the window's scale units: pixels, unless the
    // layout gives a user scale.
    double ScaleWidth() const;
    double ScaleHeight() const;
    // The button face until changed; a window loaded again starts from it.
    OleColor BackColor() const { return backColor_; }
    void setBackColor(OleColor colour);
    // The keyboard to this window, when it is shown.
    void SetFocus() {
        if (Visible()) peer_->activate();
    }

    WindowPeer* peer() const { return peer_.get(); }

    // The window's events (WindowEvents), called by adapters.
    void onCloseRequest(UnloadMode mode) override { Unload(mode); }
    void onResize() override;
    void onMouseDown(int button, int shift, float x, float y) override;
    void onActivate() override;
    bool hasWindow() const override { return Loaded(); }
    OleColor backColor() const override { return backColor_; }

protected:
    explicit Form(FormLayout layout);

    // Child controls live as long as the window; they are made before
    // Form_Load and dropped when the window goes.
    virtual void createControls() {}
    virtual void destroyControls() {}
    // What the controls hold only to be drawn; called by releaseShowing.
    virtual void releaseDrawing() {}

    virtual void Form_Load() {}
    virtual void Form_Resize() {}
    virtual void Form_QueryUnload(bool& /*cancel*/, UnloadMode /*mode*/) {}
    virtual void Form_Unload(bool& /*cancel*/) {}
    virtual void Form_MouseDown(int /*button*/, int /*shift*/, float /*x*/, float /*y*/) {}
    virtual void Form_Activate() {}

private:
    void destroyWindow();
    void moveTo(Point topLeft);
    // Brackets a handler that may run a nested loop (a question, a move).
    struct Busy {
        explicit Busy(Form& f) : form(f) { ++form.busy_; }
        ~Busy();
        Form& form;
    };

    FormLayout layout_;
    std::unique_ptr<WindowPeer> peer_;
    OleColor backColor_;
    bool closing_ = false;
    bool loading_ = false;
    bool retired_ = false;
    int busy_ = 0;
};

} // namespace fw
