#include "imaging/LayeredWindows.h"
#include "test_support.h"

#include <cairo.h>

#include <cmath>
#include <set>

namespace {

using fw::headless::ArgbPixels;
using fw::headless::WindowRecord;
using testsupport::LauncherTest;

constexpr std::pair<int, const char*> kBackground{imaging::kBackgroundId, imaging::kBackgroundType};

// Every pixel a palette PNG can decode to, premultiplied: each entry of its
// PLTE with the alpha its tRNS gives (255 past the end).
std::set<std::uint32_t> paletteColours(const std::vector<std::uint8_t>& png) {
    std::vector<std::uint8_t> plte, trns;
    for (std::size_t at = 8; at + 8 <= png.size();) {
        const std::size_t len = std::size_t{png[at]} << 24 | std::size_t{png[at + 1]} << 16 |
                                std::size_t{png[at + 2]} << 8 | png[at + 3];
        const std::string type(png.begin() + at + 4, png.begin() + at + 8);
        const auto data = png.begin() + at + 8;
        if (type == "PLTE") plte.assign(data, data + len);
        if (type == "tRNS") trns.assign(data, data + len);
        at += 12 + len;
    }
    std::set<std::uint32_t> out;
    for (std::size_t i = 0; i * 3 + 2 < plte.size(); ++i) {
        const unsigned a = i < trns.size() ? trns[i] : 255;
        auto pre = [a](unsigned c) {
            return static_cast<std::uint32_t>(std::lround(c * a / 255.0));
        };
        out.insert(a << 24 | pre(plte[i * 3]) << 16 | pre(plte[i * 3 + 1]) << 8 |
                   pre(plte[i * 3 + 2]));
    }
    return out;
}

// A 2 x 2 PNG: opaque red, opaque green / blue at alpha 0x80, transparent.
std::vector<std::uint8_t> quadrantsPng() {
    std::uint32_t px[4] = {0xFFFF0000u, 0xFF00FF00u, 0x80000080u, 0};
    cairo_surface_t* s = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(px),
                                                             CAIRO_FORMAT_ARGB32, 2, 2, 8);
    std::vector<std::uint8_t> out;
    cairo_surface_write_to_png_stream(
        s,
        [](void* closure, const unsigned char* data, unsigned int length) {
            auto* v = static_cast<std::vector<std::uint8_t>*>(closure);
            v->insert(v->end(), data, data + length);
            return CAIRO_STATUS_SUCCESS;
        },
        &out);
    cairo_surface_destroy(s);
    return out;
}

fw::FormLayout scaledLayout(double width, double height) {
    fw::FormLayout l;
    l.clientWidth = 40;
    l.clientHeight = 30;
    l.scaleWidth = width;
    l.scaleHeight = height;
    return l;
}

// A small window that takes the background picture at its user scale.
struct ScaledForm : fw::Form {
    ScaledForm(double width, double height) : Form(scaledLayout(width, height)) {}
    void Form_Load() override { imaging::updateLayeredBackground(*this); }
};

class Imaging : public LauncherTest {
protected:
    void start() {
        writeConfig(validConfig());
        ASSERT_FALSE(runMain());
    }
    const ArgbPixels& face(fw::Form& form) { return *record(form).imaging.face; }
};

TEST_F(Imaging, BackgroundShowsTheResourcePixelForPixelPremultiplied) {
    start();
    auto& back = record(*app::backForm);
    ASSERT_TRUE(back.imaging.layered);
    ASSERT_TRUE(back.imaging.face.has_value());
    const ArgbPixels& f = *back.imaging.face;
    EXPECT_EQ(f.size.width, 1039);
    EXPECT_EQ(f.size.height, 652);
    EXPECT_EQ(back.client.width, 1039);
    EXPECT_EQ(back.client.height, 652);
    EXPECT_EQ(f.at(0, 0), 0u);                  // the surroundings are see-through
    EXPECT_EQ(f.at(650, 400) >> 24, 0xFFu);     // the panel's inner area is opaque
    EXPECT_EQ(p.imagingStarts, p.imagingStops); // the decoder runs only while drawing

    // Decoded as the file says, unstretched and unfiltered: every pixel is a
    // palette entry with its alpha, premultiplied. About a quarter of the
    // picture is see-through, most of it opaque, with soft edges between.
    const auto palette = paletteColours(p.resource(kBackground.first, kBackground.second));
    double clear = 0, opaque = 0, partial = 0;
    std::size_t strangers = 0;
    for (std::uint32_t px : f.pixels) {
        const std::uint32_t a = px >> 24;
        (a == 0 ? clear : a == 255 ? opaque : partial) += 1;
        if (!palette.count(px)) ++strangers;
    }
    EXPECT_EQ(strangers, 0u);
    const double n = static_cast<double>(f.pixels.size());
    EXPECT_GT(clear / n, 0.15);
    EXPECT_LT(clear / n, 0.35);
    EXPECT_GT(opaque / n, 0.60);
    EXPECT_GT(partial / n, 0.005);
}

