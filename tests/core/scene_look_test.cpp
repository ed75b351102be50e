// The scene's look: each mode's GL state, the palette chooser, the eased
// background and the camera, on a fresh scene and a virtual clock.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "gl_test_env.h"
#include "lumenvortexApplet.h"

namespace {

using RGB = std::array<float, 3>;
RGB rgb(const unsigned char* p) { return {(float)p[0], (float)p[1], (float)p[2]}; }
RGB rgb(color c) { return {(float)c.red, (float)c.green, (float)c.blue}; }
RGB target() { return {bgControl.rrDest, bgControl.ggDest, bgControl.bbDest}; }
void toMode(int mode) {
    while (gMode.currentMode() != mode) gMode.nextMode();
}

class SceneLook : public ::testing::Test {
protected:
    VirtualClock clock;
    LumenvortexApplet applet;

    void SetUp() override {
        clock.install();
        resetScene();
        applet.mWidth = 640;
        applet.mHeight = 480;
        gApplet = &applet;
    }
    void TearDown() override {
        gApplet = nullptr;
        setClockSource(nullptr);
    }
};

// Flat modes test and write depth and clear it; the others add glows up
// without depth.
TEST_F(SceneLook, EachModeSetsItsDepthAndBlendState) {
    lvtest::requireGL();
    for (int mode = 0; mode < 7; mode++, gMode.nextMode()) {
        glDepthMask(GL_TRUE);   // mark the depth buffer: does the set-up clear it?
        glClearDepth(0.25);
        glClear(GL_DEPTH_BUFFER_BIT);
        glClearDepth(1.0);
        glBlendFunc(GL_ONE, GL_ZERO);
        gMode.setupGL();
        float depth = -1;
        glReadPixels(20, 20, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
        GLint blend[2] = {0, 0};
        glGetIntegerv(GL_BLEND_SRC, &blend[0]);
        glGetIntegerv(GL_BLEND_DST, &blend[1]);
        bool flat = mode == 3 || mode == 5;
        EXPECT_EQ(glIsEnabled(GL_DEPTH_TEST), flat ? GL_TRUE : GL_FALSE) << mode;
        EXPECT_EQ(glIsEnabled(GL_BLEND), flat ? GL_FALSE : GL_TRUE) << mode;
        EXPECT_NEAR(depth, flat ? 1.0f : 0.25f, 1e-3) << mode;
        EXPECT_TRUE(flat || (blend[0] == GL_SRC_ALPHA && blend[1] == GL_ONE)) << mode;
    }
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(SceneLook, PaletteCyclesClampsAndPicksColumnThenRow) {
    for (int step = 1; step <= 4; step++) {
        colors.setIndex();
        EXPECT_EQ(colors.index, step % 4);
    }
    EXPECT_EQ(rgb(colors.getColor(-5, false)), rgb(imageData[0]));
    EXPECT_EQ(rgb(colors.getColor(1000, true)), rgb(imageData[0] + 3 * 399));
    EXPECT_EQ(0, memcmp(imageData[1], imageData[2], 1200));   // purples twice over

    // A seed whose two draws name different pixels when read the other way round.
    for (unsigned seed = 1; seed < 1000; seed++) {
        srand(seed);
        int column = rand() % 20, row = rand() % 20;
        const unsigned char* right = imageData[0] + 3 * (row * 20 + column);
        const unsigned char* swapped = imageData[0] + 3 * (column * 20 + row);
        if (rgb(right) == rgb(swapped)) continue;
        srand(seed);
        EXPECT_EQ(rgb(colors.getRandomColor()), rgb(right)) << seed;
        return;
    }
    FAIL() << "the palette is too uniform to tell rows from columns";
}

// In the hue mode a palette change recolours the particles around the base
// in force, and only then draws the next base.
TEST_F(SceneLook, PaletteChangeRecoloursAroundTheOldHueBase) {
    toMode(5);
    particleControl.total = 1;
    particleControl.adjustAmount();
    colors.mHSBHueBase = 200;
    srand(3);
    float brightness = random(1.0f), hue = 200 + random(-3.0f, 3.0f);
    random(1.0f), random(-3.0f, 3.0f);   // the second colour
    float base = random(360.0f);
    srand(3);
    colors.setIndex();
    const Particle& p = particleControl.myList[0];
    RGB got = {p.rd * 255, p.gd * 255, p.bd * 255}, want = rgb(color::hsbf(hue, 1, brightness));
    for (int i = 0; i < 3; i++) EXPECT_NEAR(want[i], got[i], 1e-3f);
    EXPECT_EQ(colors.mHSBHueBase, base);
}

TEST_F(SceneLook, BackgroundTargetByModeThenEasedPerChannel) {
    lvtest::requireGL();
    for (auto [mode, level] : {std::pair{2, 0.0f}, {3, 0.8f}, {4, 0.0f}}) {   // black and white; flat
        toMode(mode);
        bgControl.setColor();
        EXPECT_EQ((RGB{level, level, level}), target()) << mode;
    }
    toMode(0);
    srand(11);
    const unsigned char* px = imageData[colors.index] + 3 * (int)random(12.0f);   // row 0, dark
    srand(11);
    bgControl.setColor();
    EXPECT_EQ(rgb(px), target());

    // 5 % of the way each frame, every channel towards its own target.
    bgControl.rr = 0, bgControl.gg = 100, bgControl.bb = 50;
    bgControl.rrDest = 255, bgControl.ggDest = 20, bgControl.bbDest = 150;
    bgControl.exist();
    EXPECT_EQ((RGB{12.75f, 96, 55}), (RGB{bgControl.rr, bgControl.gg, bgControl.bb}));
    bgControl.exist();
    EXPECT_NEAR(bgControl.rr, 24.8625f, 1e-4);
    lvtest::RGBA p = lvtest::pixel(100, 100);
    EXPECT_EQ((RGB{25, 92, 60}), (RGB{(float)p.r, (float)p.g, (float)p.b}));
}

TEST_F(SceneLook, DistanceTargetIsRedrawnOnlyWhenTheWellCountChanges) {
    for (int wells : {3, 3, 5}) {   // 250..600 plus 20 a well
        gravityControl.total = wells;
        float before = pov.targetD;
        pov.findPosition();
        EXPECT_GE(pov.targetD, 250.0f + 20 * wells);
        EXPECT_LE(pov.targetD, 600.0f + 20 * wells);
        EXPECT_TRUE(wells != 3 || before == 0 || pov.targetD == before);
    }
    EXPECT_EQ(pov.lastGravityTotalForDOffset, 5);
}

TEST_F(SceneLook, SpinDecaysToItsFloorAndHolds) {
    for (float start : {0.01f, -0.01f}) {
        pov.rv = start;
        int frames = 0;
        for (; std::fabs(pov.rv) > POV::RANDOM_ROTATION_MIN && frames < 1000; frames++) pov.setPosition();
        EXPECT_NEAR(frames, 230, 2) << start;
        float floor = pov.rv;
        EXPECT_EQ(floor > 0, start > 0);
        for (int i = 0; i < 50; i++) pov.setPosition();
        EXPECT_EQ(pov.rv, floor);
    }
    pov.rv = 0.001f;   // exactly at the floor: not slowed at all
    pov.setPosition();
    EXPECT_EQ(pov.rv, 0.001f);
}

}  // namespace
