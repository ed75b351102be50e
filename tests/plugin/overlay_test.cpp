// What the host sees of the track overlay and the help panel: the quads'
// edges on a 700-pixel-high canvas with and without cover art, the fade on
// the virtual clock, and the help panel's square. Frames are read from the
// offscreen port after each render message.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "MacMemory.h"
#include "lv/text.h"
#include "test_host.h"

using lvhost::TestHost;
using lvhost::runIsolated;
using lvtest::RGBA;

namespace {

constexpr int kWidth = 1120;
constexpr int kHeight = 700;

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    void add(int x, int y) {
        left = std::min(left, x), top = std::min(top, y), right = std::max(right, x), bottom = std::max(bottom, y);
    }
};

bool white(RGBA p) { return p.r > 200 && p.g > 200 && p.b > 200; }
bool green(RGBA p) { return p.g > 200 && p.r < 60 && p.b < 60; }

// Where the name texture's text is opaque, laid out as the plug-in lays it:
// "GillSans" 18 at x 1, baselines 18, 36, 54 rows from the top of 512 x 128.
Box nameInk(const std::u16string& name, const std::u16string& artist, const std::u16string& album) {
    std::vector<unsigned char> rgba(512 * 128 * 4, 0);
    lvtext::TextStyle style;
    style.family = "GillSans";
    style.pixelSize = 18;
    lvtext::drawTextLine(rgba.data(), 512, 128, 512 * 4, 1, 18, album.data(), album.size(), style);
    lvtext::drawTextLine(rgba.data(), 512, 128, 512 * 4, 1, 36, artist.data(), artist.size(), style);
    lvtext::drawTextLine(rgba.data(), 512, 128, 512 * 4, 1, 54, name.data(), name.size(), style);
    Box b;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 512; ++x)
            if (rgba[(size_t(y) * 512 + x) * 4 + 3] > 250) b.add(x, y);
    return b;
}

// The white text in the frame's lower left, left of `maxX`.
Box frameInk(const TestHost& host, int fromX, int toX) {
    Box b;
    for (int y = kHeight - 120; y < kHeight; ++y)
        for (int x = fromX; x < toX; ++x)
            if (white(host.canvasPixel(x, y))) b.add(x, y);
    return b;
}

void startWithTrack(TestHost& host, bool cover) {
    unsetenv("DISPLAY");
    host.init();
    if (cover) {
        host.mCoverBytes = lvtest::makePNG(64, 64, [](int, int) { return RGBA{0, 255, 0, 255}; });
        host.mCoverFormat = kCoverArtPNG;
    }
    ASSERT_EQ(host.show(kWidth, kHeight), noErr);
    host.advanceMillis(17);
    host.render();
    host.play(lvhost::makeTrack(u"Track Name", u"Artist", u"Album"));
    host.advanceMillis(17);
    host.render();
}

}  // namespace

TEST(Overlay, CoverAndNameSitInTheLowerLeft) {
    runIsolated([] {
        TestHost host;
        ASSERT_TRUE(host.loaded());
        startWithTrack(host, true);
        host.writeCanvasPNG("plugin_overlay_cover.png");
        // Cover: 64 x 64 from (20, 616) to (84, 680).
        EXPECT_TRUE(green(host.canvasPixel(20, 616)));
        EXPECT_TRUE(green(host.canvasPixel(83, 616)));
        EXPECT_TRUE(green(host.canvasPixel(20, 679)));
        EXPECT_TRUE(green(host.canvasPixel(83, 679)));
        EXPECT_FALSE(green(host.canvasPixel(19, 640)));
        EXPECT_FALSE(green(host.canvasPixel(84, 640)));
        EXPECT_FALSE(green(host.canvasPixel(50, 615)));
        EXPECT_FALSE(green(host.canvasPixel(50, 680)));

        // Name: the texture's quad at (94, 619).
        const Box want = nameInk(u"Track Name", u"Artist", u"Album");
        const Box got = frameInk(host, 85, kWidth);
        ASSERT_GE(got.right, 0) << "no name drawn";
        EXPECT_NEAR(got.left, 94 + want.left, 1);
        EXPECT_NEAR(got.top, 619 + want.top, 1);
        EXPECT_NEAR(got.right, 94 + want.right, 1);
        EXPECT_NEAR(got.bottom, 619 + want.bottom, 1);

        // The pass leaves every stack as it found it, in model-view mode.
        GLint depth = -1, mode = 0;
        for (GLenum stack : {GL_MODELVIEW_STACK_DEPTH, GL_PROJECTION_STACK_DEPTH, GL_TEXTURE_STACK_DEPTH}) {
            glGetIntegerv(stack, &depth);
            EXPECT_EQ(depth, 1) << std::hex << stack;
        }
        glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &depth);
        EXPECT_EQ(depth, 0);
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        EXPECT_EQ(mode, GL_MODELVIEW);
    });
}

