#include "forms/HandOver.h"
#include "test_support.h"

namespace {

using fw::headless::BrowserRecord;
using testsupport::LauncherTest;

class HandOver : public LauncherTest {
protected:
    void start(const std::string& mainUrl = "http://127.0.0.1/game.html",
               const std::string& loginUrl = "http://127.0.0.1/login.html") {
        writeConfig("[platform]\nloginUrl=" + loginUrl + "\nmainUrl=" + mainUrl +
                    "\n[install]\ninstallTime=x\n");
        ASSERT_FALSE(runMain());
    }
    BrowserRecord& loginBrowser() { return *p.browserOf(*app::loginForm); }
    BrowserRecord& gameBrowser() { return *p.browserOf(*app::mainForm); }
};

TEST(HandOverTest, WebAddressWithTheExactGameAddress) {
    using forms::isHandOver;
    EXPECT_TRUE(isHandOver("http://h/game.html?token=1", "http://h/game.html"));
    EXPECT_TRUE(isHandOver("http://other/?next=http://h/game.html", "http://h/game.html"));
    EXPECT_TRUE(isHandOver("HTTPS://other/?next=http://h/game.html", "http://h/game.html"));
    EXPECT_FALSE(isHandOver("http://h/GAME.html", "http://h/game.html"));
    EXPECT_FALSE(isHandOver("http://h/game.htm", "http://h/game.html"));
    EXPECT_FALSE(isHandOver("data:text/html,http://h/game.html", "http://h/game.html"));
    EXPECT_FALSE(isHandOver("file:///http://h/game.html", "http://h/game.html"));
    EXPECT_FALSE(isHandOver("httpx://h/game.html", "//h/game.html"));
    EXPECT_FALSE(isHandOver("", "http://h/game.html"));
    EXPECT_TRUE(isHandOver("http://any", ""));
    EXPECT_FALSE(isHandOver("about:blank", ""));
    EXPECT_FALSE(isHandOver("", ""));
}

TEST_F(HandOver, LoginPageIsFramedAndLoadedAfterTheWindowIsUp) {
    start();
    auto& b = loginBrowser();
    ASSERT_TRUE(b.frame.has_value());
    EXPECT_EQ(b.frame->left, 55);
    EXPECT_EQ(b.frame->top, 130);
    EXPECT_EQ(b.frame->width, 697);
    EXPECT_EQ(b.frame->height, 406);
    EXPECT_EQ(b.placement.left, -5);
    EXPECT_EQ(b.placement.top, -5);
    EXPECT_EQ(b.placement.width, 750);
    EXPECT_EQ(b.placement.height, 450);
    EXPECT_EQ(b.navigations, (std::vector<std::string>{"http://127.0.0.1/login.html"}));
    p.pump();
    EXPECT_EQ(b.location, "http://127.0.0.1/login.html");
    EXPECT_EQ(app::mainForm, nullptr);
}

TEST_F(HandOver, MatchingNavigationIsCancelledAndOpensTheGameWithTheWholeAddress) {
    start();
    p.pump();
    auto& b = loginBrowser();
    EXPECT_FALSE(b.beforeNavigate("http://127.0.0.1/GAME.html")); // case differs: stays
    EXPECT_EQ(app::mainForm, nullptr);
    EXPECT_TRUE(b.beforeNavigate("http://127.0.0.1/game.html?token=abc&x=1"));
    ASSERT_NE(app::mainForm, nullptr);
    EXPECT_FALSE(record(*app::loginForm).visible);
    EXPECT_FALSE(record(*app::backForm).visible);
    // The first load navigates to the empty address, then the game address.
    EXPECT_EQ(gameBrowser().navigations,
              (std::vector<std::string>{"", "http://127.0.0.1/game.html?token=abc&x=1"}));
    EXPECT_TRUE(gameBrowser().silent);
    EXPECT_EQ(app::mainForm->pageUrl(), "http://127.0.0.1/game.html?token=abc&x=1");
    p.pump();
    EXPECT_EQ(gameBrowser().location, "http://127.0.0.1/game.html?token=abc&x=1");
}

TEST_F(HandOver, NewWindowCountsOnlyAFocusedLinkToTheGame) {
    start();
    p.pump();
    auto& b = loginBrowser();
    EXPECT_FALSE(b.newWindow()); // no document
    b.document = true;
    EXPECT_FALSE(b.newWindow()); // nothing focused
    b.active = fw::ActiveElement{"BUTTON", "http://127.0.0.1/game.html"};
    EXPECT_FALSE(b.newWindow());
    b.active = fw::ActiveElement{"a", "http://127.0.0.1/game.html"}; // tag case matters
    EXPECT_FALSE(b.newWindow());
    b.active = fw::ActiveElement{"A", "http://127.0.0.1/news.html"};
    EXPECT_FALSE(b.newWindow());
    EXPECT_EQ(app::mainForm, nullptr);
    b.active = fw::ActiveElement{"A", "http://127.0.0.1/game.html?from=link"};
    EXPECT_TRUE(b.newWindow());
    ASSERT_NE(app::mainForm, nullptr);
    EXPECT_EQ(app::mainForm->pageUrl(), "http://127.0.0.1/game.html?from=link");
}

TEST_F(HandOver, EmptyGameAddressHandsOverEveryWebAddress) {
    start("");
    auto& login = loginBrowser();
    // The login page itself goes at its first navigation.
    p.pump();
    ASSERT_NE(app::mainForm, nullptr);
    EXPECT_EQ(app::mainForm->pageUrl(), "http://127.0.0.1/login.html");
    EXPECT_EQ(login.location, "");
    EXPECT_FALSE(record(*app::loginForm).visible);
}

TEST_F(HandOver, LoginAddressContainingTheGameAddressHandsOverAtOnce) {
    start("game", "http://127.0.0.1/game/login.html");
    p.pump();
    ASSERT_NE(app::mainForm, nullptr);
    EXPECT_TRUE(record(*app::mainForm).visible);
    EXPECT_FALSE(record(*app::loginForm).visible);
    EXPECT_EQ(app::mainForm->pageUrl(), "http://127.0.0.1/game/login.html");
}

TEST_F(HandOver, HiddenLoginFaceKeepsOnlyItsWindowsOnceTheGameBrowserIsMade) {
    start();
    p.pump();
    auto& login = loginBrowser();
    const std::size_t before = p.browsers().size();
    EXPECT_TRUE(record(*app::backForm).imaging.face.has_value());
    EXPECT_TRUE(login.beforeNavigate("http://127.0.0.1/game.html?token=1"));
    EXPECT_TRUE(login.destroyed);
    // The game's browser was made while the login page still existed.
    EXPECT_EQ(p.browsers().size(), before + 1);
    EXPECT_FALSE(gameBrowser().destroyed);
    // The buttons, the label and both faces' drawing go with the page; the
    // windows and the timer stay.
    for (const auto& surface : p.controls.surfaces) EXPECT_TRUE(surface.destroyed);
    for (const auto& label : p.controls.labels) EXPECT_TRUE(label.destroyed);
    for (auto* form : {static_cast<fw::Form*>(app::backForm.get()),
                       static_cast<fw::Form*>(app::loginForm.get())}) {
        EXPECT_FALSE(record(*form).destroyed);
        EXPECT_TRUE(record(*form).imaging.released && !record(*form).imaging.face);
    }
    EXPECT_TRUE(app::loginForm->timer().Enabled());
    EXPECT_FALSE(record(*app::mainForm).imaging.released);
    // A second hand-over after the way back finds a whole new login face.
    p.answers = {fw::kIdOk};
    p.closeBox(*app::mainForm);
    p.pump();
    auto& second = loginBrowser();
    EXPECT_FALSE(second.destroyed);
    EXPECT_TRUE(second.beforeNavigate("http://127.0.0.1/game.html?token=2"));
    EXPECT_TRUE(second.destroyed);
    EXPECT_EQ(app::mainForm->pageUrl(), "http://127.0.0.1/game.html?token=2");
}

class GameWindow : public HandOver {
protected:
    void openGame(const std::string& url = "http://127.0.0.1/game.html") {
        start();
        p.pump();
        app::windowFlow().openGame(url);
        p.pump();
    }
    forms::MainForm& game() { return *app::mainForm; }
};

TEST_F(GameWindow, BrowserCoversTheClientAreaAndSeventeenPixelsMore) {
    openGame();
    auto& b = gameBrowser();
    EXPECT_FALSE(b.frame.has_value());
    EXPECT_EQ(b.placement.left, 0);
    EXPECT_EQ(b.placement.top, 0);
    EXPECT_EQ(b.placement.width, p.screen.width + 17); // maximised
    EXPECT_EQ(b.placement.height, p.screen.height);
    game().setWindowState(fw::WindowState::Normal);
    EXPECT_EQ(b.placement.width, 1100 + 17);
    EXPECT_EQ(b.placement.height, 600);
    p.resize(game(), {1, 1});
    EXPECT_EQ(b.placement.width, 18);
    game().setWindowState(fw::WindowState::Minimized);
    EXPECT_EQ(b.placement.width, 17);
    EXPECT_EQ(b.placement.height, 0);
}

TEST_F(GameWindow, ClientTypeScriptRunsAfterEachLoadAndThenAfterDownloads) {
    openGame();
    auto& b = gameBrowser();
    int calls = 0;
    bool defined = false;
    b.script = [&](const std::string& s) {
        EXPECT_EQ(s, "setClientTypeByVb()");
        ++calls;
        return defined;
    };
    b.downloadComplete();    // nothing before a page is ready
    b.documentComplete("x"); // no document yet
    EXPECT_EQ(b.scripts.size(), 0u);

    b.document = true;
    b.documentComplete("x"); // the page lacks the function
    EXPECT_FALSE(game().pageReady());
    b.downloadComplete();
    EXPECT_EQ(calls, 1);

    defined = true;
    b.documentComplete("x");
    EXPECT_TRUE(game().pageReady());
    b.downloadComplete();
    EXPECT_EQ(calls, 3);

    // A later page without the function only fails silently on downloads.
    defined = false;
    b.documentComplete("frame");
    EXPECT_TRUE(game().pageReady());
    b.downloadComplete();
    EXPECT_EQ(calls, 5);
}

TEST_F(GameWindow, CaptionFollowsTheDocumentTitleOrTheEventText) {
    openGame();
    auto& b = gameBrowser();
    b.titleChange("event text");
    EXPECT_EQ(game().Caption(), "event text");
    b.document = true;
    b.title = "文档标题";
    b.titleChange("other text");
    EXPECT_EQ(game().Caption(), "文档标题");
    b.title.reset(); // unreadable: the caption stays
    b.titleChange("ignored");
    EXPECT_EQ(game().Caption(), "文档标题");
}

TEST_F(GameWindow, ReopeningStartsFromThePreviousAddressAndResetsReadiness) {
    openGame("http://127.0.0.1/game.html?round=1");
    auto& first = gameBrowser();
    first.document = true;
    first.script = [](const std::string&) { return true; };
    first.documentComplete("x");
    EXPECT_TRUE(game().pageReady());

    p.answers = {fw::kIdOk};
    p.closeBox(game());
    EXPECT_TRUE(first.destroyed);
    EXPECT_EQ(p.messageBoxes.size(), 1u);
    // The new login face loads the login page afresh.
    EXPECT_EQ(loginBrowser().navigations,
              (std::vector<std::string>{"http://127.0.0.1/login.html"}));

    app::windowFlow().openGame("http://127.0.0.1/game.html?round=2");
    EXPECT_FALSE(game().pageReady());
    EXPECT_EQ(gameBrowser().navigations,
              (std::vector<std::string>{"http://127.0.0.1/game.html?round=1",
                                        "http://127.0.0.1/game.html?round=2"}));
}

TEST_F(GameWindow, NavigateToUrlOnAWindowNotLoadedOnlyKeepsTheAddress) {
    forms::MainForm f(app::windowFlow());
    f.navigateToUrl("http://127.0.0.1/game.html?later");
    EXPECT_EQ(f.pageUrl(), "http://127.0.0.1/game.html?later");
    EXPECT_TRUE(p.browsers().empty());
    f.Show();
    EXPECT_EQ(p.browserOf(f)->navigations,
              (std::vector<std::string>{"http://127.0.0.1/game.html?later"}));
}

} // namespace

