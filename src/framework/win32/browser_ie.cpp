#include "framework/win32/browser_ie.h"

#include "framework/win32/text.h"
#include "framework/win32/win32_platform.h"

#include <exdisp.h>
#include <exdispid.h>
#include <mshtml.h>
#include <ole2.h>

#include <algorithm>
#include <deque>
#include <stdexcept>
#include <vector>

namespace fw::win32 {

namespace {

constexpr wchar_t kFrameClass[] = L"VarnholtBrowserFrame";
constexpr wchar_t kQueueClass[] = L"VarnholtBrowserQueue";
// Posted to a browser's queue window: carry out the oldest Navigate request.
constexpr UINT kNavigateDue = WM_APP + 1;

template <class T>
void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

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

class IeBrowser;

// --- the container -----------------------------------------------------------

// Client site and in-place site of one control. The in-place frame is a part
// of the same object (same identity and reference count), answering for the
// top-level window.
class Site final : public IOleClientSite, public IOleInPlaceSite {
public:
    explicit Site(HWND container, IeBrowser* owner) : container_(container), owner_(owner) {}

    // The browser is going: no more placement requests reach it.
    void detach() { owner_ = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *out = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
            *out = static_cast<IOleInPlaceSite*>(this);
        else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
            *out = static_cast<IOleInPlaceFrame*>(&frame_);
        else {
            // No IDispatch for ambient properties: the control keeps its
            // defaults. No IDocHostUIHandler: its own menus and borders stay.
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&refs_));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }

    // IOleClientSite: nothing is stored, there is no document of ours.
    HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** out) override {
        if (out) *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow of the site: the window the control lives in.
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* out) override {
        if (!out) return E_POINTER;
        *out = container_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                               LPRECT pos, LPRECT clip,
                                               LPOLEINPLACEFRAMEINFO info) override;
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT rect) override;

private:
    ~Site() = default;

    // The in-place frame: no menus, no tool space, no status bar.
    class Frame final : public IOleInPlaceFrame {
    public:
        explicit Frame(Site& site) : site_(site) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
            return site_.QueryInterface(riid, out);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return site_.AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return site_.Release(); }
        HRESULT STDMETHODCALLTYPE GetWindow(HWND* out) override {
            if (!out) return E_POINTER;
            *out = GetAncestor(site_.container_, GA_ROOT);
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
        HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override {
            return INPLACE_E_NOTOOLSPACE;
        }
        HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override {
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    private:
        Site& site_;
    };

    LONG refs_ = 1;
    HWND container_;
    IeBrowser* owner_;
    Frame frame_{*this};
};

// Live browsers, for the message loop's keyboard hook.
std::vector<IeBrowser*> liveBrowsers;

class IeBrowser final : public BrowserPeer {
public:
    IeBrowser(HWND parent, BrowserEvents& events, const std::optional<Rect>& frame,
              UntrappedHandler untrapped) {
        try {
            open(parent, events, frame, std::move(untrapped));
        } catch (...) {
            close();
            throw;
        }
        liveBrowsers.push_back(this);
    }
    ~IeBrowser() override {
        liveBrowsers.erase(std::remove(liveBrowsers.begin(), liveBrowsers.end(), this),
                           liveBrowsers.end());
        close();
    }
    IeBrowser(const IeBrowser&) = delete;
    IeBrowser& operator=(const IeBrowser&) = delete;

    // Carried out from the message loop: the request returns first, then
    // the before-navigate event arrives, whatever the control itself would do
    // (it raises the first one inside Navigate, later ones after it).
    void Navigate(const std::string& url) override {
        pending_.push_back(widen(url.empty() ? std::string("about:blank") : url));
        PostMessageW(queue_, kNavigateDue, 0, 0);
    }
    void setSilent(bool silent) override {
        web_->put_Silent(silent ? VARIANT_TRUE : VARIANT_FALSE);
    }
    void place(const Rect& rect) override {
        placement_ = rect;
        applyPlacement();
    }
    Rect placement() const override { return placement_; }
    bool hasDocument() override {
        IDispatch* doc = document();
        const bool there = doc != nullptr;
        release(doc);
        return there;
    }
    std::optional<std::string> documentTitle() override {
        IDispatch* doc = document();
        auto out = document::title(doc);
        release(doc);
        return out;
    }
    std::optional<ActiveElement> activeElement() override {
        IDispatch* doc = document();
        auto out = document::activeElement(doc);
        release(doc);
        return out;
    }
    bool runScript(const std::string& script) override {
        IDispatch* doc = document();
        const bool ok = document::runScript(doc, script);
        release(doc);
        return ok;
    }

