// Stored layouts: the 24-bit bitmap decoder and the layout parser on good and
// malformed input, and the login window's real layout restoring its buttons.
#include "controls/StoredLayout.h"
#include "framework/headless/platform.h"
#include "framework/portable/bmp.h"
#include "framework/portable/form.h"
#include "framework/portable/layout.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <tuple>

namespace {

using Bytes = std::vector<std::uint8_t>;

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A w x h 24-bit file whose pixel (x, y) is (x, y, 7) as blue, green, red.
Bytes bmpFile(int w, int h, bool topDown = false) {
    const std::size_t stride = (std::size_t(w) * 3 + 3) & ~std::size_t{3};
    Bytes b(54 + stride * h);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, std::uint32_t(b.size()));
    put32(b, 10, 54);
    put32(b, 14, 40);
    put32(b, 18, std::uint32_t(w));
    put32(b, 22, std::uint32_t(topDown ? -h : h));
    b[26] = 1;
    b[28] = 24;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::size_t row = topDown ? y : h - 1 - y;
            const std::size_t at = 54 + row * stride + x * 3;
            b[at] = std::uint8_t(x), b[at + 1] = std::uint8_t(y), b[at + 2] = 7;
        }
    return b;
}

TEST(Bmp, DecodesBottomUpAndTopDownRowsWithoutTheirPadding) {
    for (bool topDown : {false, true}) {
        const fw::Picture p = fw::decodeBmp(bmpFile(3, 2, topDown)); // rows padded to 12
        EXPECT_EQ(p.width, 3);
        EXPECT_EQ(p.height, 2);
        EXPECT_EQ(p.bgr, (Bytes{0, 0, 7, 1, 0, 7, 2, 0, 7, 0, 1, 7, 1, 1, 7, 2, 1, 7}));
    }
}

TEST(Bmp, RefusesMalformedAndTruncatedFiles) {
    struct Case {
        const char* why;
        std::function<void(Bytes&)> spoil;
    };
    const Case cases[] = {
        {"too short", [](Bytes& b) { b.resize(17); }},
        {"\"BM\"", [](Bytes& b) { b[1] = 'A'; }},
        {"header of 12", [](Bytes& b) { put32(b, 14, 12); }},
        {"truncated header", [](Bytes& b) { b.resize(40); }},
        {"2 planes", [](Bytes& b) { b[26] = 2; }},
        {"32 bits", [](Bytes& b) { b[28] = 32; }},
        {"compression method 1", [](Bytes& b) { b[30] = 1; }},
        {"out of range", [](Bytes& b) { put32(b, 18, 0); }},
        {"out of range", [](Bytes& b) { put32(b, 22, 0); }},
        {"out of range", [](Bytes& b) { put32(b, 22, 0x80000000); }},
        {"out of range", [](Bytes& b) { put32(b, 18, 20000); }},
        {"offset 20", [](Bytes& b) { put32(b, 10, 20); }},
        {"offset 99999", [](Bytes& b) { put32(b, 10, 99999); }},
        {"truncated pixel data (24 bytes expected, 23", [](Bytes& b) { b.pop_back(); }},
    };
    for (const auto& c : cases) {
        Bytes b = bmpFile(3, 2);
        c.spoil(b);
        try {
            fw::decodeBmp(b);
            ADD_FAILURE() << c.why << ": accepted";
        } catch (const fw::BmpError& e) {
            EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << e.what();
        }
    }
}

// --- the layout parser ----------------------------------------------------------

const auto kPicture = std::make_shared<const fw::Picture>(fw::decodeBmp(bmpFile(2, 2)));

fw::Layout parse(const std::string& text) {
    return fw::parseLayout(text, [](int id) -> fw::PictureRef {
        if (id == 1) return kPicture;
        if (id == 2) return std::make_shared<fw::Picture>(fw::decodeBmp(Bytes(30)));
        throw std::runtime_error("resource not found");
    });
}

