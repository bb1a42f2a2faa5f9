// The login window's own controls: its stored layout, the version label and
// the six picture buttons, clicked as a player clicks them.
#include "test_support.h"

namespace {

using testing_support::LauncherTest;

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

TEST_F(LoginWindow, LayoutPlacesEveryControlWithItsPictures) {
    start(validConfig());
    EXPECT_TRUE(app::loginForm->layoutErrors().empty()) << app::loginForm->layoutErrors().front();
    struct Expected {
        int tab;
        fw::Rect rect;
        int picture;
    };
    for (const Expected& e :
         {Expected{kClose, {720, 16, 26, 26}, 26}, Expected{kMini, {692, 19, 23, 23}, 23},
          Expected{kHome, {65, 55, 90, 34}, 90}, Expected{kCharge, {165, 55, 90, 34}, 90},
          Expected{kService, {552, 55, 90, 34}, 90}, Expected{kForum, {652, 55, 90, 34}, 90}}) {
        auto& c = control(e.tab);
        EXPECT_EQ(c.rect.left, e.rect.left) << e.tab;
        EXPECT_EQ(c.rect.top, e.rect.top) << e.tab;
        EXPECT_EQ(c.rect.width, e.rect.width) << e.tab;
        EXPECT_EQ(c.rect.height, e.rect.height) << e.tab;
        // The picture covers the whole button, in every state but hot.
        p.controls.paint(c);
        const auto pictures = c.last(fw::headless::DrawCall::Kind::Picture);
        ASSERT_EQ(pictures.size(), 1u) << e.tab;
        EXPECT_EQ(pictures[0].picture->width, e.picture);
        EXPECT_EQ(pictures[0].rect, (fw::Bounds{0, 0, e.rect.width, e.rect.height}));
        EXPECT_EQ(c.font->face, "宋体");
        EXPECT_EQ(c.font->charset, 134);
    }
    EXPECT_EQ(control(kClose).backColor, 0x8000000Fu);
    EXPECT_EQ(control(kMini).backColor, 0x8000000Fu);
    auto& frame = p.browserOf(*app::loginForm)->frame;
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->left, 55);
    EXPECT_EQ(frame->width, 697);
    EXPECT_EQ(p.browserOf(*app::loginForm)->placement.left, -5);
    EXPECT_EQ(label().rect.left, 333);
    EXPECT_EQ(label().colour, fw::systemColor(fw::kColorHighlightText));
}

TEST_F(LoginWindow, VersionLabelShowsTheConfiguredVersion) {
    start(validConfig());
    EXPECT_EQ(label().caption, "版本:1.00");
    testing_support::forgetWindows();
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
