// The picture button on the headless surface: properties and their
// notifications, the stored property set, painting, and the input state
// machine, driven as a user would through the scripted desktop.
#include "controls/ImageButton.h"
#include "framework/headless/platform.h"
#include "framework/portable/form.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace {

using controls::ImageButton;
using fw::headless::ControlRecord;
using fw::headless::DrawCall;
using Kind = fw::headless::DrawCall::Kind;

struct TestForm : fw::Form {
    TestForm() : Form(fw::FormLayout{"test", fw::Border::None, 300, 200}) {}
};

fw::PictureRef picture(int width, int height) {
    return std::make_shared<fw::Picture>(
        fw::Picture{width, height, std::vector<std::uint8_t>(std::size_t(width * height * 3))});
}

class ImageButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        form.Show();
        make();
    }
    void make(fw::Rect rect = {10, 10, 90, 34}) {
        btn = std::make_unique<ImageButton>(*form.peer(), rect, 0);
        rec = &p.controls.surfaces.back();
        p.pump(); // the first size and paint
        auto note = [this](const char* name) {
            log.push_back(std::string(name) + "@" + std::to_string(btn->state().drawState));
        };
        btn->MouseDown = [=](auto&, auto&, auto&, auto&) { note("MouseDown"); };
        btn->MouseUp = [=](auto&, auto&, auto&, auto&) { note("MouseUp"); };
        btn->KeyDown = [=](auto&, auto&) { note("KeyDown"); };
        btn->KeyUp = [=](auto&, auto&) { note("KeyUp"); };
        btn->Click = [=] { note("Click"); };
        btn->PropertyChanged = [this](const std::string& name) { announced.push_back(name); };
    }
    int drawState() const { return btn->state().drawState; }
    std::vector<Kind> kinds() const {
        std::vector<Kind> out;
        for (const auto& c : rec->lastPaint()) out.push_back(c.kind);
        return out;
    }
    std::vector<std::string> take() { return std::exchange(log, {}); }

    fw::headless::HeadlessPlatform p;
    TestForm form;
    std::unique_ptr<ImageButton> btn;
    ControlRecord* rec = nullptr;
    std::vector<std::string> log;
    std::vector<std::string> announced;
};

// --- properties and the stored property set ---------------------------------

