// What the WebBrowser control says and what its document answers: the
// DWebBrowserEvents2 sink, which decodes the control's event arguments into
// the browser port's events, and the reads and script calls on the document.
#include "framework/win32/browser.h"

#include "framework/win32/platform.h"
#include "framework/win32/text.h"

#include <exdisp.h>
#include <exdispid.h>
#include <mshtml.h>
#include <ole2.h>

#include <stdexcept>

namespace fw::win32 {

namespace {

std::string fromBstr(BSTR s) {
    return s ? narrow(std::wstring_view(s, SysStringLen(s))) : "";
}

// A BSTR owned for one call.
class Bstr {
public:
    explicit Bstr(const std::wstring& s)
        : s_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
    ~Bstr() { SysFreeString(s_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return s_; }

private:
    BSTR s_;
};

// --- decoding event arguments ------------------------------------------------

// IDispatch hands the arguments over last first: rgvarg[0] is the last
// parameter of the event's signature. `index` counts from the first one.
VARIANT* param(DISPPARAMS& p, UINT index) {
    return &p.rgvarg[p.cArgs - 1 - index];
}

// The control passes most values as VT_VARIANT | VT_BYREF pointing at the
// value itself.
const VARIANT* deref(const VARIANT* v) {
    for (int depth = 0; v && v->vt == (VT_VARIANT | VT_BYREF) && depth < 4; ++depth) v = v->pvarVal;
    return v;
}

std::string textOf(const VARIANT* v) {
    v = deref(v);
    if (!v) return {};
    VARIANT s;
    VariantInit(&s);
    // Also takes VT_BSTR | VT_BYREF; VT_EMPTY becomes "", VT_NULL fails.
    if (FAILED(VariantChangeType(&s, const_cast<VARIANT*>(v), 0, VT_BSTR))) return {};
    std::string out = fromBstr(s.bstrVal);
    VariantClear(&s);
    return out;
}

int intOf(const VARIANT* v) {
    v = deref(v);
    if (!v) return 0;
    VARIANT i;
    VariantInit(&i);
    if (FAILED(VariantChangeType(&i, const_cast<VARIANT*>(v), 0, VT_I4))) return 0;
    return static_cast<int>(i.lVal);
}

// A Cancel parameter: VT_BOOL | VT_BYREF, the flag the control reads back.
VARIANT_BOOL* cancelFlag(VARIANT* v) {
    if (v->vt == (VT_BOOL | VT_BYREF)) return v->pboolVal;
    if (v->vt == (VT_VARIANT | VT_BYREF) && v->pvarVal && v->pvarVal->vt == VT_BOOL)
        return &v->pvarVal->boolVal;
    return nullptr;
}

// Runs a cancellable handler with the control's flag and writes the
// handler's decision back through the pointer.
template <class F>
void withCancel(VARIANT* v, F&& handler) {
    VARIANT_BOOL* flag = cancelFlag(v);
    bool cancel = flag && *flag != VARIANT_FALSE;
    handler(cancel);
    if (flag) *flag = cancel ? VARIANT_TRUE : VARIANT_FALSE;
}

} // namespace

// --- the event sink ----------------------------------------------------------

BrowserEventSink::BrowserEventSink(BrowserEvents& events, AliveToken::Watch alive,
                                   UntrappedHandler untrapped)
    : events_(events), alive_(std::move(alive)), untrapped_(std::move(untrapped)) {}

HRESULT BrowserEventSink::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG BrowserEventSink::Release() {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

HRESULT BrowserEventSink::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT BrowserEventSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

HRESULT BrowserEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO*, UINT*) {
    if (result) VariantInit(result);
    if (!params || (params->cArgs && !params->rgvarg)) return E_INVALIDARG;
    // The immediate end destroys the windows, and the control may report on
    // the way out: nothing reaches the launcher's handlers any more.
    if (!alive_.alive() || ending()) return S_OK;
    AddRef(); // a handler may close the browser and release us
    try {
        dispatch(id, *params);
    } catch (const std::exception& e) {
        if (untrapped_) untrapped_(e.what());
    } catch (...) {
        if (untrapped_) untrapped_("unknown error");
    }
    Release();
    return S_OK;
}

// DWebBrowserEvents2 as the browser port reports it. Arguments arrive last
// first (see param()); events with an unexpected argument count and all
// other DISPIDs are ignored.
void BrowserEventSink::dispatch(DISPID id, DISPPARAMS& p) {
    BrowserEvents& events = events_;
    switch (id) {
    case DISPID_BEFORENAVIGATE2:
        // BeforeNavigate2(pDisp, URL, Flags, TargetFrameName, PostData,
        //                 Headers, Cancel)
        //   URL     VARIANT* holding a BSTR          -> url
        //   Cancel  VARIANT_BOOL*                    <- the handler's cancel
        // pDisp, Flags, the frame name, posted data and headers are not
        // reported: a frame's navigation counts like the page's.
        if (p.cArgs != 7) return;
        withCancel(param(p, 6),
                   [&](bool& cancel) { events.BeforeNavigate2(textOf(param(p, 1)), cancel); });
        return;
    case DISPID_NEWWINDOW2:
        // NewWindow2(ppDisp, Cancel)
        //   Cancel  VARIANT_BOOL*                    <- the handler's cancel
        // ppDisp stays untouched: the control opens its own window when the
        // request is not cancelled.
        if (p.cArgs != 2) return;
        withCancel(param(p, 1), [&](bool& cancel) { events.NewWindow2(cancel); });
        return;
    case DISPID_NAVIGATEERROR:
        // NavigateError(pDisp, URL, Frame, StatusCode, Cancel)
        //   URL         VARIANT* holding a BSTR      -> url
        //   StatusCode  VARIANT* holding a VT_I4     -> statusCode (an HTTP
        //               status or an HRESULT such as INET_E_*)
        //   Cancel      VARIANT_BOOL*                <- as the handler leaves it
        if (p.cArgs != 5) return;
        withCancel(param(p, 4), [&](bool& cancel) {
            events.NavigateError(textOf(param(p, 1)), intOf(param(p, 3)), cancel);
        });
        return;
    case DISPID_DOCUMENTCOMPLETE:
        // DocumentComplete(pDisp, URL): raised for each frame and for the
        // page itself; pDisp is not examined.
        //   URL     VARIANT* holding a BSTR          -> url
        if (p.cArgs != 2) return;
        events.DocumentComplete(textOf(param(p, 1)));
        return;
    case DISPID_DOWNLOADCOMPLETE:
        // DownloadComplete(): the end of every navigation, finished, halted
        // or failed.
        if (p.cArgs != 0) return;
        events.DownloadComplete();
        return;
    case DISPID_TITLECHANGE:
        // TitleChange(Text)
        //   Text    BSTR                             -> text
        if (p.cArgs != 1) return;
        events.TitleChange(textOf(param(p, 0)));
        return;
    default: return;
    }
}

// --- the document ------------------------------------------------------------

namespace document {

namespace {
IHTMLDocument2* html(IDispatch* doc) {
    IHTMLDocument2* out = nullptr;
    if (!doc || FAILED(doc->QueryInterface(IID_IHTMLDocument2, reinterpret_cast<void**>(&out))))
        return nullptr;
    return out;
}

// A property read by name through IDispatch; "" when the object has none or
// it is not text.
std::string property(IDispatch* object, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    auto* names = const_cast<LPOLESTR>(name);
    if (FAILED(object->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id))) return {};
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT value;
    VariantInit(&value);
    if (FAILED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                              &value, nullptr, nullptr)))
        return {};
    std::string out = textOf(&value);
    VariantClear(&value);
    return out;
}
} // namespace

