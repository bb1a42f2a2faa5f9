// The login window: borderless, owned by the background window and kept at a
// fixed offset over it by a 10 ms timer.
#pragma once

#include "controls/ImageButton.h"
#include "forms/EngineRestart.h"
#include "forms/WindowFlow.h"
#include "framework/portable/form.h"
#include "framework/portable/layout.h"
#include "framework/portable/timer.h"
#include "framework/ports/browser.h"
#include "framework/ports/control.h"

#include <memory>
#include <string>
#include <vector>

namespace forms {

class LoginForm : public fw::Form {
public:
    explicit LoginForm(WindowFlow& flow);

    static constexpr int kWidth = 757;
    static constexpr int kHeight = 563;

    fw::Timer& timer() { return timer_; }
    // What the stored layout could not give (empty when it is whole).
    const std::vector<std::string>& layoutErrors() const { return layout_.errors; }

protected:
    void createControls() override;
    void destroyControls() override;
    void releaseDrawing() override;
    void Form_Load() override;
    void Form_QueryUnload(bool& cancel, fw::UnloadMode mode) override;
    void Form_Unload(bool& cancel) override;
    void Form_MouseDown(int button, int shift, float x, float y) override;
    void Form_Activate() override;

private:
    void timer_Timer();
    void btnMini_Click();
    void btnClose_Click();
    void btnHome_Click();
    void btnCharge_Click(int index);
    void btnService_Click(int index);
    void btnForum_Click(int index);
    void webBrowser_BeforeNavigate2(const std::string& url, bool& cancel);
    void webBrowser_NewWindow2(bool& cancel);
    void webBrowser_EngineTerminated();

    struct WebBrowserEvents : fw::BrowserEvents {
        explicit WebBrowserEvents(LoginForm& f) : form(f) {}
        void BeforeNavigate2(const std::string& url, bool& cancel) override {
            form.webBrowser_BeforeNavigate2(url, cancel);
        }
        void NewWindow2(bool& cancel) override { form.webBrowser_NewWindow2(cancel); }
        void EngineTerminated() override { form.webBrowser_EngineTerminated(); }
        // Navigation errors are left to the browser's own handling.
        LoginForm& form;
    };

    WindowFlow& flow_;
    fw::Timer timer_;
    WebBrowserEvents webBrowserEvents_{*this};
    fw::Layout layout_;
    std::unique_ptr<controls::ImageButton> btnForum_, btnMini_, btnClose_, btnHome_, btnCharge_,
        btnService_;
    std::unique_ptr<fw::LabelPeer> lblVersion_;
    std::unique_ptr<fw::BrowserPeer> webBrowser_;
    EngineRestart engineRestart_;
};

} // namespace forms
