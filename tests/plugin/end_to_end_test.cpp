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

::testing::AssertionResult near(RGBA p, int r, int g, int b) {
    if (std::abs(p.r - r) <= 40 && std::abs(p.g - g) <= 40 && std::abs(p.b - b) <= 40)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << int(p.r) << " " << int(p.g) << " " << int(p.b);
}

// Pixels well away from black: the scene is drawn.
int litPixels(const std::vector<uint8_t>& rgba) {
    int lit = 0;
    for (size_t i = 0; i < rgba.size(); i += 4) lit += (rgba[i] + rgba[i + 1] + rgba[i + 2]) > 60;
    return lit;
}

// A spectrum that rises and falls so that the sections see beats.
void playMusic(TestHost& host, int frames) {
    for (int frame = 0; frame < frames; ++frame) {
        host.advanceMillis(16);
        ASSERT_EQ(host.render(uint8_t((frame % 30) < 4 ? 220 : 40)), noErr);
        if (frame == 150) host.writeCanvasPNG("plugin_e2e_frame150.png");
    }
}

}  // namespace

TEST(EndToEnd, ShowRenderTrackChangeKeysHideShow) {
    lvhost::runWithHost([](TestHost& host) {
        ASSERT_EQ(host.show(kWidth, kHeight), noErr);
        host.mCoverArt = lvtest::makeJPEG(300, 300, [](int x, int y) { return lvtest::quadrant(x, y, 300, 300); });
        host.mCoverArtFormat = FourCC("JPEG");
        playMusic(host, 300);
        EXPECT_EQ(host.mPort.frameCount, 300u);
        EXPECT_GT(litPixels(host.canvasPixels()), 500) << "the scene draws nothing visible";
        host.writeCanvasPNG("plugin_e2e_frame300.png");

        ASSERT_EQ(host.play(lvhost::makeTrack(u"Lumen Drift", u"Lumenvortex", u"Demo")), noErr);
        EXPECT_EQ(host.mCoverRequests, 1);
        playMusic(host, 30);
        host.writeCanvasPNG("plugin_e2e_overlay.png");
        // The cover in the lower left: 64 x 64 at 20 pixels from the edges,
        // picture's top left (red) at the top left.
        const int coverTop = kHeight - 84;
        EXPECT_TRUE(near(host.canvasPixel(22, coverTop + 2), 230, 0, 0));
        EXPECT_TRUE(near(host.canvasPixel(81, coverTop + 2), 0, 230, 0));
        EXPECT_TRUE(near(host.canvasPixel(22, coverTop + 61), 0, 0, 230));
        EXPECT_TRUE(near(host.canvasPixel(81, coverTop + 61), 230, 230, 230));

        EXPECT_EQ(host.key('/'), unimpErr);
        host.renderFrames(1, 16);
        host.writeCanvasPNG("plugin_e2e_help.png");
        EXPECT_EQ(host.key('?'), unimpErr);
        for (char k : {'m', 'h', 'a', 's', 'p', 'p', '+', '-', 'r', 'c', 'c'}) EXPECT_EQ(host.key(k), unimpErr);
        // Antialiasing: a new context, and the overlay's textures made again in it.
        EXPECT_EQ(host.key('Q'), unimpErr);
        EXPECT_EQ(host.mCoverRequests, 2);
        host.renderFrames(1, 16);
        EXPECT_TRUE(near(host.canvasPixel(22, coverTop + 2), 230, 0, 0));
        host.writeCanvasPNG("plugin_e2e_antialiased.png");

        EXPECT_EQ(host.hide(), noErr);
        const unsigned long hiddenFrames = host.mPort.frameCount;
        EXPECT_EQ(host.idle(), noErr);
        EXPECT_EQ(host.mPort.frameCount, hiddenFrames);

        ASSERT_EQ(host.show(kWidth, kHeight), noErr);
        EXPECT_EQ(host.mCoverRequests, 3);
        playMusic(host, 60);
        EXPECT_EQ(host.mPort.frameCount, 60u);
        EXPECT_GT(litPixels(host.canvasPixels()), 500);
        host.writeCanvasPNG("plugin_e2e_after_show.png");
    });
}
