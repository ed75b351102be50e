// The whole plug-in under a host, headless: show, a few hundred frames, a
// track change with cover art, keys, hide, show again. Frames go to PNG files
// in the test output folder for people to look at.
#include <gtest/gtest.h>

#include <cstdlib>

#include "test_host.h"

using lvhost::TestHost;
using lvtest::RGBA;

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 500;

bool near(RGBA p, int r, int g, int b, int tolerance) {
    return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance && std::abs(p.b - b) <= tolerance;
}

// Frames that differ from black somewhere in the canvas: the scene is drawn.
int litPixels(const std::vector<uint8_t>& rgba) {
    int lit = 0;
    for (size_t i = 0; i < rgba.size(); i += 4) lit += (rgba[i] + rgba[i + 1] + rgba[i + 2]) > 60;
    return lit;
}

// A spectrum that rises and falls so that the sections see beats.
uint8_t levelAt(int frame) { return uint8_t((frame % 30) < 4 ? 220 : 40); }

}  // namespace

TEST(EndToEnd, ShowRenderTrackChangeKeysHideShow) {
    lvhost::runIsolated([] {
        unsetenv("DISPLAY");
        TestHost host;
        ASSERT_TRUE(host.loaded());
        ASSERT_EQ(host.init(), noErr);
        ASSERT_EQ(host.show(kWidth, kHeight), noErr);
        host.mCoverBytes = lvtest::makeJPEG(300, 300, [](int x, int y) { return lvtest::quadrant(x, y, 300, 300); });
        host.mCoverFormat = FourCC("JPEG");

        for (int frame = 0; frame < 300; ++frame) {
            host.advanceMillis(16);
            ASSERT_EQ(host.render(levelAt(frame)), noErr);
            if (frame == 150) host.writeCanvasPNG("plugin_e2e_frame150.png");
        }
        EXPECT_EQ(host.mPort.frameCount, 300u);
        EXPECT_GT(litPixels(host.canvasPixels()), 500) << "the scene draws nothing visible";
        host.writeCanvasPNG("plugin_e2e_frame300.png");

        ASSERT_EQ(host.play(lvhost::makeTrack(u"Lumen Drift", u"Lumenvortex", u"Demo")), noErr);
        EXPECT_EQ(host.mCoverArtCount, 1);
        for (int frame = 0; frame < 30; ++frame) {
            host.advanceMillis(16);
            host.render(levelAt(frame));
        }
        host.writeCanvasPNG("plugin_e2e_overlay.png");
        // The cover in the lower left: 64 x 64 at 20 pixels from the edges,
        // picture's top left (red) at the top left.
        const int coverTop = kHeight - 84;
        EXPECT_TRUE(near(host.canvasPixel(22, coverTop + 2), 230, 0, 0, 40));
        EXPECT_TRUE(near(host.canvasPixel(81, coverTop + 2), 0, 230, 0, 40));
        EXPECT_TRUE(near(host.canvasPixel(22, coverTop + 61), 0, 0, 230, 40));
        EXPECT_TRUE(near(host.canvasPixel(81, coverTop + 61), 230, 230, 230, 40));

        EXPECT_EQ(host.key('/'), unimpErr);
        host.advanceMillis(16);
        host.render();
        host.writeCanvasPNG("plugin_e2e_help.png");
        EXPECT_EQ(host.key('?'), unimpErr);

        for (char k : {'m', 'h', 'a', 's', 'p', 'p', '+', '-', 'r', 'c', 'c'}) EXPECT_EQ(host.key(k), unimpErr);
        // Antialiasing: a new context, and the overlay's textures made again in it.
        EXPECT_EQ(host.key('Q'), unimpErr);
        EXPECT_EQ(host.mCoverArtCount, 2);
        host.advanceMillis(16);
        host.render();
        EXPECT_TRUE(near(host.canvasPixel(22, coverTop + 2), 230, 0, 0, 40));
        host.writeCanvasPNG("plugin_e2e_antialiased.png");

        EXPECT_EQ(host.hide(), noErr);
        const unsigned long hiddenFrames = host.mPort.frameCount;
        EXPECT_EQ(host.idle(), noErr);
        EXPECT_EQ(host.mPort.frameCount, hiddenFrames);

        ASSERT_EQ(host.show(kWidth, kHeight), noErr);
        EXPECT_EQ(host.mCoverArtCount, 3);
        for (int frame = 0; frame < 60; ++frame) {
            host.advanceMillis(16);
            host.render(levelAt(frame));
        }
        EXPECT_EQ(host.mPort.frameCount, 60u);
        EXPECT_GT(litPixels(host.canvasPixels()), 500);
        host.writeCanvasPNG("plugin_e2e_after_show.png");
    });
}
