// The game window: resizable, opened maximised by the hand-over.
#pragma once

#include "forms/EngineRestart.h"
#include "forms/WindowFlow.h"
#include "framework/portable/form.h"
#include "framework/ports/browser.h"

#include <memory>
#include <string>

namespace forms {

class MainForm : public fw::Form {
public:
    explicit MainForm(WindowFlow& flow);

    void navigateToUrl(std::string url);

    const std::string& pageUrl() const { return pageUrl_; }
    bool loaded() const { return loaded_; }
    bool pageReady() const { return pageReady_; }

    // The browser reaches this far past the client area's right edge.
    static constexpr int kRightOverhang = 17;

protected:
    void createControls() override;
    void destroyControls() override { webBrowser_.reset(); }
    void Form_Load() override;
    void Form_Resize() override;
    void Form_QueryUnload(bool& cancel, fw::UnloadMode mode) override;

private:
    void webBrowser_DocumentComplete();
    void webBrowser_DownloadComplete();
    void webBrowser_TitleChange(const std::string& text);
    void webBrowser_EngineTerminated();

    struct WebBrowserEvents : fw::BrowserEvents {
        explicit WebBrowserEvents(MainForm& f) : form(f) {}
        void DocumentComplete(const std::string&) override { form.webBrowser_DocumentComplete(); }
        void DownloadComplete() override { form.webBrowser_DownloadComplete(); }
        void TitleChange(const std::string& text) override { form.webBrowser_TitleChange(text); }
        void EngineTerminated() override { form.webBrowser_EngineTerminated(); }
        // Navigation errors are left to the browser's own handling.
        MainForm& form;
    };

    WindowFlow& flow_;
    WebBrowserEvents webBrowserEvents_{*this};
    std::unique_ptr<fw::BrowserPeer> webBrowser_;
    std::string pageUrl_;
    bool loaded_ = false;
    bool pageReady_ = false;
    EngineRestart engineRestart_;
};

} // namespace forms
