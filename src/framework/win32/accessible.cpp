#include "framework/win32/accessible.h"

#include <oleacc.h>

#include <string>

namespace fw::win32 {

namespace {

// The press as the push button's default action.
constexpr wchar_t kPress[] = L"按下";

bool self(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

} // namespace

// Name, role, state and action are ours; position, parent, navigation and
// hit-testing come from the system's standard object for the same window.
class AccessibleObject final : public IAccessible {
public:
    AccessibleObject(HWND hwnd, long role) : hwnd_(hwnd), role_(role) {
        if (FAILED(CreateStdAccessibleObject(hwnd, OBJID_CLIENT, IID_IAccessible,
                                             reinterpret_cast<void**>(&std_))))
            std_ = nullptr;
    }

    void disconnect() {
        hwnd_ = nullptr;
        if (std_) std_->Release();
        std_ = nullptr;
        // Clients in other apartments keep their references until they let
        // go, and get CO_E_OBJNOTCONNECTED from us meanwhile. (CoDisconnectObject
        // would cut them off, but Wine's stub then answers RPC_S_UNKNOWN_IF.)
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IAccessible) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) {
            if (std_) std_->Release();
            delete this;
        }
        return left;
    }

    // IDispatch: clients use the vtable.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible: ours
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!name) return E_POINTER;
        *name = nullptr;
        if (!hwnd_) return CO_E_OBJNOTCONNECTED;
        if (!self(child)) return E_INVALIDARG;
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd_)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(
            GetWindowTextW(hwnd_, text.data(), static_cast<int>(text.size()))));
        if (text.empty()) return S_FALSE;
        *name = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!role) return E_POINTER;
        VariantInit(role);
        if (!hwnd_) return CO_E_OBJNOTCONNECTED;
        if (!self(child)) return E_INVALIDARG;
        role->vt = VT_I4;
        role->lVal = role_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (!state) return E_POINTER;
        VariantInit(state);
        if (!hwnd_) return CO_E_OBJNOTCONNECTED;
        if (!self(child)) return E_INVALIDARG;
        long s = 0;
        if (isButton()) {
            s |= STATE_SYSTEM_FOCUSABLE;
            if (GetFocus() == hwnd_) s |= STATE_SYSTEM_FOCUSED;
        } else {
            s |= STATE_SYSTEM_READONLY;
        }
        if (!IsWindowEnabled(hwnd_)) s |= STATE_SYSTEM_UNAVAILABLE;
        if (!IsWindowVisible(hwnd_)) s |= STATE_SYSTEM_INVISIBLE;
        state->vt = VT_I4;
        state->lVal = s;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        if (!action) return E_POINTER;
        *action = nullptr;
        if (!hwnd_) return CO_E_OBJNOTCONNECTED;
        if (!self(child)) return E_INVALIDARG;
        if (!isButton()) return S_FALSE;
        *action = SysAllocString(kPress);
        return *action ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        if (!hwnd_) return CO_E_OBJNOTCONNECTED;
        if (!self(child)) return E_INVALIDARG;
        if (!isButton()) return DISP_E_MEMBERNOTFOUND;
        // The control decides (a disabled button ignores it), from its own
        // window procedure once this call has returned.
        return PostMessageW(hwnd_, kAccessibleActionMessage, 0, 0) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return hwnd_ ? S_OK : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT, IDispatch** child) override {
        if (!child) return E_POINTER;
        *child = nullptr;
        return hwnd_ ? E_INVALIDARG : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return none(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        return none(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
        return none(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
        if (topic) *topic = 0;
        return none(child, file);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override {
        return hwnd_ ? E_NOTIMPL : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override {
        return hwnd_ ? E_NOTIMPL : CO_E_OBJNOTCONNECTED;
    }

    // IAccessible: the standard object's
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (!parent) return E_POINTER;
        *parent = nullptr;
        return std_ ? std_->get_accParent(parent) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* keys) override {
        if (!keys) return E_POINTER;
        *keys = nullptr;
        return std_ ? std_->get_accKeyboardShortcut(child, keys) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (!focus) return E_POINTER;
        VariantInit(focus);
        return std_ ? std_->get_accFocus(focus) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (!selection) return E_POINTER;
        VariantInit(selection);
        return std_ ? std_->get_accSelection(selection) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        return std_ ? std_->accSelect(flags, child) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) override {
        return std_ ? std_->accLocation(left, top, width, height, child) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long dir, VARIANT start, VARIANT* end) override {
        if (!end) return E_POINTER;
        VariantInit(end);
        return std_ ? std_->accNavigate(dir, start, end) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override {
        if (!child) return E_POINTER;
        VariantInit(child);
        return std_ ? std_->accHitTest(x, y, child) : CO_E_OBJNOTCONNECTED;
    }

private:
    ~AccessibleObject() = default;
    bool isButton() const { return role_ == ROLE_SYSTEM_PUSHBUTTON; }
    HRESULT none(const VARIANT& child, BSTR* out) const {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!hwnd_) return CO_E_OBJNOTCONNECTED;
        return self(child) ? S_FALSE : E_INVALIDARG;
    }

    LONG refs_ = 1;
    HWND hwnd_;
    long role_;
    IAccessible* std_ = nullptr;
};

LRESULT AccessibleWindow::answer(HWND hwnd, WPARAM wp, LPARAM lp) {
    if (static_cast<LONG>(lp) != OBJID_CLIENT) return DefWindowProcW(hwnd, WM_GETOBJECT, wp, lp);
    if (!object_) object_ = new AccessibleObject(hwnd, role_);
    return LresultFromObject(IID_IAccessible, wp, object_);
}

void AccessibleWindow::disconnect() {
    if (!object_) return;
    AccessibleObject* o = object_;
    object_ = nullptr;
    o->disconnect();
    o->Release();
}

} // namespace fw::win32
