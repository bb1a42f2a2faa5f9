// The lower window of the login face: borderless, centred, the launcher's
// face on the taskbar; a press with any button drags the pair.
#pragma once

#include "forms/WindowFlow.h"
#include "framework/portable/form.h"

namespace forms {

class BackForm : public fw::Form {
public:
    explicit BackForm(WindowFlow& flow);

    // The size of the background picture; the window shows it pixel for pixel.
    static constexpr int kWidth = 1039;
    static constexpr int kHeight = 652;

protected:
    void Form_Load() override;
    void Form_QueryUnload(bool& cancel, fw::UnloadMode mode) override;
    void Form_MouseDown(int button, int shift, float x, float y) override;
    void Form_Activate() override;

private:
    WindowFlow& flow_;
};

} // namespace forms