    RECT objectRect() const {
        return {placement_.left, placement_.top, placement_.left + placement_.width,
                placement_.top + placement_.height};
    }
    // The control asks for another rectangle (a page script resizing it).
    void requested(const RECT& r) {
        placement_ = {r.left, r.top, r.right - r.left, r.bottom - r.top};
        applyPlacement();
    }
    bool holds(HWND hwnd) const {
        return control_ && (hwnd == control_ || IsChild(control_, hwnd));
    }
    bool translate(MSG& msg) {
        if (!active_) return false;
        IOleInPlaceActiveObject* active = active_;
        active->AddRef(); // the page may close this browser while it looks
        const HRESULT hr = active->TranslateAccelerator(&msg);
        active->Release();
        return hr == S_OK;
    }

    static LRESULT CALLBACK queueProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

private:
    void open(HWND parent, BrowserEvents& events, const std::optional<Rect>& frame,
              UntrappedHandler untrapped);
    void close();
    void applyPlacement() {
        if (!inPlace_) return;
        const RECT r = objectRect();
        // The container window clips; the whole object counts as visible.
        inPlace_->SetObjectRects(&r, &r);
    }
    IDispatch* document() {
        IDispatch* doc = nullptr;
        if (web_->get_Document(&doc) != S_OK) release(doc);
        return doc;
    }

    HWND frame_ = nullptr;     // the clipping white child window, when there is one
    HWND container_ = nullptr; // frame_ or the parent
    HWND queue_ = nullptr;     // message-only window for posted navigations
    HWND control_ = nullptr;   // the control's own window
    Site* site_ = nullptr;
    BrowserEventSink* sink_ = nullptr;
    IOleObject* object_ = nullptr;
    IWebBrowser2* web_ = nullptr;
    IOleInPlaceObject* inPlace_ = nullptr;
    IOleInPlaceActiveObject* active_ = nullptr;
    IConnectionPoint* events_ = nullptr;
    DWORD cookie_ = 0;
    Rect placement_;
    std::deque<std::wstring> pending_;
};

HRESULT Site::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                               LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
    if (!frame || !doc || !pos || !clip || !info) return E_POINTER;
    *frame = &frame_;
    AddRef();
    *doc = nullptr;
    if (owner_) {
        *pos = owner_->objectRect();
    } else {
        GetClientRect(container_, pos);
    }
    *clip = *pos;
    info->fMDIApp = FALSE;
    info->hwndFrame = GetAncestor(container_, GA_ROOT);
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}

HRESULT Site::OnPosRectChange(LPCRECT rect) {
    if (!rect) return E_POINTER;
    if (owner_) owner_->requested(*rect);
    return S_OK;
}

