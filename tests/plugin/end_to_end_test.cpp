// The whole plug-in under a host, headless: show, a few hundred frames, a
// track change with cover art, keys, hide, show again. Frames go to PNG files
// in the test output folder for people to look at.
#include <gtest/gtest.h>

#include "MacMemory.h"
#include "test_host.h"

using lvhost::TestHost;

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 500;

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
        host.mCoverArtFormat = kCoverArtJPEG;
        playMusic(host, 300);
        EXPECT_EQ(host.mPort.frameCount, 300u);
        EXPECT_GT(litPixels(host.canvasPixels()), 500) << "the scene draws nothing visible";
        host.writeCanvasPNG("plugin_e2e_frame300.png");

        ASSERT_EQ(host.play(lvhost::makeTrack(u"Lumen Drift", u"Lumenvortex", u"Demo")), noErr);
        EXPECT_EQ(host.mCoverRequests, 1);
        playMusic(host, 30);
        host.writeCanvasPNG("plugin_e2e_overlay.png");
        for (char k : {'/', '?', 'm', 'h', 'a', 's', 'p', 'p', '+', '-', 'r', 'c', 'c', 'Q'})
            EXPECT_EQ(host.key(k), unimpErr);
        EXPECT_EQ(host.mCoverRequests, 2) << "the overlay is made again in the antialiased context";
        playMusic(host, 30);
        host.writeCanvasPNG("plugin_e2e_antialiased.png");

        EXPECT_EQ(host.hide(), noErr);
        ASSERT_EQ(host.show(kWidth, kHeight), noErr);
        EXPECT_EQ(host.mCoverRequests, 3);
        playMusic(host, 60);
        EXPECT_EQ(host.mPort.frameCount, 60u);
        EXPECT_GT(litPixels(host.canvasPixels()), 500);
        host.writeCanvasPNG("plugin_e2e_after_show.png");
    });
}
