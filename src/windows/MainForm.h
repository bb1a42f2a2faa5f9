// The game window: resizable, opened maximised by the hand-over.
#pragma once

#include "framework/form.h"

#include <string>

namespace windows {

class MainForm : public fw::Form {
public:
    MainForm();

    void navigateToUrl(std::string url);

    const std::string& pageUrl() const { return pageUrl_; }
    bool loaded() const { return loaded_; }
    bool pageReady() const { return pageReady_; }

protected:
    void Form_Load() override;
    void Form_QueryUnload(bool& cancel, fw::UnloadMode mode) override;

private:
    std::string pageUrl_;
    bool loaded_ = false;
    bool pageReady_ = false;
};

} // namespace windows
