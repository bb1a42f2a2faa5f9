// The browser peer on the WebBrowser control: the OLE container (client
// site, in-place site and frame) that holds the control in our window, and
// the requests of the browser port.
#include "framework/win32/browser.h"

#include "framework/portable/browser_base.h"
#include "framework/win32/platform.h"
#include "framework/win32/text.h"

#include <exdisp.h>
#include <ole2.h>

#include <algorithm>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace fw::win32 {

namespace {

constexpr wchar_t kFrameClass[] = L"VarnholtBrowserFrame";

template <class T>
void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
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

class IeBrowser final : public BrowserBase {
public:
    IeBrowser(HWND parent, BrowserEvents& events, const std::optional<Rect>& frame,
              UntrappedHandler untrapped)
        : BrowserBase(events) {
        try {
            open(parent, events, frame, std::move(untrapped));
        } catch (...) {
            stopEvents();
            close();
            throw;
        }
        liveBrowsers.push_back(this);
    }
    ~IeBrowser() override {
        // No event reaches the owner from here on, also not one the control
        // raises while it shuts down; queued navigations never start.
        stopEvents();
        liveBrowsers.erase(std::remove(liveBrowsers.begin(), liveBrowsers.end(), this),
                           liveBrowsers.end());
        close();
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
        return onDocument([](IDispatch* doc) { return doc != nullptr; });
    }
    std::optional<std::string> documentTitle() override { return onDocument(document::title); }
    std::optional<ActiveElement> activeElement() override {
        return onDocument(document::activeElement);
    }
    void focus() override {
        // The control's own window takes the keys and hands them to its page.
        if (!object_) return;
        IOleInPlaceObject* inPlace = nullptr;
        if (FAILED(
                object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace))))
            return;
        HWND window = nullptr;
        if (SUCCEEDED(inPlace->GetWindow(&window)) && window) SetFocus(window);
        inPlace->Release();
    }

    bool runScript(const std::string& script) override {
        return onDocument([&](IDispatch* doc) { return document::runScript(doc, script); });
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

private:
    void startNavigation(const std::string& url) override;
    void open(HWND parent, BrowserEvents& events, const std::optional<Rect>& frame,
              UntrappedHandler untrapped);
    void close();
    void applyPlacement() {
        if (!inPlace_) return;
        const RECT r = objectRect();
        // The container window clips; the whole object counts as visible.
        inPlace_->SetObjectRects(&r, &r);
    }
    // `read` gets the current document (null: there is none).
    template <class F>
    std::invoke_result_t<F&, IDispatch*> onDocument(F&& read) {
        IDispatch* doc = nullptr;
        if (web_->get_Document(&doc) != S_OK) release(doc);
        auto out = read(doc);
        release(doc);
        return out;
    }

    HWND frame_ = nullptr;     // the clipping white child window, when there is one
    HWND container_ = nullptr; // frame_ or the parent
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
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    // The frame is white where the page does not cover it. Registered
    // again, the class stays as it was first registered.
    registerWindowClass(instance, kFrameClass, DefWindowProcW,
                        static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    container_ = parent;
    if (frame) {
        frame_ = CreateWindowExW(0, kFrameClass, L"",
                                 WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS,
                                 frame->left, frame->top, frame->width, frame->height, parent,
                                 nullptr, instance, nullptr);
        if (!frame_) throw std::runtime_error("web browser control: no frame window");
        container_ = frame_;
    }
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
    sink_ = new BrowserEventSink(events, aliveToken(), std::move(untrapped));
    check(events_->Advise(sink_, &cookie_), "Advise");
}

void IeBrowser::close() {
    if (events_ && cookie_) events_->Unadvise(cookie_);
    cookie_ = 0;
    release(events_);
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

// The control raises the first BeforeNavigate2 inside its Navigate, later
// ones after it returns.
void IeBrowser::startNavigation(const std::string& url) {
    if (!web_) return;
    const std::wstring wide = widen(url);
    BSTR address = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    // An event handler may close this browser during the call: the control
    // is held until it returns, and nothing of `this` is used after it.
    IWebBrowser2* web = web_;
    web->AddRef();
    VARIANT none;
    VariantInit(&none);
    web->Navigate(address, &none, &none, &none, &none);
    web->Release();
    SysFreeString(address);
}

} // namespace

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