TEST_F(Imaging, AnotherScaleSizeGetsThePictureStretchedToWholePixels) {
    p.resourceBytes[kBackground] = quadrantsPng();
    ScaledForm small(10.5, 11.5); // halves to even: 10 x 12
    small.Show();
    const ArgbPixels& f = face(small);
    ASSERT_EQ(f.size.width, 10);
    ASSERT_EQ(f.size.height, 12);
    EXPECT_EQ(record(small).client.width, 10);
    EXPECT_EQ(f.at(0, 0), 0xFFFF0000u);
    EXPECT_EQ(f.at(9, 0), 0xFF00FF00u);
    EXPECT_EQ(f.at(0, 11), 0x80000080u);
    EXPECT_EQ(f.at(9, 11), 0u);
    EXPECT_EQ(f.at(2, 2), 0xFFFF0000u); // away from the seams, each quadrant as it is
    EXPECT_EQ(f.at(8, 9), 0u);

    // Sizes whose surface cannot be counted in 32 bits stop the load.
    ScaledForm huge(40000, 15000); // 6e8 pixels fit, their 2.4e9 bytes do not
    EXPECT_THROW(huge.Show(), std::overflow_error);
    EXPECT_FALSE(record(huge).imaging.face.has_value());
}

TEST_F(Imaging, UndecodableDataLeavesAnInvisibleWindowAndNoMessage) {
    p.resourceBytes[kBackground] = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'};
    start();
    EXPECT_TRUE(p.messageBoxes.empty());
    const ArgbPixels& f = face(*app::backForm);
    EXPECT_EQ(f.size.width, 1039);
    EXPECT_EQ(f.size.height, 652);
    EXPECT_EQ(std::count(f.pixels.begin(), f.pixels.end(), 0u),
              static_cast<std::ptrdiff_t>(f.pixels.size()));
    EXPECT_TRUE(record(*app::loginForm).visible);

    // No bytes at all is an error for the caller, not a blank picture.
    testsupport::forgetWindows();
    p.resourceBytes[kBackground] = {};
    EXPECT_THROW(app::Main(), std::out_of_range);
}

TEST_F(Imaging, DecoderStartFailureSaysSoAndEndsBeforeAnythingIsLayered) {
    p.imagingStartStatus = 1;
    p.answers = {fw::kIdOk};
    writeConfig(validConfig());
    EXPECT_TRUE(runMain());
    ASSERT_EQ(p.messageBoxes.size(), 1u);
    EXPECT_EQ(p.messageBoxes[0].text, "GDI+ 初始化错误。程序即将关闭。");
    EXPECT_EQ(p.messageBoxes[0].title, "InitError");
    EXPECT_EQ(p.messageBoxes[0].style, fw::kOkOnly | fw::kCritical);
    EXPECT_TRUE(p.ended);
    EXPECT_EQ(app::loginForm, nullptr);
    for (const WindowRecord& w : p.windows()) {
        EXPECT_TRUE(w.destroyed);
        EXPECT_FALSE(w.imaging.layered);
        EXPECT_FALSE(w.imaging.face.has_value());
    }
}

TEST_F(Imaging, LoginWindowKeysOutExactlyPureBlue) {
    start();
    auto& login = record(*app::loginForm);
    EXPECT_TRUE(login.imaging.layered);
    ASSERT_TRUE(login.imaging.colorKey.has_value());
    EXPECT_EQ(login.imaging.colorKey->colour, 0x00FF0000u);
    EXPECT_EQ(login.imaging.colorKey->alpha, 255);
    EXPECT_EQ(login.imaging.colorKey->flags, fw::kLwaColorKey | fw::kLwaAlpha);
    EXPECT_EQ(app::loginForm->BackColor(), 0x00FF0000u);

    auto allEqual = [](const ArgbPixels& f, std::uint32_t px) {
        return f.size.width == 757 && f.size.height == 563 &&
               std::all_of(f.pixels.begin(), f.pixels.end(), [px](auto q) { return q == px; });
    };
    EXPECT_TRUE(allEqual(p.ownFace(login), 0u));
    // One step away from the key (blue 254) shows, fully opaque.
    app::loginForm->setBackColor(0x00FE0000);
    EXPECT_TRUE(allEqual(p.ownFace(login), 0xFF0000FEu));
}

} // namespace