std::optional<std::string> title(IDispatch* doc) {
    IHTMLDocument2* d = html(doc);
    if (!d) return std::nullopt;
    BSTR text = nullptr;
    const HRESULT hr = d->get_title(&text);
    d->Release();
    if (FAILED(hr)) return std::nullopt;
    std::string out = fromBstr(text);
    SysFreeString(text);
    return out;
}

std::optional<ActiveElement> activeElement(IDispatch* doc) {
    IHTMLDocument2* d = html(doc);
    if (!d) return std::nullopt;
    IHTMLElement* element = nullptr;
    const HRESULT hr = d->get_activeElement(&element);
    d->Release();
    if (FAILED(hr) || !element) return std::nullopt;
    ActiveElement out;
    BSTR tag = nullptr;
    if (SUCCEEDED(element->get_tagName(&tag))) out.tagName = fromBstr(tag);
    SysFreeString(tag);
    out.href = property(element, L"href");
    element->Release();
    return out;
}

bool runScript(IDispatch* doc, const std::string& script) {
    IHTMLDocument2* d = html(doc);
    if (!d) return false;
    IHTMLWindow2* window = nullptr;
    const HRESULT found = d->get_parentWindow(&window);
    d->Release();
    if (FAILED(found) || !window) return false;
    const Bstr code(widen(script));
    const Bstr language(L""); // the page's default script language
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = window->execScript(code, language, &result);
    VariantClear(&result);
    window->Release();
    return hr == S_OK;
}

} // namespace document

} // namespace fw::win32