TEST_F(ImageButtonTest, SettersAnnounceAndRepaintAsListed) {
    struct Case {
        const char* name;
        std::function<void(ImageButton&)> set;
        bool announces;
        bool repaints;
    };
    const Case cases[] = {
        {"Enabled", [](ImageButton& b) { b.setEnabled(false); }, true, true},
        {"ForeColor", [](ImageButton& b) { b.setForeColor(0xFF); }, true, true},
        {"BackColor", [](ImageButton& b) { b.setBackColor(0xFF00); }, true, true},
        {"Font", [](ImageButton& b) { b.setFont(std::make_shared<fw::Font>()); }, true, true},
        {"Picture", [](ImageButton& b) { b.setPicture(picture(4, 4)); }, true, true},
        {"HotPicture", [](ImageButton& b) { b.setHotPicture(picture(4, 4)); }, false, false},
        {"Value", [](ImageButton& b) { b.setValue("OK"); }, true, true},
        {"TextAlign", [](ImageButton& b) { b.setTextAlign(3); }, true, true},
        {"HasFocus", [](ImageButton& b) { b.setHasFocus(true); }, true, false},
        {"HasHandCursor", [](ImageButton& b) { b.setHasHandCursor(true); }, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        announced.clear();
        const auto paints = rec->paints.size();
        c.set(*btn);
        EXPECT_EQ(announced,
                  c.announces ? std::vector<std::string>{c.name} : std::vector<std::string>{});
        EXPECT_EQ(rec->paints.size() - paints, c.repaints ? 1u : 0u);
    }
    // The properties showed at once.
    EXPECT_EQ(rec->lastPaint()[0].colour, 0xFF00u);
    EXPECT_EQ(rec->last(Kind::Theme).at(0).state, 4);
    const DrawCall text = rec->last(Kind::Text).at(0);
    EXPECT_EQ(std::tuple(text.colour, text.font.face), std::tuple(0xFFu, ""));
    btn->setFont(nullptr); // the ambient one
    EXPECT_EQ(btn->Font(), p.controls.ambientFont);
    // Enabled gives 1 whatever the pointer and the focus say.
    btn->setEnabled(true);
    p.controls.moveTo(*rec, 5, 5);
    p.controls.setFocus(rec);
    EXPECT_EQ(drawState(), 5);
    btn->setEnabled(true);
    EXPECT_EQ(drawState(), 1);
}

TEST_F(ImageButtonTest, AnEmptyBagGivesTheDefaultsAndSavesBackToNothing) {
    btn->ImageButton_ReadProperties(fw::PropertyBag{});
    EXPECT_EQ(std::tuple(btn->Enabled(), btn->ForeColor(), btn->BackColor(), btn->Font()),
              std::tuple(true, p.controls.ambientForeColor, 0x8000000Fu, p.controls.ambientFont));
    EXPECT_EQ(std::tuple(btn->Picture(), btn->HotPicture(), btn->Value(), btn->TextAlign()),
              std::tuple(nullptr, nullptr, "", 0));
    EXPECT_EQ(std::tuple(btn->HasFocus(), btn->HasHandCursor(), drawState()),
              std::tuple(false, false, 1));
    EXPECT_EQ(announced, std::vector<std::string>{"Enabled"});

    fw::PropertyBag saved;
    saved.set("_extentx", 2381); // the container's own keys stay
    btn->ImageButton_WriteProperties(saved);
    ASSERT_EQ(saved.entries().size(), 1u);
}

TEST_F(ImageButtonTest, EnabledFalseRepaintsOnceBeforeTheOtherKeysAreRead) {
    fw::PropertyBag bag;
    bag.set("Enabled", fw::BagBool{0});
    bag.set("BackColor", 0x00123456);
    bag.set("Picture", picture(90, 34));
    bag.set("Value", std::string("caption"));
    const auto paints = rec->paints.size();
    btn->ImageButton_ReadProperties(bag);
    EXPECT_EQ(drawState(), 4);
    ASSERT_EQ(rec->paints.size(), paints + 1);
    // Drawn with the old back colour, no picture and no caption yet.
    const auto& paint = rec->lastPaint();
    ASSERT_EQ(paint.size(), 2u);
    EXPECT_EQ(paint[0].colour, 0x8000000Fu);
    EXPECT_EQ(paint[1].state, 4);
    EXPECT_EQ(btn->BackColor(), 0x00123456u);
}

TEST_F(ImageButtonTest, StoredKeysAreFoundInLowerCaseAndWrittenBackInOrder) {
    const auto pic = picture(26, 26), hot = picture(26, 26);
    const auto font = std::make_shared<fw::Font>(fw::Font{"宋体", 9, 400, 134});
    fw::PropertyBag lower; // none at its default
    lower.set("enabled", fw::BagBool{0});
    lower.set("forecolor", 0xFF);
    lower.set("backcolor", static_cast<std::int32_t>(0x8000000F));
    lower.set("font", font);
    lower.set("picture", pic);
    lower.set("hotpicture", hot);
    lower.set("value", std::string("v"));
    lower.set("textalign", 2);
    lower.set("hasfocus", fw::BagBool{-1});
    lower.set("hashandcursor", fw::BagBool{-1});
    form.setBackColor(0x00FFFFFF); // the window's, so that the stored one differs
    btn->ImageButton_ReadProperties(lower);
    EXPECT_EQ(std::tuple(btn->Enabled(), btn->ForeColor(), btn->BackColor(), btn->Font()),
              std::tuple(false, 0xFFu, 0x8000000Fu, font));
    EXPECT_EQ(std::tuple(btn->Picture(), btn->HotPicture(), btn->Value(), btn->TextAlign()),
              std::tuple(pic, hot, "v", 2));
    EXPECT_TRUE(btn->HasFocus() && btn->HasHandCursor());

    fw::PropertyBag saved;
    btn->ImageButton_WriteProperties(saved);
    std::vector<std::string> keys;
    for (const auto& e : saved.entries()) keys.push_back(e.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"Enabled", "ForeColor", "BackColor", "Font",
                                              "Picture", "HotPicture", "Value", "TextAlign",
                                              "HasFocus", "HasHandCursor"}));
    EXPECT_EQ(std::get<fw::BagBool>(*saved.find("hasfocus")).bits, -1);
    EXPECT_EQ(std::get<fw::BagBool>(*saved.find("Enabled")).bits, 0);
    // An equal font under another object is still the default.
    btn->setFont(std::make_shared<fw::Font>(*p.controls.ambientFont));
    btn->ImageButton_WriteProperties(saved);
    EXPECT_EQ(saved.find("Font"), nullptr);
}

