// What the host sees of the track overlay and the help panel: the quads'
// edges on a 700-pixel-high canvas with and without cover art, the fade on
// the virtual clock, and the help panel's square. Frames are read from the
// offscreen port after each render message.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "MacMemory.h"
#include "lv/text.h"
#include "test_host.h"

using lvhost::TestHost;
using lvhost::runWithHost;
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
bool near(RGBA p, RGBA q) { return std::abs(p.r - q.r) < 40 && std::abs(p.g - q.g) < 40 && std::abs(p.b - q.b) < 40; }

// Where the name texture's text is opaque, laid out as the plug-in lays it:
// "GillSans" 18 at x 1, baselines 18, 36, 54 rows from the top of 512 x 128.
Box nameInk(const std::u16string& name, const std::u16string& artist, const std::u16string& album) {
    std::vector<unsigned char> rgba(512 * 128 * 4, 0);
    const lvtext::TextStyle style{"GillSans", 18};
    int baseline = 18;
    std::string error;
    for (const std::u16string* line : {&album, &artist, &name}) {
        EXPECT_TRUE(lvtext::drawTextLine(rgba.data(), 512, 128, 512 * 4, 1, baseline, line->data(), line->size(),
                                         style, error))
            << error;
        baseline += 18;
    }
    Box b;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 512; ++x)
            if (rgba[(size_t(y) * 512 + x) * 4 + 3] > 250) b.add(x, y);
    return b;
}

}  // namespace

TEST(Overlay, CoverAndNameSitInTheLowerLeftOrTheNameAtTheEdgeWithoutCover) {
    for (bool cover : {true, false}) {
        runWithHost([cover](TestHost& host) {
            if (cover) {
                // Wider than high, so that the padding differs across (96 of
                // 128) and down (40 of 64): each coordinate needs its own.
                host.mCoverArt = lvtest::makePNG(96, 40, [](int x, int y) { return lvtest::quadrant(x, y, 96, 40); });
                host.mCoverArtFormat = kCoverArtPNG;
            }
            ASSERT_EQ(host.show(kWidth, kHeight), noErr);
            host.renderFrames(1);
            host.play(lvhost::makeTrack(u"Track Name", u"Artist", u"Album"));
            host.renderFrames(1);
            EXPECT_EQ(host.mCoverRequests, 1);
            host.writeCanvasPNG(cover ? "plugin_overlay_cover.png" : "plugin_overlay_no_cover.png");
            // Cover: the whole picture, upright, in the 64 x 64 square from
            // (20, 616) to (84, 680), and nothing of it outside.
            const RGBA red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255}, full{255, 255, 255, 255};
            for (auto [x, y, colour, inside] :
                 {std::tuple{21, 617, red, true}, {82, 617, green, true}, {21, 678, blue, true}, {82, 678, full, true},
                  {48, 644, red, true}, {55, 644, green, true}, {48, 651, blue, true}, {55, 651, full, true},
                  {19, 630, red, false}, {84, 630, green, false}, {30, 615, red, false}, {30, 680, blue, false}})
                EXPECT_EQ(near(host.canvasPixel(x, y), colour), cover && inside) << x << ", " << y;

            // Name: the texture's quad at (94, 619), or (20, 626) without cover.
            const Box want = nameInk(u"Track Name", u"Artist", u"Album");
            Box got;
            for (int y = kHeight - 120; y < kHeight; ++y)
                for (int x = cover ? 85 : 0; x < kWidth; ++x)
                    if (white(host.canvasPixel(x, y))) got.add(x, y);
            ASSERT_GE(got.right, 0) << "no name drawn";
            const int left = cover ? 94 : 20, top = cover ? 619 : 626;
            EXPECT_NEAR(got.left, left + want.left, 1);
            EXPECT_NEAR(got.top, top + want.top, 1);
            EXPECT_NEAR(got.right, left + want.right, 1);
            EXPECT_NEAR(got.bottom, top + want.bottom, 1);

            // The pass leaves every stack as it found it, in model-view mode.
            std::vector<GLint> depths;
            for (GLenum stack : {GL_MODELVIEW_STACK_DEPTH, GL_PROJECTION_STACK_DEPTH, GL_TEXTURE_STACK_DEPTH,
                                 GL_ATTRIB_STACK_DEPTH, GL_MATRIX_MODE})
                glGetIntegerv(stack, &depths.emplace_back());
            EXPECT_EQ(depths, std::vector<GLint>({1, 1, 1, 0, GL_MODELVIEW}));
        });
    }
}

