// What assistive technology reads for the launcher's own child windows: an
// IAccessible answered from WM_GETOBJECT (OBJID_CLIENT), with the window text
// as its name, a fixed role and, for a push button, one action. The window
// procedure receives the action as kAccessibleActionMessage, posted, so that
// the client's call returns before the control's handlers run (they may open
// a question or destroy the control).
#pragma once

#include <windows.h>

namespace fw::win32 {

inline constexpr UINT kAccessibleActionMessage = WM_APP + 0x20;

class AccessibleWindow {
public:
    // role: ROLE_SYSTEM_*; a push button has the action, anything else none.
    explicit AccessibleWindow(long role) : role_(role) {}
    // Disconnects the object: clients still holding it get errors, never the window.
    ~AccessibleWindow() { disconnect(); }
    AccessibleWindow(const AccessibleWindow&) = delete;
    AccessibleWindow& operator=(const AccessibleWindow&) = delete;

    // The answer to WM_GETOBJECT for `hwnd`; DefWindowProc's for other objects.
    LRESULT answer(HWND hwnd, WPARAM wp, LPARAM lp);
    // The window is going: from now on every call of a client fails.
    void disconnect();

private:
    long role_;
    class AccessibleObject* object_ = nullptr;
};

} // namespace fw::win32