TEST(Overlay, WithoutCoverTheNameMovesToTheEdge) {
    runIsolated([] {
        TestHost host;
        ASSERT_TRUE(host.loaded());
        startWithTrack(host, false);
        EXPECT_EQ(host.mCoverArtCount, 1);
        host.writeCanvasPNG("plugin_overlay_no_cover.png");
        const Box want = nameInk(u"Track Name", u"Artist", u"Album");
        const Box got = frameInk(host, 0, kWidth);
        ASSERT_GE(got.right, 0) << "no name drawn";
        EXPECT_NEAR(got.left, 20 + want.left, 1);
        EXPECT_NEAR(got.top, 626 + want.top, 1);
        EXPECT_NEAR(got.bottom, 626 + want.bottom, 1);
    });
}

TEST(Overlay, FadesOverItsLastTwoSeconds) {
    runIsolated([] {
        TestHost host;
        ASSERT_TRUE(host.loaded());
        unsetenv("DISPLAY");
        host.init();
        // Left half white, right half black: their difference in the frame is
        // the cover's opacity, whatever lies behind.
        host.mCoverBytes = lvtest::makePNG(64, 64, [](int x, int) {
            return x < 32 ? RGBA{255, 255, 255, 255} : RGBA{0, 0, 0, 255};
        });
        host.mCoverFormat = kCoverArtPNG;
        ASSERT_EQ(host.show(kWidth, kHeight), noErr);
        for (int i = 0; i < 3; ++i) {
            host.advanceMillis(17);
            host.render();
        }
        host.changeTrack(lvhost::makeTrack(u"Fading", u"Out", u"Slowly"));
        auto opacity = [&] {
            const int y = kHeight - 84 + 32;
            return (host.canvasPixel(36, y).g - host.canvasPixel(68, y).g) / 255.0;
        };
        const std::pair<long long, double> steps[] = {{3000, 0.9}, {1000, 0.45}, {1000, 0.0}, {1, 0.0}};
        for (auto [advance, want] : steps) {
            host.advanceMillis(advance);
            ASSERT_EQ(host.render(), noErr);
            EXPECT_NEAR(opacity(), want, 0.015) << "after another " << advance << " ms";
        }
    });
}

TEST(Overlay, HelpPanelCoversItsSquare) {
    runIsolated([] {
        TestHost host;
        ASSERT_TRUE(host.loaded());
        unsetenv("DISPLAY");
        host.init();
        ASSERT_EQ(host.show(640, 480), noErr);
        // Let the background settle on its colour first.
        for (int i = 0; i < 150; ++i) {
            host.advanceMillis(17);
            host.render();
        }
        const std::vector<uint8_t> before = host.canvasPixels();
        host.key('/');
        host.advanceMillis(17);
        host.render();
        host.writeCanvasPNG("plugin_help_panel.png");
        auto changed = [&](int x, int y) {
            const uint8_t* b = &before[(size_t(y) * 640 + x) * 4];
            const RGBA p = host.canvasPixel(x, y);
            return std::abs(p.r - b[0]) + std::abs(p.g - b[1]) + std::abs(p.b - b[2]) > 6;
        };
        for (int v : {10, 100, 200, 265}) {
            EXPECT_TRUE(changed(v, 10)) << v << ", 10";
            EXPECT_TRUE(changed(10, v)) << "10, " << v;
            EXPECT_FALSE(changed(v, 9)) << v << ", 9";
            EXPECT_FALSE(changed(9, v)) << "9, " << v;
        }
        for (int v : {10, 100}) {
            EXPECT_TRUE(changed(265, v));
            EXPECT_TRUE(changed(v, 265));
            EXPECT_FALSE(changed(266, v));
            EXPECT_FALSE(changed(v, 266));
        }
        // A second press takes it away again.
        host.key('?');
        host.advanceMillis(17);
        host.render();
        EXPECT_FALSE(changed(100, 100));
    });
}