// The name texture is tinted white when drawn: a colour glyph's own colours
// must come through it, not a grey silhouette (fonts-noto-color-emoji).
TEST(Overlay, ColourEmojiInTheNameKeepTheirColours) {
    runWithHost([](TestHost& host) {
        ASSERT_EQ(host.show(kWidth, kHeight), noErr);
        host.renderFrames(1);
        const std::u16string name = u"\U0001F334 Palm";
        host.play(lvhost::makeTrack(name, u"", u""));
        host.renderFrames(1);
        host.writeCanvasPNG("plugin_overlay_emoji.png");
        std::vector<unsigned char> want(512 * 128 * 4, 0);
        std::string error;
        ASSERT_TRUE(lvtext::drawTextLine(want.data(), 512, 128, 512 * 4, 1, 54, name.data(), name.size(),
                                         {"GillSans", 18}, error))
            << error;
        int coloured = 0, shown = 0;
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 512; ++x) {
                const unsigned char* p = &want[(size_t(y) * 512 + x) * 4];
                if (p[3] < 255 || std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) < 80) continue;
                ++coloured;
                shown += near(host.canvasPixel(20 + x, 626 + y), RGBA{p[0], p[1], p[2], 255});
            }
        EXPECT_GT(coloured, 20) << "the emoji is drawn without its colours";
        EXPECT_EQ(shown, coloured) << "its colours are lost on the way to the screen";
    });
}

TEST(Overlay, FadesOverItsLastTwoSeconds) {
    runWithHost([](TestHost& host) {
        // Left half white, right half black: their difference in the frame is
        // the cover's opacity, whatever lies behind.
        host.mCoverArt = lvtest::makePNG(64, 64, [](int x, int) {
            return x < 32 ? RGBA{255, 255, 255, 255} : RGBA{0, 0, 0, 255};
        });
        host.mCoverArtFormat = kCoverArtPNG;
        ASSERT_EQ(host.show(kWidth, kHeight), noErr);
        host.renderFrames(3);
        host.changeTrack(lvhost::makeTrack(u"Fading", u"Out", u"Slowly"));
        const int y = kHeight - 84 + 32;
        for (auto [advance, want] : {std::pair{3000, 0.9}, {1000, 0.45}, {1000, 0.0}, {1, 0.0}}) {
            host.renderFrames(1, advance);
            EXPECT_NEAR((host.canvasPixel(36, y).g - host.canvasPixel(68, y).g) / 255.0, want, 0.015)
                << "after another " << advance << " ms";
        }
    });
}