TEST_F(ImageButtonTest, AWrongKindIsAnErrorAfterTheKeysBeforeIt) {
    fw::PropertyBag bag;
    bag.set("Enabled", fw::BagBool{0});
    bag.set("Picture", std::string("close.bmp"));
    EXPECT_THROW(ImageButton::checkPropertyKinds(bag), fw::PropertyKindError);
    EXPECT_EQ(drawState(), 1); // the check changes nothing
    EXPECT_THROW(btn->ImageButton_ReadProperties(bag), fw::PropertyKindError);
    EXPECT_FALSE(btn->Enabled());
}

// --- painting ---------------------------------------------------------------

TEST_F(ImageButtonTest, TextAlignPlacesThePictureRoundingHalvesToEven) {
    struct Case {
        int align;
        int clientW, clientH, picW, picH;
        int x, y;
        unsigned flags;
    };
    const Case cases[] = {
        {0, 90, 34, 90, 34, 0, 0, 0x26},  // the login window's wide buttons
        {1, 90, 34, 85, 10, 2, 24, 0x21}, // 2.5 -> 2
        {1, 90, 34, 87, 10, 2, 24, 0x21}, // 1.5 -> 2
        {1, 90, 34, 83, 10, 4, 24, 0x21}, // 3.5 -> 4
        {0, 90, 20, 10, 25, 0, -2, 0x26}, // -2.5 -> -2, clipped by the surface
        {4, 90, 20, 10, 25, 0, -2, 0x26}, {2, 90, 34, 80, 10, 5, 0, 0x29},
        {3, 90, 34, 20, 9, 70, 12, 0x24}, // 12.5 -> 12
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "TextAlign " << c.align << " picture " << c.picW << "x" << c.picH);
        p.controls.resize(*rec, {c.clientW, c.clientH});
        btn->setValue("OK");
        btn->setTextAlign(c.align);
        const auto pic = picture(c.picW, c.picH);
        btn->setPicture(pic);
        const auto drawn = rec->last(Kind::Picture);
        ASSERT_EQ(drawn.size(), 1u);
        EXPECT_EQ(drawn[0].rect, (fw::Bounds{c.x, c.y, c.x + c.picW, c.y + c.picH}));
        // Upright: from the picture's height upwards, HIMETRIC.
        const int w = pic->widthHimetric(), h = pic->heightHimetric();
        EXPECT_EQ(std::tuple(drawn[0].srcX, drawn[0].srcY, drawn[0].srcWidth, drawn[0].srcHeight),
                  std::tuple(0, h, w, -h));
        const auto text = rec->last(Kind::Text);
        ASSERT_EQ(text.size(), 1u);
        EXPECT_EQ(text[0].flags, c.flags);
        EXPECT_EQ(text[0].rect, (fw::Bounds{0, 0, c.clientW, c.clientH}));
    }
}

