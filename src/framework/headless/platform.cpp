#include "framework/headless/platform.h"

#include "framework/portable/browser_base.h"
#include "framework/ports/imaging.h"

#include <thread>

namespace fw::headless {

namespace {

class HeadlessWindowPeer : public WindowPeer {
public:
    HeadlessWindowPeer(HeadlessPlatform& platform, WindowRecord& rec)
        : platform_(platform), rec_(rec) {}
    ~HeadlessWindowPeer() override {
        rec_.destroyed = true;
        rec_.visible = false;
    }
    void show() override { rec_.visible = true; }
    void hide() override { rec_.visible = false; }
    bool visible() const override { return rec_.visible; }
    Point position() const override { return rec_.position; }
    void move(Point p) override {
        rec_.position = p;
        ++rec_.moves;
    }
    WindowState state() const override { return rec_.state; }
    void setState(WindowState s) override {
        if (s == rec_.state) return;
        rec_.state = s;
        if (rec_.form) rec_.form->onResize();
    }
    std::string caption() const override { return rec_.caption; }
    void setCaption(const std::string& text) override { rec_.caption = text; }
    Size clientSize() const override {
        switch (rec_.state) {
        case WindowState::Minimized: return {};
        case WindowState::Maximized: return platform_.screen;
        case WindowState::Normal: break;
        }
        return rec_.client;
    }
    void beginMoveDrag() override {
        ++rec_.dragRequests;
        if (platform_.onDrag) platform_.onDrag(rec_);
    }

    void activate() override { platform_.activate(*rec_.form); }

    // The record has no surface to fill: ownFace reads the colour.
    void backColorChanged() override {}

    WindowRecord& record() { return rec_; }

private:
    HeadlessPlatform& platform_;
    WindowRecord& rec_;
};

// The engine is the test: it raises the events, the record keeps the page.
class Browser : public BrowserBase {
public:
    Browser(BrowserEvents& events, BrowserRecord& rec) : BrowserBase(events), rec_(rec) {}
    ~Browser() override { rec_.destroyed = true; }

    // Every request is recorded as it is made, before the queue has it.
    void Navigate(const std::string& url) override {
        rec_.navigations.push_back(url);
        BrowserBase::Navigate(url);
    }
    void setSilent(bool silent) override { rec_.silent = silent; }
    void place(const Rect& rect) override { rec_.placement = rect; }
    Rect placement() const override { return rec_.placement; }
    bool hasDocument() override { return rec_.document; }
    std::optional<std::string> documentTitle() override {
        if (!rec_.document) return std::nullopt;
        return rec_.title;
    }
    std::optional<ActiveElement> activeElement() override {
        if (!rec_.document) return std::nullopt;
        return rec_.active;
    }
    bool runScript(const std::string& script) override {
        rec_.scripts.push_back(script);
        return rec_.document && rec_.script && rec_.script(script);
    }
    void focus() override { ++rec_.focusRequests; }

private:
    // The page goes to the address unless its BeforeNavigate2 is cancelled.
    void startNavigation(const std::string& url) override {
        bool cancel = false;
        if (raise([&](BrowserEvents& e) { e.BeforeNavigate2(url, cancel); }) && !cancel)
            rec_.location = url;
    }