TEST(LayoutParser, ReadsEveryKindOfLineAndValue) {
    const auto l = parse("\xEF\xBB\xBF# comment\r\n"
                         "layout 1\r\n"
                         "control frame PictureBox\r\n"
                         "  rect 1 2 3 4\r\n"
                         "\r\n"
                         "control btn ImageButton\n"
                         "index 3\n"
                         "container frame\n"
                         "rect -5 -5 750 450\n"
                         "tabindex 8\n"
                         "Enabled = false\n"
                         "backcolor=0x8000000F\n"
                         "TextAlign = -1\n"
                         "Value = \"a \\\"#\\\" \\\\ 版本\"\n"
                         "Font = font(\"宋体\", 10.5, 700, 134, italic)\n"
                         "Picture = bmp(1)\n"
                         "control tick Timer\n"
                         "interval = 10");
    ASSERT_TRUE(l.errors.empty()) << l.errors[0];
    ASSERT_EQ(l.controls.size(), 3u);
    EXPECT_EQ(l.find("btn"), nullptr); // a group member is found by its index
    const auto& b = *l.find("btn", 3);
    EXPECT_EQ(b.line, 6);
    EXPECT_EQ(b.container, "frame");
    EXPECT_EQ(b.rect->left, -5);
    EXPECT_EQ(b.rect->height, 450);
    EXPECT_EQ(b.tabIndex, 8);
    const auto& bag = b.properties;
    EXPECT_FALSE(bag.readBool("enabled", true));
    EXPECT_EQ(bag.readInt("BackColor", 0), static_cast<std::int32_t>(0x8000000F));
    EXPECT_EQ(bag.readInt("TextAlign", 0), -1);
    EXPECT_EQ(bag.readString("Value", ""), "a \"#\" \\ 版本");
    const auto font = bag.readFont("Font", nullptr);
    EXPECT_EQ(font->face, "宋体");
    EXPECT_EQ(font->size, 10.5);
    EXPECT_EQ(font->weight, 700);
    EXPECT_EQ(font->charset, 134);
    EXPECT_TRUE(font->italic);
    EXPECT_EQ(bag.readPicture("Picture", nullptr), kPicture);
    EXPECT_FALSE(l.find("tick")->rect.has_value());
}

TEST(LayoutParser, RefusesAMalformedFileWhole) {
    const std::string good = "control good Label\nrect 0 0 1 1\n";
    const std::pair<std::string, std::string> cases[] = {
        {"", "line 1: empty layout"},
        {"# only\n\n", "line 3: empty layout"},
        {"layout 2\n" + good, "line 1: layout version 2 is not supported"},
        {"\nlayuot 1\n" + good, "line 2: expected \"layout\""},
        {"layout 1 x\n" + good, "line 1: unexpected \"x\""},
        {"layout 1\nrect 1 2 3 4\n" + good, "line 2: expected \"control\""},
        {"layout 1\n" + good + "tabindex 1 \xC3\x28\n", "line 4: not UTF-8"},
        {"layout 1\n" + good + "tabindex 1 \xED\xA0\x80\n", "line 4: not UTF-8"},
        {"layout 1\n" + good + "\x01\n", "line 4: control character"},
    };
    for (const auto& [text, error] : cases) {
        const auto l = parse(text);
        EXPECT_TRUE(l.controls.empty()) << error;
        ASSERT_EQ(l.errors.size(), 1u) << error;
        EXPECT_EQ(l.errors[0].substr(0, error.size()), error);
    }
}