TEST_F(ImageButtonTest, WhatIsDrawnAndInWhichOrder) {
    btn->setValue("OK");
    // Unknown codes: the background and focus rectangle only.
    btn->setHasFocus(true);
    p.controls.setFocus(rec);
    btn->setPicture(picture(20, 20));
    for (int code : {5, -1}) {
        btn->setTextAlign(code);
        EXPECT_EQ(kinds(), (std::vector<Kind>{Kind::Fill, Kind::Theme, Kind::FocusRect}));
    }
    btn->setTextAlign(0);
    EXPECT_EQ(kinds(), (std::vector<Kind>{Kind::Fill, Kind::Theme, Kind::FocusRect, Kind::Picture,
                                          Kind::Text}));
    EXPECT_EQ(rec->last(Kind::FocusRect)[0].rect, (fw::Bounds{0, 0, 90, 34}));

    // No theme: everything else is still drawn.
    rec->theme = false;
    p.controls.paint(*rec);
    EXPECT_TRUE(rec->last(Kind::Theme).empty());
    EXPECT_EQ(rec->last(Kind::Picture).size(), 1u);

    // No picture: the caption is centred and the hot picture never shows.
    btn->setPicture(nullptr);
    btn->setHotPicture(picture(20, 20));
    p.controls.moveTo(*rec, 5, 5);
    EXPECT_EQ(drawState(), 2);
    EXPECT_TRUE(rec->last(Kind::Picture).empty());
    EXPECT_EQ(rec->last(Kind::Text).at(0).flags, 0x25u);
}

TEST_F(ImageButtonTest, TheHotPictureShowsOnlyInTheHotState) {
    const auto normal = picture(90, 34), hot = picture(90, 34), hot2 = picture(90, 34);
    btn->setPicture(normal);
    btn->setHotPicture(hot);
    auto shown = [&] { return rec->last(Kind::Picture).at(0).picture; };
    EXPECT_EQ(shown(), normal.get());
    p.controls.moveTo(*rec, 5, 5);
    EXPECT_EQ(shown(), hot.get());
    btn->setHotPicture(hot2); // not on screen before the next paint
    EXPECT_EQ(shown(), hot.get());
    p.controls.paint(*rec);
    EXPECT_EQ(shown(), hot2.get());
    p.controls.press(1);
    EXPECT_EQ(shown(), normal.get()); // pressed
}

TEST_F(ImageButtonTest, PlacementOutsideThe32BitRangeIsAnErrorForTheHost) {
    btn->setPicture(picture(10, 10));
    rec->clientBounds = fw::Bounds{INT_MIN + 5, 0, INT_MAX - 5, 34};
    EXPECT_THROW(p.controls.resize(*rec, {90, 34}), std::overflow_error);
    EXPECT_TRUE(rec->last(Kind::Picture).empty());
}

// --- keyboard, mouse and Click ------------------------------------------------

