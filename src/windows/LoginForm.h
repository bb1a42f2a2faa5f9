// The login window: borderless, owned by the background window and kept at a
// fixed offset over it by a 10 ms timer.
#pragma once

#include "framework/form.h"
#include "framework/timer.h"

namespace windows {

class LoginForm : public fw::Form {
public:
    LoginForm();

    static constexpr int kWidth = 757;
    static constexpr int kHeight = 563;

    fw::Timer& timer() { return timer_; }

protected:
    void createControls() override;
    void destroyControls() override;
    void Form_Load() override;
    void Form_QueryUnload(bool& cancel, fw::UnloadMode mode) override;
    void Form_Unload(bool& cancel) override;
    void Form_MouseDown(int button, int shift, float x, float y) override;

private:
    void timer_Timer();

    fw::Timer timer_;
};

} // namespace windows