TEST(LayoutParser, RefusesAMalformedEntryAlone) {
    const std::pair<std::string, std::string> cases[] = {
        {"control bad Button\nrect 0 0 1 1", "line 2: unknown control kind \"Button\""},
        {"control 9bad ImageButton", "line 2: expected a control name"},
        {"control bad ImageButton\nrect 1 2 x 4", "line 3: expected width"},
        {"control bad ImageButton\nrect 1 2 -3 4", "line 3: width -3 out of range"},
        {"control bad ImageButton", "line 2: control \"bad\" has no rect"},
        {"control bad ImageButton\nrect 0 0 1 1\nrect 0 0 1 1", "line 4: \"rect\" given twice"},
        {"control bad ImageButton\nrect 0 0 1 1\ntabindex 99999", "line 4: tab index 99999 out"},
        {"control bad ImageButton\nPicture = bmp(1)\npicture = bmp(1)",
         "line 4: property \"picture\" given twice"},
        {"control bad ImageButton\nValue = \"open", "line 3: string without its closing quote"},
        {"control bad ImageButton\nValue = \"a\\qb\"", "line 3: unknown escape \"\\q\""},
        {"control bad ImageButton\nTextAlign = 2147483648", "line 3: expected a value"},
        {"control bad ImageButton\nBackColor = 0x100000000", "line 3: expected a value"},
        {"control bad ImageButton\nTextAlign = 1.5", "line 3: unexpected \".5\""},
        {"control bad ImageButton\nEnabled = yes", "line 3: unknown value \"yes\""},
        {"control bad ImageButton\nEnabled =", "line 3: missing value"},
        {"control bad ImageButton\nFont = font(\"\", 9, 400, 134)", "line 3: font face is empty"},
        {"control bad ImageButton\nFont = font(\"a\", 9, 400, 256)", "line 3: character set 256"},
        {"control bad ImageButton\nFont = font(\"a\", 9, 400, 1, bold)",
         "line 3: unknown font style \"bold\""},
        {"control bad ImageButton\nFont = font(\"a\", 9, 400)", "line 3: expected \",\""},
        {"control bad ImageButton\nPicture = bmp(7)", "line 3: bmp(7): resource not found"},
        {"control bad ImageButton\nPicture = bmp(2)", "line 3: bmp(2): bitmap: no \"BM\""},
        {"control bad ImageButton\ncontainer nowhere", "line 3: container \"nowhere\" not"},
        {"control good Label\nrect 0 0 1 1", "line 4: control \"good\" given twice"},
    };
    for (const auto& [entry, error] : cases) {
        const auto l = parse("layout 1\n" + entry + "\ncontrol good Label\nrect 0 0 1 1\n");
        ASSERT_EQ(l.errors.size(), 1u) << error;
        EXPECT_EQ(l.errors[0].substr(0, error.size()), error);
        // The entry is refused, the one after it stands.
        ASSERT_EQ(l.controls.size(), 1u) << error;
        EXPECT_EQ(l.controls[0].name, "good");
        EXPECT_EQ(l.controls[0].properties.entries().size(), 0u);
    }
}

// --- restoring buttons ------------------------------------------------------------

struct TestForm : fw::Form {
    TestForm() : Form(fw::FormLayout{"test", fw::Border::None, 757, 563}) {}
};

class StoredButtons : public ::testing::Test {
protected:
    void SetUp() override { form.Show(); }
    fw::headless::HeadlessPlatform p;
    TestForm form;
};

