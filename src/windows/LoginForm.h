// The login window: borderless, owned by the background window and kept at a
// fixed offset over it by a 10 ms timer.
#pragma once

#include "framework/browser.h"
#include "framework/form.h"
#include "framework/timer.h"

#include <memory>

namespace windows {

class LoginForm : public fw::Form {
public:
    LoginForm();

    static constexpr int kWidth = 757;
    static constexpr int kHeight = 563;

    fw::Timer& timer() { return timer_; }

    // The frame that holds the browser, and the browser inside it: larger
    // than the frame and shifted up and left, so that its edges and scroll
    // bars stay hidden.
    static constexpr fw::Rect kPictureBox{55, 130, 697, 406};
    static constexpr fw::Rect kWebBrowser{-5, -5, 750, 450};

protected:
    void createControls() override;
    void destroyControls() override;
    void Form_Load() override;
    void Form_QueryUnload(bool& cancel, fw::UnloadMode mode) override;
    void Form_Unload(bool& cancel) override;
    void Form_MouseDown(int button, int shift, float x, float y) override;

private:
    void timer_Timer();
    void webBrowser_BeforeNavigate2(const std::string& url, bool& cancel);
    void webBrowser_NewWindow2(bool& cancel);

    struct WebBrowserEvents : fw::BrowserEvents {
        explicit WebBrowserEvents(LoginForm& f) : form(f) {}
        void BeforeNavigate2(const std::string& url, bool& cancel) override {
            form.webBrowser_BeforeNavigate2(url, cancel);
        }
        void NewWindow2(bool& cancel) override { form.webBrowser_NewWindow2(cancel); }
        // Navigation errors are left to the browser's own handling.
        LoginForm& form;
    };

    fw::Timer timer_;
    WebBrowserEvents webBrowserEvents_{*this};
    std::unique_ptr<fw::BrowserPeer> webBrowser_;
};

} // namespace windows
