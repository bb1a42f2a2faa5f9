// The embedded browser of the Windows launcher: the system's WebBrowser
// control (CLSID_WebBrowser, IWebBrowser2) in a small OLE container of our
// own (browser.cpp). Its DWebBrowserEvents2 are reported as the browser
// port's events; the mapping is written down in browser_events.cpp where
// each event is decoded.
// The control's engine runs inside the launcher's own process, so there is
// no engine process that could die alone: EngineTerminated is never raised.
#pragma once

#include "framework/portable/alive_token.h"
#include "framework/ports/browser.h"

#include <windows.h>
// IDispatch and VARIANT (not in windows.h without OLE)
#include <oaidl.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace fw::win32 {

// Called with a message when an event handler throws: the exception cannot
// travel through the control's frames.
using UntrappedHandler = std::function<void(const char* what)>;

// The browser in `parent`. With a frame, a white child window at `frame`
// (client pixels of `parent`) holds and clips the control; placements are
// then relative to it. Throws when the control cannot be created.
std::unique_ptr<BrowserPeer> createIeBrowser(HWND parent, BrowserEvents& events,
                                             const std::optional<Rect>& frame,
                                             UntrappedHandler untrapped);

// The DWebBrowserEvents2 sink, reference counted (it starts at 1). It
// forwards the control's events to `events` while `alive` holds (the
// browser's token, false once the browser goes).
class BrowserEventSink final : public IDispatch {
public:
    BrowserEventSink(BrowserEvents& events, AliveToken::Watch alive, UntrappedHandler untrapped);
    BrowserEventSink(const BrowserEventSink&) = delete;
    BrowserEventSink& operator=(const BrowserEventSink&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&refs_));
    }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO*, UINT* argError) override;

private:
    ~BrowserEventSink() = default;
    void dispatch(DISPID id, DISPPARAMS& params);

    LONG refs_ = 1;
    BrowserEvents& events_;
    AliveToken::Watch alive_;
    UntrappedHandler untrapped_;
};

// What the browser asks of its document, on the document object as
// IWebBrowser2::get_Document hands it out (null: there is none).
namespace document {
std::optional<std::string> title(IDispatch* doc);
std::optional<ActiveElement> activeElement(IDispatch* doc);
// execScript in the document's window with the default script language.
bool runScript(IDispatch* doc, const std::string& script);
} // namespace document

// Lets the browser that holds the keyboard focus see a key message first
// (Tab between fields, Enter, Delete, copy and paste inside the page), as a
// control that is in-place active expects of its container's message loop.
// True when the browser used it; the message is then not dispatched.
bool translateBrowserAccelerator(MSG& msg);

} // namespace fw::win32