// The engine under a page dies: the page comes back, but not twice within a
// minute (no restart loop).
TEST_F(GameWindow, DeadEngineReloadsTheGameOnceAMinute) {
    openGame("http://127.0.0.1/game.html?t=1");
    auto& b = gameBrowser();
    const auto before = b.navigations.size();
    auto reloads = [&] { return b.navigations.size() - before; };

    b.engineTerminated();
    EXPECT_EQ(reloads(), 1u);
    EXPECT_EQ(b.navigations.back(), "http://127.0.0.1/game.html?t=1");
    p.advance(59'999);
    b.engineTerminated(); // again within the minute: stays blank
    EXPECT_EQ(reloads(), 1u);
    p.advance(1);
    b.engineTerminated(); // a minute after the last reload
    EXPECT_EQ(reloads(), 2u);
    b.engineTerminated();
    EXPECT_EQ(reloads(), 2u);
    EXPECT_TRUE(record(game()).visible);
    EXPECT_TRUE(p.messageBoxes.empty());

    // A new showing starts afresh.
    p.answers = {fw::kIdOk};
    p.closeBox(game());
    app::windowFlow().openGame("http://127.0.0.1/game.html?t=2");
    auto& again = gameBrowser();
    again.engineTerminated();
    EXPECT_EQ(again.navigations.back(), "http://127.0.0.1/game.html?t=2");
    EXPECT_EQ(again.navigations.size(), 3u);
}

TEST_F(HandOver, DeadEngineReloadsTheLoginPageOnceAMinute) {
    start();
    p.pump();
    auto& b = loginBrowser();
    b.engineTerminated();
    EXPECT_EQ(b.navigations, (std::vector<std::string>{"http://127.0.0.1/login.html",
                                                       "http://127.0.0.1/login.html"}));
    p.pump(); // the reloaded page is the login page, not handed over
    EXPECT_EQ(app::mainForm, nullptr);
    p.advance(30'000);
    b.engineTerminated();
    EXPECT_EQ(b.navigations.size(), 2u);
    EXPECT_TRUE(record(*app::loginForm).visible);
}
