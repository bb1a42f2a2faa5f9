// Port of an embedded web browser. The hosting window's handlers decide what
// an event means (hand-over, script calls, captions); adapters only report
// events and carry out requests.
#pragma once

#include "framework/ports/geometry.h"

#include <optional>
#include <string>

namespace fw {

// Events, raised on the user-interface thread.
class BrowserEvents {
public:
    virtual ~BrowserEvents() = default;
    // Before any navigation of the page or one of its frames (link, script,
    // form, frame); cancel stops it.
    virtual void BeforeNavigate2(const std::string& /*url*/, bool& /*cancel*/) {}
    // The page asks for a new window; cancel stops it.
    virtual void NewWindow2(bool& /*cancel*/) {}
    virtual void NavigateError(const std::string& /*url*/, int /*statusCode*/, bool& /*cancel*/) {}
    virtual void DocumentComplete(const std::string& /*url*/) {}
    // The end of each navigation, finished, halted or failed.
    virtual void DownloadComplete() {}
    virtual void TitleChange(const std::string& /*text*/) {}
    // The engine's process for this page died (killed, out of memory, a
    // crash). The page is gone: no document, a blank view, until the next
    // Navigate starts the engine again.
    virtual void EngineTerminated() {}
};

// The element that has the focus in the current document.
struct ActiveElement {
    std::string tagName; // upper case for HTML elements, as the DOM reports it
    std::string href;    // the element's href property, or empty
};

class BrowserPeer {
public:
    virtual ~BrowserPeer() = default;
    // An empty address shows a blank page.
    virtual void Navigate(const std::string& url) = 0;
    // Silent: the engine shows no dialogs of its own (script errors, alerts).
    virtual void setSilent(bool silent) = 0;
    // Placement inside the browser's frame (see Platform::createBrowser), pixels.
    virtual void place(const Rect& rect) = 0;
    virtual Rect placement() const = 0;
    virtual bool hasDocument() = 0;
    // The document's title; nothing when there is no document or it cannot be read.
    virtual std::optional<std::string> documentTitle() = 0;
    // Nothing when there is no document or no focused element.
    virtual std::optional<ActiveElement> activeElement() = 0;
    // Runs a script in the top-level document's window; true when it ran
    // without error.
    virtual bool runScript(const std::string& script) = 0;
    // The window's keyboard focus goes into the page: typing reaches the
    // page's focused field and Tab moves within the page.
    virtual void focus() = 0;
};

} // namespace fw
