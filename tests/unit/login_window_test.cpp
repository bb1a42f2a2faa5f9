// The login window's own controls: its stored layout, the version label and
// the six picture buttons, clicked as a player clicks them.
#include "test_support.h"

namespace {

using testsupport::LauncherTest;

class LoginWindow : public LauncherTest {
protected:
    void start(const std::string& config) {
        writeConfig(config);
        ASSERT_FALSE(runMain());
    }
    fw::headless::WindowRecord& login() { return record(*app::loginForm); }
    fw::headless::ControlRecord& control(int tabIndex) {
        auto* c = p.controls.byTabIndex(login(), tabIndex);
        if (!c) throw std::logic_error("no control at that tab index");
        return *c;
    }
    // Press and release the left button in the middle of a control. The
    // first move may only take the pointer from a control holding the capture.
    void click(int tabIndex) {
        auto& c = control(tabIndex);
        for (int move = 0; move < 2; ++move)
            p.controls.moveTo(c, static_cast<float>(c.rect.width) / 2,
                              static_cast<float>(c.rect.height) / 2);
        p.controls.press(1);
        p.controls.release(1);
    }
    const fw::headless::LabelRecord& label() {
        for (const auto& l : p.controls.labels)
            if (!l.destroyed && l.parent == &login()) return l;
        throw std::logic_error("no label");
    }
};

// Tab indexes of the buttons, as the stored layout gives them.
constexpr int kForum = 0, kMini = 1, kClose = 2, kHome = 3, kCharge = 4, kService = 5;

// The buttons' own stored values are checked where the layout is restored
// (layout_test.cpp); here, that the window takes every control from it.
TEST_F(LoginWindow, LayoutPlacesEveryControl) {
    start(validConfig());
    EXPECT_TRUE(app::loginForm->layoutErrors().empty()) << app::loginForm->layoutErrors().front();
    const std::pair<int, fw::Rect> buttons[] = {
        {kClose, {720, 16, 26, 26}},  {kMini, {692, 19, 23, 23}},    {kHome, {65, 55, 90, 34}},
        {kCharge, {165, 55, 90, 34}}, {kService, {552, 55, 90, 34}}, {kForum, {652, 55, 90, 34}}};
    for (const auto& [tab, rect] : buttons) {
        auto& c = control(tab);
        EXPECT_EQ(std::tuple(c.rect.left, c.rect.top, c.rect.width, c.rect.height),
                  std::tuple(rect.left, rect.top, rect.width, rect.height))
            << tab;
        // Its picture covers it whole.
        p.controls.paint(c);
        ASSERT_EQ(c.last(fw::headless::DrawCall::Kind::Picture).size(), 1u) << tab;
        EXPECT_EQ(c.last(fw::headless::DrawCall::Kind::Picture)[0].rect,
                  (fw::Bounds{0, 0, rect.width, rect.height}));
    }
    auto& frame = p.browserOf(*app::loginForm)->frame;
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(std::tuple(frame->left, frame->top, frame->width, frame->height),
              std::tuple(55, 130, 697, 406));
    const auto view = p.browserOf(*app::loginForm)->placement;
    EXPECT_EQ(std::tuple(view.left, view.top, view.width, view.height),
              std::tuple(-5, -5, 750, 450));
    EXPECT_EQ(std::tuple(label().rect.left, label().rect.top, label().rect.width),
              std::tuple(333, 108, 121));
    EXPECT_EQ(label().colour, fw::systemColor(fw::kColorHighlightText));
}

TEST_F(LoginWindow, VersionLabelShowsTheConfiguredVersion) {
    start(validConfig());
    EXPECT_EQ(label().caption, "版本:1.00");
    testsupport::forgetWindows();
    start("[common]\r\nversion=\r\n[platform]\r\nloginUrl=http://127.0.0.1:1/login\r\n");
    EXPECT_EQ(label().caption, "版本:");
}

TEST_F(LoginWindow, SiteButtonsOpenTheirAddressesAsTheyStand) {
    start("[common]\r\nversion=1.00\r\n[platform]\r\nloginUrl=http://127.0.0.1:1/login\r\n"
          "mainUrl=game\r\nhomeUrl=http://h/\r\nchargeUrl=http://c/?a=1&b=2\r\n"
          "serviceUrl=\r\nforumUrl=http://f/论坛\r\n");
    for (int tab : {kHome, kCharge, kService, kForum}) click(tab);
    EXPECT_EQ(p.openedUrls,
              (std::vector<std::string>{"http://h/", "http://c/?a=1&b=2", "", "http://f/论坛"}));
    EXPECT_TRUE(p.messageBoxes.empty());
    // A press that leaves the button before the release opens nothing.
    auto& home = control(kHome);
    p.controls.moveTo(home, 40, 17);
    p.controls.press(1);
    p.controls.moveTo(home, 200, 17);
    p.controls.release(1);
    EXPECT_EQ(p.openedUrls.size(), 4u);
}

TEST_F(LoginWindow, MinimiseButtonMinimisesTheLoginFace) {
    start(validConfig());
    click(kMini);
    EXPECT_EQ(record(*app::backForm).state, fw::WindowState::Minimized);
    EXPECT_EQ(login().state, fw::WindowState::Minimized);
}

TEST_F(LoginWindow, CloseButtonAsksAndOnlyOkEnds) {
    start(validConfig());
    p.answers = {fw::kIdCancel};
    click(kClose);
    ASSERT_EQ(p.messageBoxes.size(), 1u);
    EXPECT_EQ(p.messageBoxes[0].text, "此操作将会退出游戏，是否继续？");
    EXPECT_EQ(p.messageBoxes[0].title, "退出提示");
    EXPECT_EQ(p.messageBoxes[0].style, fw::kOkCancel);
    // Cancel keeps everything as it was, the buttons working.
    EXPECT_FALSE(p.ended);
    EXPECT_TRUE(login().visible);
    EXPECT_TRUE(app::loginForm->timer().Enabled());
    click(kHome);
    EXPECT_EQ(p.openedUrls.size(), 1u);

    p.answers = {fw::kIdOk};
    EXPECT_THROW(click(kClose), fw::headless::ProgramEnded);
    EXPECT_EQ(p.messageBoxes.size(), 2u);
    EXPECT_TRUE(p.ended);
}

} // namespace
