#include "framework/portable/timer.h"
#include "test_support.h"

#include <stdexcept>

namespace {

using fw::WindowState;
using testsupport::LauncherTest;

class WindowFlow : public LauncherTest {
protected:
    void start() {
        writeConfig(validConfig());
        ASSERT_FALSE(runMain());
    }
    fw::headless::WindowRecord& back() { return record(*app::backForm); }
    fw::headless::WindowRecord& login() { return record(*app::loginForm); }
    fw::Point loginOffset() {
        return {login().position.x - back().position.x, login().position.y - back().position.y};
    }
};

TEST_F(WindowFlow, MainShowsTheLoginFaceAndKeepsRunning) {
    start();
    EXPECT_FALSE(p.ended);
    EXPECT_TRUE(p.messageBoxes.empty());
    auto& b = back();
    EXPECT_TRUE(b.visible);
    EXPECT_EQ(b.caption, "Varnholt登录器");
    EXPECT_EQ(b.layout.border, fw::Border::None);
    EXPECT_TRUE(b.layout.taskbar);
    EXPECT_EQ(b.position.x, (p.screen.width - 1039) / 2);
    EXPECT_EQ(b.position.y, (p.screen.height - 652) / 2);
    auto& l = login();
    EXPECT_TRUE(l.visible);
    EXPECT_EQ(l.owner, &b);
    EXPECT_EQ(l.layout.border, fw::Border::None);
    EXPECT_EQ(l.client.width, 757);
    EXPECT_EQ(l.client.height, 563);
    // 3810 x 1045 twips at 15 twips per pixel.
    EXPECT_EQ(loginOffset().x, 254);
    EXPECT_EQ(loginOffset().y, 70);
    EXPECT_TRUE(app::loginForm->timer().Enabled());
    EXPECT_EQ(app::loginForm->timer().Interval(), 10);
    EXPECT_EQ(app::mainForm, nullptr);
}

TEST_F(WindowFlow, LoginWindowFollowsADragOnEitherWindowWithAnyButton) {
    start();
    p.onDrag = [](fw::headless::WindowRecord& w) {
        w.position.x += 40;
        w.position.y -= 25;
    };
    const auto before = back().position;
    for (int button : {1, 2, 4}) {
        p.mouseDown(*app::backForm, button);
        p.mouseDown(*app::loginForm, button);
    }
    EXPECT_EQ(back().dragRequests, 6);
    EXPECT_EQ(login().dragRequests, 0); // the background window is the one moved
    EXPECT_EQ(back().position.x, before.x + 240);
    // The login window lags until the next tick.
    p.advance(10);
    EXPECT_EQ(loginOffset().x, 254);
    EXPECT_EQ(loginOffset().y, 70);
    // A window already in place is not moved again.
    const int moves = login().moves;
    p.advance(100);
    EXPECT_EQ(login().moves, moves);
}

TEST_F(WindowFlow, FollowingPausesWhileTheBackgroundIsHiddenOrMinimised) {
    start();
    const auto loginAt = login().position;
    back().position.x += 100;
    app::backForm->setWindowState(WindowState::Minimized);
    p.advance(50);
    EXPECT_EQ(login().position.x, loginAt.x);
    app::backForm->setWindowState(WindowState::Normal);
    app::backForm->Hide();
    p.advance(50);
    EXPECT_EQ(login().position.x, loginAt.x);
    app::backForm->Show();
    p.advance(10);
    EXPECT_EQ(login().position.x, loginAt.x + 100);
}

TEST_F(WindowFlow, MinimiseTouchesOnlyTheLoginFace) {
    start();
    app::windowFlow().minimizeWindows();
    EXPECT_EQ(back().state, WindowState::Minimized);
    EXPECT_EQ(login().state, WindowState::Minimized);
}

TEST_F(WindowFlow, HandOverAndBackAgain) {
    start();
    const auto* oldBack = app::backForm.get();
    back().position = {5, 7}; // dragged away

    app::windowFlow().openGame("http://127.0.0.1/game.html?token=a");
    EXPECT_FALSE(back().visible);
    EXPECT_FALSE(login().visible);
    ASSERT_NE(app::mainForm, nullptr);
    auto* game = app::mainForm.get();
    auto& g = record(*game);
    EXPECT_TRUE(g.visible);
    EXPECT_EQ(g.state, WindowState::Maximized);
    EXPECT_EQ(g.layout.border, fw::Border::Sizable);
    EXPECT_EQ(game->pageUrl(), "http://127.0.0.1/game.html?token=a");
    EXPECT_TRUE(game->loaded());

    // The close asks once; Cancel keeps the game.
    p.answers = {fw::kIdCancel};
    p.closeBox(*game);
    EXPECT_TRUE(g.visible);
    EXPECT_FALSE(g.destroyed);

    // OK closes the game window once and brings a new login face, centred.
    p.answers = {fw::kIdOk};
    p.closeBox(*game);
    EXPECT_EQ(p.messageBoxes.size(), 2u);
    EXPECT_EQ(p.messageBoxes[1].title, "退出提示");
    EXPECT_EQ(p.messageBoxes[1].text, "此操作将会退出游戏，是否继续？");
    EXPECT_EQ(p.messageBoxes[1].style, fw::kOkCancel);
    EXPECT_TRUE(g.destroyed);
    EXPECT_FALSE(p.ended);
    EXPECT_NE(app::backForm.get(), oldBack);
    EXPECT_TRUE(back().visible);
    EXPECT_TRUE(login().visible);
    EXPECT_EQ(back().position.x, (p.screen.width - 1039) / 2);
    EXPECT_EQ(loginOffset().x, 254);
    EXPECT_EQ(app::mainForm.get(), game); // the object survives its window
    EXPECT_FALSE(game->Loaded());

    // A second hand-over reuses the object and loads its window again.
    app::windowFlow().openGame("http://127.0.0.1/game.html?token=b");
    EXPECT_EQ(app::mainForm.get(), game);
    EXPECT_TRUE(game->Loaded());
    EXPECT_EQ(game->pageUrl(), "http://127.0.0.1/game.html?token=b");
    int visible = 0;
    for (const auto* w : p.visibleWindows()) visible += w->form == game;
    EXPECT_EQ(visible, 1);
}

TEST_F(WindowFlow, ClosingTheLoginWindowAsksAndEndsOnOk) {
    start();
    p.answers = {fw::kIdCancel};
    p.closeBox(*app::loginForm);
    EXPECT_TRUE(login().visible);
    EXPECT_TRUE(app::loginForm->timer().Enabled());
    p.answers = {fw::kIdOk};
    EXPECT_THROW(p.closeBox(*app::loginForm), fw::headless::ProgramEnded);
    EXPECT_TRUE(p.ended);
    EXPECT_TRUE(p.visibleWindows().empty());
    EXPECT_EQ(p.messageBoxes.size(), 2u);
}

TEST_F(WindowFlow, ClosingTheBackgroundWindowAsksAsTheLoginWindowDoes) {
    start();
    p.answers = {fw::kIdCancel};
    p.closeBox(*app::backForm);
    EXPECT_TRUE(back().visible);
    EXPECT_TRUE(login().visible);
    ASSERT_EQ(p.messageBoxes.size(), 1u);
    EXPECT_EQ(p.messageBoxes[0].title, "退出提示");
    p.answers = {fw::kIdOk};
    EXPECT_THROW(p.closeBox(*app::backForm), fw::headless::ProgramEnded);
}

TEST_F(WindowFlow, AddressesArePassedOnAsTheyStand) {
    app::windowFlow().openUrl("");
    app::windowFlow().openUrl("http://home/?a=1&b=2");
    EXPECT_EQ(p.openedUrls, (std::vector<std::string>{"", "http://home/?a=1&b=2"}));
}

TEST_F(WindowFlow, NothingToFollowOrDragWithoutABackgroundWindow) {
    app::windowFlow().followBackWindow();
    app::windowFlow().dragWindow();
    app::windowFlow().minimizeWindows();
    EXPECT_TRUE(p.windows().empty());
}

// While a question is up the desktop goes on: the login page may hand over
// by itself, and a session ending reaches every window. The player reaches
// only the question.
class OpenQuestion : public WindowFlow {
protected:
    static constexpr const char* kGame = "http://127.0.0.1/game.html?token=q";
    // Clicks the login window's close button; `whileUp` runs while the exit
    // question it asks is up, then `answer` is given.
    void closeLoginWith(int answer, std::function<void()> whileUp) {
        int boxes = 0;
        p.whileUp = [&, whileUp](const fw::headless::MessageBoxCall&) {
            if (boxes++ == 0) whileUp();
        };
        p.answerWith = [&, answer](const fw::headless::MessageBoxCall&) {
            return p.boxesOpen == 0 ? answer : fw::kIdOk; // an inner box: OK
        };
        auto* close = p.controls.byTabIndex(login(), 2);
        ASSERT_NE(close, nullptr);
        for (int move = 0; move < 2; ++move) p.controls.moveTo(*close, 13, 13);
        p.controls.press(1);
        p.controls.release(1);
        p.whileUp = nullptr;
        p.answerWith = nullptr;
    }
    // The page navigates to the game by itself; true when that was cancelled.
    bool handOver(forms::LoginForm& form) {
        auto* browser = p.browserOf(form);
        return browser && browser->beforeNavigate(kGame);
    }
};

TEST_F(OpenQuestion, AWindowOpenedMeanwhileTakesNoInputUntilTheAnswer) {
    start();
    closeLoginWith(fw::kIdCancel, [&] {
        EXPECT_TRUE(handOver(*app::loginForm));
        ASSERT_NE(app::mainForm, nullptr);
        EXPECT_TRUE(record(*app::mainForm).visible);
        p.closeBox(*app::mainForm); // refused: no second question
        p.mouseDown(*app::backForm, 1);
    });
    EXPECT_EQ(p.messageBoxes.size(), 1u);
    EXPECT_EQ(back().dragRequests, 0);
    EXPECT_FALSE(login().visible); // Cancel keeps the hidden login window
    p.answers = {fw::kIdCancel};
    p.closeBox(*app::mainForm); // and now the game window asks
    EXPECT_EQ(p.messageBoxes.size(), 2u);
}

TEST_F(OpenQuestion, AReplacedFaceOutlivesItsQuestionWhichThenMeansNothing) {
    for (int answer : {fw::kIdCancel, fw::kIdOk}) {
        SCOPED_TRACE(answer);
        testsupport::forgetWindows();
        p.messageBoxes.clear();
        start();
        auto* oldLogin = app::loginForm.get();
        auto& oldLoginRecord = login();
        auto& oldBackRecord = back();
        closeLoginWith(answer, [&] {
            ASSERT_TRUE(handOver(*oldLogin));
            // The session ends: the game window asks, OK brings a new face.
            p.endSession(*app::mainForm);
            EXPECT_NE(app::loginForm.get(), oldLogin);
            EXPECT_FALSE(app::mainForm->Loaded());
            // The replaced face stays (its question is open), hidden and
            // mute: its page went with the hand-over, nothing can open the
            // game again from it.
            p.pump();
            EXPECT_FALSE(oldLoginRecord.destroyed);
            EXPECT_FALSE(oldLoginRecord.visible || oldBackRecord.visible);
            EXPECT_EQ(p.browserOf(*oldLogin), nullptr);
            EXPECT_FALSE(app::mainForm->Loaded());
        });
        // Either answer to a question of a replaced window ends nothing; the
        // face goes from the message loop once its close has returned.
        EXPECT_FALSE(p.ended);
        EXPECT_EQ(p.messageBoxes.size(), 2u);
        EXPECT_FALSE(oldLoginRecord.destroyed);
        p.pump();
        EXPECT_TRUE(oldLoginRecord.destroyed && oldBackRecord.destroyed);
        EXPECT_TRUE(back().visible && login().visible);
    }
    // The new face asks and ends as the first one did.
    p.answers = {fw::kIdOk};
    EXPECT_THROW(p.closeBox(*app::loginForm), fw::headless::ProgramEnded);
}

// The window object's life cycle, seen from its handlers.
class Probe : public fw::Form {
public:
    Probe() : Form(layoutFor()) {}
    std::vector<std::string> events;
    bool cancelClose = false;
    std::function<void()> onQuery;

protected:
    static fw::FormLayout layoutFor() {
        fw::FormLayout l;
        l.clientWidth = 100;
        l.clientHeight = 50;
        l.border = fw::Border::Sizable;
        return l;
    }
    void createControls() override { events.push_back("controls"); }
    void destroyControls() override { events.push_back("-controls"); }
    void Form_Load() override { events.push_back("load"); }
    void Form_Resize() override {
        events.push_back("resize " + std::to_string(static_cast<int>(ScaleWidth())));
    }
    void Form_QueryUnload(bool& cancel, fw::UnloadMode mode) override {
        events.push_back("query " + std::to_string(static_cast<int>(mode)));
        if (onQuery) onQuery();
        cancel = cancelClose;
    }
    void Form_Unload(bool&) override { events.push_back("unload"); }
};

class FormLifecycle : public LauncherTest {};

TEST_F(FormLifecycle, ShowLoadsOnceAndUnloadRunsTheCloseSequence) {
    Probe f;
    EXPECT_FALSE(f.Loaded());
    f.Show();
    f.Hide();
    f.Show();
    EXPECT_EQ(f.events, (std::vector<std::string>{"controls", "load", "resize 100"}));
    p.resize(f, {300, 200});
    f.cancelClose = true;
    p.closeBox(f);
    EXPECT_TRUE(f.Loaded());
    f.cancelClose = false;
    f.Unload();
    EXPECT_FALSE(f.Loaded());
    f.Show(); // loads anew
    EXPECT_EQ(f.events, (std::vector<std::string>{"controls", "load", "resize 100", "resize 300",
                                                  "query 0", "query 1", "unload", "-controls",
                                                  "controls", "load", "resize 100"}));
}

TEST_F(FormLifecycle, AnUnloadFromInsideTheCloseHappensOnce) {
    Probe f;
    f.Show();
    f.onQuery = [&] { f.Unload(); };
    p.closeBox(f);
    EXPECT_FALSE(f.Loaded());
    EXPECT_EQ(std::count(f.events.begin(), f.events.end(), "unload"), 1);
    EXPECT_EQ(std::count(f.events.begin(), f.events.end(), "query 0"), 1);
}

TEST_F(FormLifecycle, TimersTickOnlyWhileEnabled) {
    int ticks = 0;
    fw::Timer t(10, [&] { ++ticks; });
    p.advance(100);
    EXPECT_EQ(ticks, 0);
    t.setEnabled(true);
    p.advance(35);
    EXPECT_EQ(ticks, 3);
    t.setEnabled(false);
    p.advance(100);
    EXPECT_EQ(ticks, 3);
}

TEST_F(FormLifecycle, ATickMayStopItsOwnTimerAndOthers) {
    std::vector<std::string> ticks;
    fw::TimerId a = 0, b = 0;
    a = p.startTimer(10, [&] {
        ticks.push_back("a");
        p.stopTimer(a);
        p.stopTimer(b); // due at the same time, after a
    });
    b = p.startTimer(10, [&] { ticks.push_back("b"); });
    const fw::TimerId c = p.startTimer(15, [&] { ticks.push_back("c"); });
    EXPECT_TRUE(a && b && c && a != b && b != c && a != c);
    p.advance(40);
    EXPECT_EQ(ticks, (std::vector<std::string>{"a", "c", "c"}));
    p.stopTimer(c);
    p.stopTimer(c); // a stopped id is nothing
    p.advance(40);
    EXPECT_EQ(ticks.size(), 3u);
}

TEST_F(FormLifecycle, TheBackColourStartsAsTheButtonFaceAtEachLoad) {
    Probe f;
    const fw::OleColor face = fw::systemColor(fw::kColorBtnFace);
    f.setBackColor(0xFF); // no window: nothing to colour
    EXPECT_EQ(f.BackColor(), face);
    f.Show();
    f.setBackColor(0xFF);
    EXPECT_EQ(f.BackColor(), 0xFFu);
    f.Unload();
    f.Show();
    EXPECT_EQ(f.BackColor(), face);
}

// An error that no handler caught: logged, shown once with the one text of
// every desktop, and the program ends; one that follows shows nothing more.
TEST_F(FormLifecycle, AnUntrappedErrorIsShownOnceAndEndsTheProgram) {
    p.answers = {fw::kIdOk};
    EXPECT_THROW(p.guarded([] { throw std::runtime_error("boom"); }), fw::headless::ProgramEnded);
    ASSERT_EQ(p.messageBoxes.size(), 1u);
    EXPECT_EQ(p.messageBoxes[0].text, "运行时错误：\n\nboom");
    EXPECT_EQ(p.messageBoxes[0].style, fw::kCritical);
    EXPECT_EQ(p.diagnostics, std::vector<std::string>{"boom"});
    EXPECT_TRUE(p.failing());
    EXPECT_THROW(p.guarded([] { throw 1; }), fw::headless::ProgramEnded);
    EXPECT_EQ(p.messageBoxes.size(), 1u);
}

} // namespace