TEST_F(StoredButtons, TheLoginLayoutRestoresItsSixButtons) {
    fw::Layout layout = controls::loadLayout(controls::kLoginLayoutId);
    struct Expect {
        const char* name;
        std::optional<int> index;
        fw::Rect rect;
        int tabIndex;
        bool buttonFace;
    };
    const Expect table[] = {
        {"btnClose", {}, {720, 16, 26, 26}, 2, true},
        {"btnMini", {}, {692, 19, 23, 23}, 1, true},
        {"btnHome", {}, {65, 55, 90, 34}, 3, false},
        {"btnCharge", 1, {165, 55, 90, 34}, 4, false},
        {"btnService", 2, {552, 55, 90, 34}, 5, false},
        {"btnForum", 0, {652, 55, 90, 34}, 0, false},
    };
    form.setBackColor(0x00FF0000); // the login window's colour key
    std::vector<std::unique_ptr<controls::ImageButton>> buttons;
    for (const auto& e : table) {
        SCOPED_TRACE(e.name);
        auto b = controls::createImageButton(*form.peer(), layout, e.name, e.index);
        const auto& rec = p.controls.surfaces.back();
        const auto& r = rec.rect;
        EXPECT_EQ(std::tuple(r.left, r.top, r.width, r.height, rec.tabIndex),
                  std::tuple(e.rect.left, e.rect.top, e.rect.width, e.rect.height, e.tabIndex));
        ASSERT_TRUE(b->Picture() && b->HotPicture());
        EXPECT_EQ(std::tuple(b->Picture()->width, b->Picture()->height, b->HotPicture()->width),
                  std::tuple(r.width, r.height, r.width));
        EXPECT_NE(b->HotPicture()->bgr, b->Picture()->bgr);
        EXPECT_EQ(b->BackColor(), e.buttonFace ? 0x8000000Fu : 0x00FF0000u);
        const auto& f = *b->Font();
        EXPECT_EQ(std::tuple(f.face, f.size, f.weight, f.charset),
                  std::tuple("宋体", 9.0, 400, 134));
        EXPECT_TRUE(b->Enabled() && !b->HasHandCursor() && b->Value().empty());
        const auto& bag = layout.find(e.name, e.index)->properties;
        EXPECT_EQ(std::tuple(bag.readInt("_extentx", 0), bag.readInt("_extenty", 0)),
                  std::tuple(fw::Picture::toHimetric(r.width), fw::Picture::toHimetric(r.height)));
        buttons.push_back(std::move(b));
    }
    EXPECT_TRUE(layout.errors.empty()) << layout.errors[0];
    EXPECT_EQ(layout.controls.size(), 10u); // nine with rectangles, and the timer

    // The restored pictures are what is drawn: full size at the corner.
    p.pump();
    auto& forum = p.controls.surfaces.back();
    int clicks = 0;
    buttons.back()->Click = [&] { ++clicks; };
    p.controls.moveTo(forum, 45, 17);
    EXPECT_EQ(forum.last(fw::headless::DrawCall::Kind::Picture).at(0).rect,
              (fw::Bounds{0, 0, 90, 34}));
    EXPECT_EQ(forum.last(fw::headless::DrawCall::Kind::Picture).at(0).picture,
              buttons.back()->HotPicture().get());
    p.controls.press(1);
    p.controls.release(1);
    EXPECT_EQ(clicks, 1);
}

TEST_F(StoredButtons, WhatCannotBeRestoredKeepsTheDefaults) {
    fw::Layout layout = parse("layout 1\n"
                              "control wrongKind ImageButton\nrect 1 2 3 4\ntabindex 5\n"
                              "Enabled = false\npicture = \"close.bmp\"\n"
                              "control frame PictureBox\nrect 1 2 3 4\n");
    for (const char* name : {"wrongKind", "frame", "missing"}) {
        SCOPED_TRACE(name);
        auto b = controls::createImageButton(*form.peer(), layout, name);
        EXPECT_TRUE(b->Enabled());
        EXPECT_EQ(b->Picture(), nullptr);
        EXPECT_EQ(b->state().drawState, 1);
    }
    ASSERT_EQ(layout.errors.size(), 3u);
    EXPECT_EQ(layout.errors[0], "wrongKind (line 2): property \"picture\" holds a string, not a "
                                "picture; it keeps its defaults");
    EXPECT_EQ(p.controls.surfaces[0].rect.left, 1); // placed all the same
    EXPECT_EQ(layout.errors[1], "frame: stored as a PictureBox, not an ImageButton; it keeps its "
                                "defaults");
    EXPECT_EQ(p.controls.surfaces[2].rect.width, 0);

    // A missing resource.
    const fw::Layout none = controls::loadLayout(999);
    EXPECT_TRUE(none.controls.empty());
    EXPECT_EQ(none.errors.at(0).rfind("layout 999: ", 0), 0u);
}

} // namespace