// Scripts of what the user does: "move X Y" (pixels of the button), "press B",
// "release B", "focus", "key K" (down and up), "down K"; "eat" makes the
// container clear Button in MouseUp.
TEST_F(ImageButtonTest, TheInputStateTable) {
    struct Case {
        const char* script;
        std::vector<std::string> events;
        int state;
    };
    const Case cases[] = {
        {"move 10 10 press 1 release 1", {"MouseDown@3", "MouseUp@3", "Click@5"}, 2},
        {"move 10 10 eat press 1 release 1", {"MouseDown@3", "MouseUp"}, 3},
        // The leave move comes through the capture and drops it: the release
        // outside never reaches the control.
        {"move 10 10 press 1 move 120 10 release 1", {"MouseDown@3"}, 1},
        {"move 10 10 press 1 move 120 10 move 10 10 release 1",
         {"MouseDown@3", "MouseUp@2", "Click@5"},
         2},
        {"move 10 10 press 2 release 2", {"MouseDown@2", "MouseUp@2"}, 2},
        {"move 200 10 focus key 32 key 13 down 65",
         {"KeyDown@3", "KeyUp@5", "KeyDown@3", "KeyUp@5", "KeyDown@5"},
         5},
        // Strictly inside for moves, edges included for the cursor test.
        {"move 5 5 move 0 5", {}, 1},
        {"move 5 5 move 0 5 focus key 32", {"KeyDown@3", "KeyUp@2"}, 2},
        {"move 10 10 focus move 11 10", {}, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        make(); // a fresh button, the pointer at its last place
        p.controls.moveTo(*rec, 300, 300);
        std::istringstream in(c.script);
        std::string op;
        float x = 0, y = 0;
        std::int16_t n = 0;
        while (in >> op) {
            if (op == "move" && in >> x >> y) p.controls.moveTo(*rec, x, y);
            if (op == "press" && in >> n) p.controls.press(n);
            if (op == "release" && in >> n) p.controls.release(n);
            if (op == "focus") p.controls.setFocus(rec);
            if (op == "key" && in >> n) p.controls.keyDown(n), p.controls.keyUp(n);
            if (op == "down" && in >> n) p.controls.keyDown(n);
            if (op == "eat")
                btn->MouseUp = [this](std::int16_t& b, auto&, auto&, auto&) {
                    log.push_back("MouseUp");
                    b = 0;
                };
        }
        EXPECT_EQ(take(), c.events);
        EXPECT_EQ(drawState(), c.state);
        EXPECT_EQ(p.controls.capture == rec, btn->state().mouseInside);
    }
}

TEST_F(ImageButtonTest, FocusIsHiddenDuringClickAndRestoredAfterIt) {
    btn->setHasFocus(true);
    p.controls.moveTo(*rec, 10, 10);
    p.controls.setFocus(rec);
    EXPECT_EQ(drawState(), 5); // focus gained over the control
    const auto paints = rec->paints.size();
    p.controls.moveTo(*rec, 11, 10);
    EXPECT_EQ(rec->paints.size(), paints); // still inside: no repaint
    btn->Click = [&] {
        p.controls.paint(*rec);
        EXPECT_EQ(rec->last(Kind::Theme).at(0).state, 5);
        EXPECT_TRUE(rec->last(Kind::FocusRect).empty());
        p.controls.setFocus(nullptr); // the container moves the focus away
        log.push_back("Click");
    };
    p.controls.press(1);
    p.controls.release(1);
    EXPECT_EQ(take(), (std::vector<std::string>{"MouseDown@3", "MouseUp@3", "Click"}));
    EXPECT_TRUE(btn->state().focused); // overrides the focus loss during Click
    EXPECT_EQ(drawState(), 2);
    p.controls.moveTo(*rec, 200, 10);
    EXPECT_EQ(drawState(), 5);
}

TEST_F(ImageButtonTest, TheHandCursorOnlyWhenAskedFor) {
    p.controls.moveTo(*rec, 10, 10);
    p.controls.moveTo(*rec, 200, 10);
    EXPECT_TRUE(rec->cursors.empty());
    btn->setHasHandCursor(true);
    p.controls.moveTo(*rec, 10, 10);
    p.controls.moveTo(*rec, 200, 10);
    btn.reset();
    EXPECT_EQ(rec->cursors,
              (std::vector<fw::Cursor>{fw::Cursor::Hand, fw::Cursor::Arrow, fw::Cursor::Arrow}));
}

TEST_F(ImageButtonTest, AClickHandlerMayDestroyTheButton) {
    btn->Click = [this] { btn.reset(); };
    p.controls.moveTo(*rec, 10, 10);
    p.controls.press(1);
    const auto paints = rec->paints.size();
    p.controls.release(1);
    EXPECT_TRUE(rec->destroyed);
    EXPECT_EQ(rec->paints.size(), paints + 1); // the click look only
}

} // namespace
