// The scene's look: the mode table and its GL state, the palette chooser, the
// eased background and the camera, on a fresh scene and a virtual clock.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "gl_test_env.h"
#include "lumenvortexApplet.h"

namespace {

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

TEST_F(SceneLook, ModesCycleAndTheFlowFollowsTheThirdDraw) {
    for (int step = 1; step <= 7; step++) {
        gMode.nextMode();
        int mode = step % 7;
        ASSERT_EQ(gMode.currentMode(), mode);
        EXPECT_FLOAT_EQ(gMode.maxParticleSize(), (mode == 3 || mode == 4) ? 0.75f : 1.5f) << mode;
    }

    // From mode 0 the palette advance draws the hue base, the background its
    // pixel, and only then the flow (below 0.34). The seeds make any earlier
    // draw give the other answer.
    unsigned flowOn = 0, flowOff = 0;
    for (unsigned seed = 2; seed < 100000 && (!flowOn || !flowOff); seed++) {
        srand(seed);
        float d[3] = {random(1.0f), random(1.0f), random(1.0f)};
        if (!flowOn && d[2] < 0.34f && d[0] >= 0.34f && d[1] >= 0.34f) flowOn = seed;
        if (!flowOff && d[2] >= 0.34f && d[0] < 0.34f && d[1] < 0.34f) flowOff = seed;
    }
    ASSERT_TRUE(flowOn && flowOff);
    for (bool on : {true, false}) {
        resetScene();
        gMode.setPerlinFlow(!on);
        srand(on ? flowOn : flowOff);
        gMode.nextMode();
        EXPECT_EQ(gMode.perlinFlow(), on);
        EXPECT_FLOAT_EQ(gMode.particleRepelStrength(), on ? 0.2f : 1.0f);
    }
}

TEST_F(SceneLook, EachModeSetsItsDepthAndBlendState) {
    lvtest::requireGL();
    for (int mode = 0; mode < 7; mode++, gMode.nextMode()) {
        // Mark the depth buffer, then see whether the mode's set-up clears it.
        glDepthMask(GL_TRUE);
        glClearDepth(0.25);
        glClear(GL_DEPTH_BUFFER_BIT);
        glClearDepth(1.0);
        glBlendFunc(GL_ONE, GL_ZERO);
        gMode.setupGL();

        float depth = -1;
        glReadPixels(20, 20, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
        GLint src = 0, dst = 0;
        glGetIntegerv(GL_BLEND_SRC, &src);
        glGetIntegerv(GL_BLEND_DST, &dst);
        bool flat = mode == 3 || mode == 5;
        EXPECT_EQ(glIsEnabled(GL_DEPTH_TEST), flat ? GL_TRUE : GL_FALSE) << mode;
        EXPECT_EQ(glIsEnabled(GL_BLEND), flat ? GL_FALSE : GL_TRUE) << mode;
        EXPECT_NEAR(depth, flat ? 1.0f : 0.25f, 1e-3) << mode;
        if (!flat) {
            EXPECT_EQ((std::array<GLint, 2>{src, dst}), (std::array<GLint, 2>{GL_SRC_ALPHA, GL_ONE})) << mode;
        }
    }
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(SceneLook, RandomPaletteColourTakesColumnThenRow) {
    auto pixel = [](int n) {
        const unsigned char* p = imageData[0] + 3 * n;
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    colors.index = 0;
    // A seed whose two draws name different pixels when read the other way round.
    for (unsigned seed = 1; seed < 1000; seed++) {
        srand(seed);
        int column = rand() % 20, row = rand() % 20;
        if (pixel(row * 20 + column) == pixel(column * 20 + row)) continue;
        srand(seed);
        color c = colors.getRandomColor();
        EXPECT_EQ((std::array<int, 3>{c.red, c.green, c.blue}), pixel(row * 20 + column)) << seed;
        return;
    }
    FAIL() << "the palette is too uniform to tell rows from columns";
}

TEST_F(SceneLook, PaletteCyclesClampsAndRecoloursAroundTheOldHueBase) {
    for (int step = 1; step <= 4; step++) {
        colors.setIndex();
        EXPECT_EQ(colors.index, step % 4);
    }
    const unsigned char* fire = imageData[0];
    color first = colors.getColor(-5, false), last = colors.getColor(1000, true);
    EXPECT_EQ((std::array<int, 3>{first.red, first.green, first.blue}), (std::array<int, 3>{fire[0], fire[1], fire[2]}));
    EXPECT_EQ((std::array<int, 3>{last.red, last.green, last.blue}),
              (std::array<int, 3>{fire[1197], fire[1198], fire[1199]}));
    EXPECT_EQ(0, memcmp(imageData[1], imageData[2], 1200));   // purples twice over

    // In the hue mode a palette change recolours the particles around the
    // base in force, then draws the next base.
    while (gMode.currentMode() != 5) gMode.nextMode();
    particleControl.total = 1;
    particleControl.adjustAmount();
    colors.mHSBHueBase = 200;
    srand(3);
    float brightness = random(1.0f), hue = 200 + random(-3.0f, 3.0f);
    random(1.0f), random(-3.0f, 3.0f);   // the second colour
    float base = random(360.0f);
    srand(3);
    colors.setIndex();
    color expect = color::hsbf(hue, 1, brightness);
    const Particle& p = particleControl.myList[0];
    EXPECT_FLOAT_EQ(p.rd * 255, expect.red);
    EXPECT_FLOAT_EQ(p.bd * 255, expect.blue);
    EXPECT_EQ(colors.mHSBHueBase, base);
}

TEST_F(SceneLook, BackgroundTargetByModeThenEasedPerChannel) {
    lvtest::requireGL();
    for (auto [mode, target] : {std::pair{2, 0.0f}, {3, 0.8f}, {4, 0.0f}}) {   // black and white; flat
        while (gMode.currentMode() != mode) gMode.nextMode();
        bgControl.setColor();
        EXPECT_EQ((std::array<float, 3>{target, target, target}),
                  (std::array<float, 3>{bgControl.rrDest, bgControl.ggDest, bgControl.bbDest}))
            << mode;
    }
    while (gMode.currentMode() != 0) gMode.nextMode();
    srand(11);
    const unsigned char* px = imageData[colors.index] + 3 * (int)random(12.0f);   // row 0, dark
    srand(11);
    bgControl.setColor();
    EXPECT_EQ((std::array<float, 3>{(float)px[0], (float)px[1], (float)px[2]}),
              (std::array<float, 3>{bgControl.rrDest, bgControl.ggDest, bgControl.bbDest}));

    // 5 % of the way each frame, every channel towards its own target.
    bgControl.rr = 0, bgControl.rrDest = 255;
    bgControl.gg = 100, bgControl.ggDest = 20;
    bgControl.bb = 50, bgControl.bbDest = 150;
    bgControl.exist();
    EXPECT_FLOAT_EQ(bgControl.rr, 12.75f);
    EXPECT_FLOAT_EQ(bgControl.gg, 96.0f);
    EXPECT_FLOAT_EQ(bgControl.bb, 55.0f);
    bgControl.exist();
    EXPECT_NEAR(bgControl.rr, 24.8625f, 1e-4);
    lvtest::RGBA p = lvtest::pixel(100, 100);
    EXPECT_NEAR(p.r, 25, 1);
    EXPECT_NEAR(p.g, 92, 1);
    EXPECT_NEAR(p.b, 60, 1);
}

TEST_F(SceneLook, DistanceTargetIsRedrawnOnlyWhenTheWellCountChanges) {
    gravityControl.total = 3;
    pov.findPosition();
    EXPECT_GE(pov.targetD, 310.0f);
    EXPECT_LE(pov.targetD, 660.0f);
    float first = pov.targetD;
    pov.findPosition();
    EXPECT_EQ(pov.targetD, first);

    gravityControl.total = 5;
    pov.findPosition();
    EXPECT_GE(pov.targetD, 350.0f);
    EXPECT_LE(pov.targetD, 700.0f);
    EXPECT_EQ(pov.lastGravityTotalForDOffset, 5);
}

TEST_F(SceneLook, SpinDecaysToItsFloorAndHolds) {
    for (float start : {0.01f, -0.01f}) {
        pov.rv = start;
        int frames = 0;
        while (std::fabs(pov.rv) > POV::RANDOM_ROTATION_MIN && frames < 1000) {
            pov.setPosition();
            frames++;
        }
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