    BrowserRecord& rec_;
};

} // namespace

bool BrowserRecord::beforeNavigate(const std::string& url) {
    bool cancel = false;
    events->BeforeNavigate2(url, cancel);
    return cancel;
}

bool BrowserRecord::newWindow() {
    bool cancel = false;
    events->NewWindow2(cancel);
    return cancel;
}

void BrowserRecord::engineTerminated() {
    document = false;
    active.reset();
    events->EngineTerminated();
}

HeadlessPlatform::~HeadlessPlatform() = default;

WindowRecord* HeadlessPlatform::find(const WindowEvents& form) {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
        if (it->form == &form && !it->destroyed) return &*it;
    return nullptr;
}

WindowRecord& HeadlessPlatform::recordOf(WindowPeer& peer) {
    if (auto* p = dynamic_cast<HeadlessWindowPeer*>(&peer)) return p->record();
    throw std::logic_error("not a window of this desktop");
}

std::vector<const WindowRecord*> HeadlessPlatform::visibleWindows() const {
    std::vector<const WindowRecord*> out;
    for (const auto& w : windows_)
        if (w.visible) out.push_back(&w);
    return out;
}

std::unique_ptr<WindowPeer>
HeadlessPlatform::createWindow(WindowEvents& events, const FormLayout& layout, WindowPeer* owner) {
    WindowRecord& rec = windows_.emplace_back();
    rec.form = &events;
    rec.layout = layout;
    rec.caption = layout.caption;
    rec.state = layout.startState;
    rec.client = {layout.clientWidth, layout.clientHeight};
    if (owner) rec.owner = &static_cast<HeadlessWindowPeer*>(owner)->record();
    if (layout.centred)
        rec.position = {(screen.width - layout.clientWidth) / 2,
                        (screen.height - layout.clientHeight) / 2};
    return std::make_unique<HeadlessWindowPeer>(*this, rec);
}

std::unique_ptr<BrowserPeer> HeadlessPlatform::createBrowser(WindowPeer& parent,
                                                             BrowserEvents& events,
                                                             const std::optional<Rect>& frame) {
    BrowserRecord& rec = browsers_.emplace_back();
    rec.events = &events;
    rec.parent = &static_cast<HeadlessWindowPeer&>(parent).record();
    rec.frame = frame;
    return std::make_unique<Browser>(events, rec);
}

BrowserRecord* HeadlessPlatform::browserOf(const WindowEvents& form) {
    for (auto it = browsers_.rbegin(); it != browsers_.rend(); ++it)
        if (!it->destroyed && it->parent->form == &form) return &*it;
    return nullptr;
}

void HeadlessPlatform::pump() {
    while (!posted_.empty()) {
        auto work = std::move(posted_.front());
        posted_.pop_front();
        work();
    }
}

std::uintptr_t HeadlessPlatform::armTimer(TimerId id, int intervalMs) {
    schedule_[id] = Schedule{intervalMs, nowMs_ + intervalMs};
    return id;
}

void HeadlessPlatform::advance(int ms) {
    pump();
    const std::int64_t until = nowMs_ + ms;
    for (;;) {
        // The earliest due timer; ties go to the one started first.
        auto next = schedule_.end();
        for (auto it = schedule_.begin(); it != schedule_.end(); ++it)
            if (it->second.due <= until &&
                (next == schedule_.end() || it->second.due < next->second.due))
                next = it;
        if (next == schedule_.end()) break;
        nowMs_ = next->second.due;
        next->second.due += next->second.interval;
        timerDue(next->first);
    }
    nowMs_ = until;
}

void HeadlessPlatform::closeBox(WindowEvents& form) {
    if (!boxesOpen) form.onCloseRequest(UnloadMode::ControlMenu);
}

void HeadlessPlatform::endSession(WindowEvents& form) {
    form.onCloseRequest(UnloadMode::WindowsSession);
}

void HeadlessPlatform::mouseDown(WindowEvents& form, int button) {
    if (!boxesOpen) form.onMouseDown(button, 0, 10.0f, 10.0f);
}

void HeadlessPlatform::activate(WindowEvents& form) {
    WindowRecord* rec = find(form);
    if (!rec || !rec->visible || boxesOpen) return;
    // Activating a minimised window restores it, as the desktops do.
    if (rec->state == WindowState::Minimized) {
        rec->state = WindowState::Normal;
        form.onResize();
    }
    ++rec->activations;
    if (active == rec) return; // no change, no event
    active = rec;
    form.onActivate();
}

void HeadlessPlatform::resize(WindowEvents& form, Size client) {
    if (auto* rec = find(form)) {
        rec->client = client;
        form.onResize();
    }
}

int HeadlessPlatform::messageBox(const std::string& text, const std::string& title, int style) {
    MessageBoxCall call{text, title, style, {}};
    for (const auto* w : visibleWindows()) call.visibleWindows.push_back(w->caption);
    messageBoxes.push_back(call);
    if (whileUp) {
        ++boxesOpen;
        struct Closed {
            int& open;
            ~Closed() { --open; }
        } closed{boxesOpen};
        whileUp(call);
    }
    if (answerWith) return answerWith(call);
    if (answers.empty()) throw std::logic_error("unexpected message box: " + title + " / " + text);
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

void HeadlessPlatform::end() {
    ended = true;
    stopTimers();
    posted_.clear();
    for (auto& w : windows_) {
        w.destroyed = true;
        w.visible = false;
    }
    throw ProgramEnded{};
}

std::vector<std::uint8_t> HeadlessPlatform::resource(int id, const std::string& type) {
    if (auto it = resourceBytes.find({id, type}); it != resourceBytes.end()) return it->second;
    return LinuxPlatform::resource(id, type);
}

bool HeadlessPlatform::startProcess(const std::string& commandLine) {
    startedCommands.push_back(commandLine);
    return startSucceeds;
}

void HeadlessPlatform::awaitTransfer() {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

namespace {
class ProgressWindow final : public ProgressPeer {
public:
    explicit ProgressWindow(HeadlessPlatform& p, ProgressRecord& r) : p_(p), r_(r) {}
    ~ProgressWindow() override { r_.destroyed = true; }
    void update(double fraction, const std::string& figures) override {
        r_.updates.push_back({fraction, figures, std::chrono::steady_clock::now()});
        if (p_.onProgress) p_.onProgress(r_);
    }

private:
    HeadlessPlatform& p_;
    ProgressRecord& r_;
};
} // namespace

std::unique_ptr<ProgressPeer>
HeadlessPlatform::createProgressWindow(WindowPeer* owner, const std::string& title,
                                       const std::string& text, const std::string& button,
                                       std::function<void()> onButton) {
    ProgressRecord& r = progressWindows.emplace_back();
    if (auto* peer = dynamic_cast<HeadlessWindowPeer*>(owner)) r.owner = &peer->record();
    r.title = title;
    r.text = text;
    r.button = button;
    for (const auto* w : visibleWindows()) r.visibleWindows.push_back(w->caption);
    r.press = std::move(onButton);
    return std::make_unique<ProgressWindow>(*this, r);
}

} // namespace fw::headless

namespace fw {

// Recorded as the start of the quoted path.
bool startHeldProgram(int /*fd*/, const std::string& path) {
    return Platform::get().startProcess("\"" + path + "\"");
}

} // namespace fw