void registerClasses() {
    static bool done = false;
    if (done) return;
    // The frame is white where the page does not cover it.
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    registerWindowClass(instance, kFrameClass, DefWindowProcW,
                        static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    registerWindowClass(instance, kQueueClass, IeBrowser::queueProc, nullptr, false);
    done = true;
}

void check(HRESULT hr, const char* step) {
    if (FAILED(hr)) {
        char text[160];
        wsprintfA(text, "web browser control: %s failed (0x%08lX)", step,
                  static_cast<unsigned long>(hr));
        throw std::runtime_error(text);
    }
}

void IeBrowser::open(HWND parent, BrowserEvents& events, const std::optional<Rect>& frame,
                     UntrappedHandler untrapped) {
    registerClasses();
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    container_ = parent;
    if (frame) {
        frame_ = CreateWindowExW(0, kFrameClass, L"",
                                 WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                                 frame->left, frame->top, frame->width, frame->height, parent,
                                 nullptr, instance, nullptr);
        if (!frame_) throw std::runtime_error("web browser control: no frame window");
        container_ = frame_;
    }
    queue_ = CreateWindowExW(0, kQueueClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                             nullptr);
    if (!queue_) throw std::runtime_error("web browser control: no queue window");
    SetWindowLongPtrW(queue_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    // Until the first place(): the whole container.
    RECT client{};
    GetClientRect(container_, &client);
    placement_ = {0, 0, client.right, client.bottom};

    check(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                           reinterpret_cast<void**>(&object_)),
          "CoCreateInstance");
    OleSetContainedObject(object_, TRUE);
    site_ = new Site(container_, this);
    check(object_->SetClientSite(site_), "SetClientSite");
    RECT r = objectRect();
    check(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_, 0, container_, &r), "DoVerb");
    check(object_->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&web_)),
          "IWebBrowser2");
    check(object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace_)),
          "IOleInPlaceObject");
    if (FAILED(inPlace_->GetWindow(&control_))) control_ = nullptr;
    if (FAILED(object_->QueryInterface(IID_IOleInPlaceActiveObject,
                                       reinterpret_cast<void**>(&active_))))
        active_ = nullptr;

    IConnectionPointContainer* points = nullptr;
    check(object_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points)),
          "IConnectionPointContainer");
    const HRESULT found = points->FindConnectionPoint(DIID_DWebBrowserEvents2, &events_);
    points->Release();
    check(found, "FindConnectionPoint");
    sink_ = new BrowserEventSink(events, std::move(untrapped));
    check(events_->Advise(sink_, &cookie_), "Advise");
}

void IeBrowser::close() {
    // No event reaches the owner from here on, also not one the control
    // raises while it shuts down.
    if (sink_) sink_->detach();
    if (events_ && cookie_) events_->Unadvise(cookie_);
    cookie_ = 0;
    release(events_);
    // Navigations still waiting are dropped with their window.
    pending_.clear();
    if (queue_) DestroyWindow(queue_);
    queue_ = nullptr;
    if (site_) site_->detach();
    release(active_);
    release(inPlace_);
    release(web_);
    if (object_) {
        object_->Close(OLECLOSE_NOSAVE);
        object_->SetClientSite(nullptr);
    }
    release(object_);
    release(site_);
    release(sink_);
    if (frame_ && IsWindow(frame_)) DestroyWindow(frame_);
    frame_ = nullptr;
    control_ = nullptr;
}

LRESULT CALLBACK IeBrowser::queueProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != kNavigateDue) return DefWindowProcW(hwnd, msg, wp, lp);
    auto* self = reinterpret_cast<IeBrowser*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self || self->pending_.empty() || !self->web_) return 0;
    const Bstr url(self->pending_.front());
    self->pending_.pop_front();
    // An event handler may close this browser during the call: nothing of
    // `self` is used after it.
    IWebBrowser2* web = self->web_;
    web->AddRef();
    VARIANT none;
    VariantInit(&none);
    web->Navigate(url, &none, &none, &none, &none);
    web->Release();
    return 0;
}

} // namespace

// --- the event sink ----------------------------------------------------------

BrowserEventSink::BrowserEventSink(BrowserEvents& events, UntrappedHandler untrapped)
    : events_(&events), untrapped_(std::move(untrapped)) {}

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

ULONG BrowserEventSink::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
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

HRESULT BrowserEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

HRESULT BrowserEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO*, UINT*) {
    if (result) VariantInit(result);
    if (!params || (params->cArgs && !params->rgvarg)) return E_INVALIDARG;
    // The immediate end destroys the windows, and the control may report on
    // the way out: nothing reaches the launcher's handlers any more.
    if (!events_ || ending()) return S_OK;
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
    BrowserEvents& events = *events_;
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

std::unique_ptr<BrowserPeer> createIeBrowser(HWND parent, BrowserEvents& events,
                                             const std::optional<Rect>& frame,
                                             UntrappedHandler untrapped) {
    return std::make_unique<IeBrowser>(parent, events, frame, std::move(untrapped));
}

bool translateBrowserAccelerator(MSG& msg) {
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    for (IeBrowser* b : liveBrowsers)
        if (b->holds(msg.hwnd)) return b->translate(msg);
    return false;
}

} // namespace fw::win32