// Drawn in the window as over an export's frames, which the light layer may
// hand over without GL: the panel must make it go through GL.
TEST(Overlay, HelpPanelCoversItsSquare) {
    for (const bool asAnExport : {false, true}) {
        runWithHost([asAnExport](TestHost& host) {
            SCOPED_TRACE(asAnExport ? "frames as an export takes them" : "frames in the port");
            host.mFramesAsAnExport = asAnExport;
            const int late = asAnExport ? LV_PORT_FRAME_LAG : 0;
            ASSERT_EQ(host.show(640, 480), noErr);
            host.renderFrames(150);   // the background settles on its colour first
            const std::vector<uint8_t> before = host.canvasPixels();
            host.key('/');
            host.renderFrames(1 + late);
            host.writeCanvasPNG("plugin_help_panel.png");
            auto changed = [&](int x, int y) {
                const uint8_t* b = &before[(size_t(y) * 640 + x) * 4];
                const RGBA p = host.canvasPixel(x, y);
                return std::abs(p.r - b[0]) + std::abs(p.g - b[1]) + std::abs(p.b - b[2]) > 6;
            };
            for (int v : {10, 100, 200, 265}) {
                EXPECT_TRUE(changed(v, 10) && changed(10, v)) << v;
                EXPECT_FALSE(changed(v, 9) || changed(9, v)) << v;
            }
            for (int v : {10, 100}) {
                EXPECT_TRUE(changed(265, v) && changed(v, 265)) << v;
                EXPECT_FALSE(changed(266, v) || changed(v, 266)) << v;
            }
            // A second press takes it away again.
            host.key('?');
            host.renderFrames(1 + late);
            EXPECT_FALSE(changed(100, 100));
        });
    }
}

// The ES renderer draws the track overlay with its cover, the help panel and
// the scene of every mode as the reference drawing does: the same messages
// go to the plug-in in two processes, one drawing with each, and their
// canvases are compared mode by mode (lvtest::psnr, the bound of
// tests/core/draw_batched_test.cpp).
TEST(Overlay, GlesDrawsWhatTheReferenceDrawsInEveryMode) {
    constexpr int width = 640, height = 400, modes = 7;
    const std::string dir = lvtest::outputDir();
    auto path = [&dir](const char* renderer, int mode, const char* kind = ".rgba") {
        return dir + "/plugin_overlay_" + renderer + "-" + std::to_string(mode) + kind;
    };
    for (const char* renderer : {"reference", "gles"}) {
        runWithHost([&](TestHost& host) {
            // Opaque to its edges, so that the cover's border is drawn too.
            host.mCoverArt = lvtest::makePNG(96, 40, [](int x, int y) { return lvtest::quadrant(x, y, 96, 40); });
            host.mCoverArtFormat = kCoverArtPNG;
            ASSERT_TRUE(host.setRenderer(renderer));
            ASSERT_EQ(host.show(width, height), noErr);
            host.key('c');   // the track change leaves the mode alone
            host.play(lvhost::makeTrack(u"Track Name", u"Artist", u"Album"));
            host.key('/');
            for (int mode = 0; mode < modes; ++mode) {
                host.key('i');   // the overlay again, over this mode's frames
                for (int frame = 0; frame < 40; ++frame) {
                    host.advanceMillis(17);
                    ASSERT_EQ(host.render(uint8_t(160 + frame)), noErr);   // loud enough to fill the field
                }
                const std::vector<uint8_t> canvas = host.canvasPixels();
                std::ofstream(path(renderer, mode), std::ios::binary)
                    .write(reinterpret_cast<const char*>(canvas.data()), std::streamsize(canvas.size()));
                host.key('m');
            }
        });
    }
    for (int mode = 0; mode < modes; ++mode) {
        std::vector<uint8_t> pictures[2];
        for (int i = 0; i < 2; ++i) {
            const char* renderer = i ? "gles" : "reference";
            std::ifstream in(path(renderer, mode), std::ios::binary);
            pictures[i].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            std::remove(path(renderer, mode).c_str());   // the PNG below is for people
            ASSERT_EQ(pictures[i].size(), size_t(width) * height * 4) << "mode " << mode;
            lvtest::writePNG(path(renderer, mode, ".png"), pictures[i].data(), width, height);
        }
        const double db = lvtest::psnr(pictures[0], pictures[1]);
        EXPECT_GE(db, 45.0) << "mode " << mode << ": see " << dir << "/plugin_overlay_*-" << mode << ".png";
        std::printf("mode %d: reference against gles with the overlay and the help panel, PSNR %.1f dB\n", mode, db);
    }
}
