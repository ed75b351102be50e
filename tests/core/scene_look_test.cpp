// The scene's look: the mode table and its GL state, the palette chooser, the
// eased background and the camera, on a fresh scene and a virtual clock.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>

#include "gl_test_env.h"
#include "lumenvortexApplet.h"

namespace {

std::array<int, 3> rgb(const color& c) { return {c.red, c.green, c.blue}; }

std::array<int, 3> palettePixel(int palette, int n) {
    const unsigned char* p = imageData[palette] + 3 * n;
    return {p[0], p[1], p[2]};
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
        gWidescreen = false;
    }
    void TearDown() override {
        gApplet = nullptr;
        gWidescreen = false;
        setClockSource(nullptr);
    }

    void goToMode(int mode) {
        while (gMode.currentMode() != mode) gMode.nextMode();
    }
};

// ---------------------------------------------------------------- modes

TEST_F(SceneLook, ModesCycleInTableOrderAndSetTheParticleSize) {
    EXPECT_EQ(gMode.currentMode(), 0);
    EXPECT_EQ(gMode.modeCount(), 7);
    EXPECT_FLOAT_EQ(gMode.maxParticleSize(), 1.5f);
    EXPECT_FLOAT_EQ(gMode.minParticleSize(), 0.5f);
    EXPECT_TRUE(gMode.cycleModeOnTrackChange());
    EXPECT_FALSE(gMode.perlinFlow());
    EXPECT_FLOAT_EQ(gMode.particleRepelStrength(), 1.0f);

    for (int step = 1; step <= 14; step++) {
        gMode.nextMode();
        int mode = step % 7;
        ASSERT_EQ(gMode.currentMode(), mode);
        EXPECT_FLOAT_EQ(gMode.maxParticleSize(), (mode == 3 || mode == 4) ? 0.75f : 1.5f) << mode;
        EXPECT_EQ(gMode.flatShade(), mode == 3 || mode == 5) << mode;
        EXPECT_EQ(gMode.hsbColor(), mode == 5) << mode;
    }
}

// From mode 0 the palette advance draws the hue base, the background draws its
// pixel, and only then comes the flow's draw. Seeds are chosen so that taking
// any earlier draw for the flow would give the other answer.
TEST_F(SceneLook, FlowFollowsTheThirdDrawOfAModeChange) {
    auto draws = [](unsigned seed) {
        srand(seed);
        std::array<float, 3> d;
        for (float& x : d) x = random(1.0f);
        return d;
    };
    unsigned flowOn = 0, flowOff = 0;
    for (unsigned seed = 2; seed < 100000 && (!flowOn || !flowOff); seed++) {
        auto d = draws(seed);
        bool earlyLow = d[0] < 0.34f || d[1] < 0.34f;
        bool earlyHigh = d[0] >= 0.34f || d[1] >= 0.34f;
        if (!flowOn && d[2] < 0.34f && !earlyLow) flowOn = seed;
        if (!flowOff && d[2] >= 0.34f && !earlyHigh) flowOff = seed;
    }
    ASSERT_TRUE(flowOn && flowOff);

    srand(flowOn);
    gMode.nextMode();
    EXPECT_TRUE(gMode.perlinFlow());
    EXPECT_FLOAT_EQ(gMode.particleRepelStrength(), 0.2f);

    resetScene();
    gMode.setPerlinFlow(true);
    srand(flowOff);
    gMode.nextMode();
    EXPECT_FALSE(gMode.perlinFlow());
    EXPECT_FLOAT_EQ(gMode.particleRepelStrength(), 1.0f);
}

TEST_F(SceneLook, EachModeSetsItsDepthAndBlendState) {
    lvtest::requireGL();
    for (int mode = 0; mode < 7; mode++) {
        goToMode(mode);
        // Mark the depth buffer, then see whether the mode's set-up clears it.
        glDepthMask(GL_TRUE);
        glClearDepth(0.25);
        glClear(GL_DEPTH_BUFFER_BIT);
        glClearDepth(1.0);
        glBlendFunc(GL_ONE, GL_ZERO);

        gMode.setupGL();

        float depth = -1;
        glReadPixels(20, 20, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
        GLboolean depthWrites = GL_FALSE;
        glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWrites);
        GLint src = 0, dst = 0;
        glGetIntegerv(GL_BLEND_SRC, &src);
        glGetIntegerv(GL_BLEND_DST, &dst);
        bool flat = mode == 3 || mode == 5;
        EXPECT_EQ(glIsEnabled(GL_DEPTH_TEST), flat ? GL_TRUE : GL_FALSE) << mode;
        EXPECT_EQ(depthWrites, flat ? GL_TRUE : GL_FALSE) << mode;
        EXPECT_EQ(glIsEnabled(GL_BLEND), flat ? GL_FALSE : GL_TRUE) << mode;
        EXPECT_NEAR(depth, flat ? 1.0f : 0.25f, 1e-3) << mode;
        if (!flat) {
            EXPECT_EQ(src, GL_SRC_ALPHA) << mode;
            EXPECT_EQ(dst, GL_ONE) << mode;
        }
    }
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

// ---------------------------------------------------------------- palette

TEST_F(SceneLook, PaletteAdvanceCyclesAndDrawsANewHueBase) {
    for (int i = 1; i <= 4; i++) {
        colors.setIndex();
        EXPECT_EQ(colors.index, i % 4);
        EXPECT_GE(colors.mHSBHueBase, 0.0f);
        EXPECT_LE(colors.mHSBHueBase, 360.0f);
    }
    // Palette modes ignore the background flag and clamp the position.
    colors.index = 3;
    EXPECT_EQ(rgb(colors.getColor(-5, false)), palettePixel(3, 0));
    EXPECT_EQ(rgb(colors.getColor(1000, true)), palettePixel(3, 399));
    EXPECT_EQ(rgb(colors.getColor(37, true)), rgb(colors.getColor(37, false)));
}

TEST_F(SceneLook, RandomPaletteColourTakesColumnThenRow) {
    colors.index = 0;
    // A seed whose two draws name different pixels when read the other way round.
    for (unsigned seed = 1; seed < 1000; seed++) {
        srand(seed);
        int column = rand() % 20, row = rand() % 20;
        auto wanted = palettePixel(0, row * 20 + column);
        if (wanted == palettePixel(0, column * 20 + row)) continue;
        srand(seed);
        EXPECT_EQ(rgb(colors.getRandomColor()), wanted) << seed;
        return;
    }
    FAIL() << "the palette is too uniform to tell rows from columns";
}

TEST_F(SceneLook, HueModeDrawsBrightnessBeforeHue) {
    goToMode(5);
    float base = colors.mHSBHueBase;
    srand(77);
    float brightness = random(0.1f, 0.75f);
    float hue = base + random(-3.0f, 3.0f) + 20.0f;
    auto background = rgb(color::hsbf(hue, 0.5f, brightness));
    srand(77);
    EXPECT_EQ(rgb(colors.getColor(5, true)), background);

    srand(78);
    brightness = random(1.0f);
    hue = base + random(-3.0f, 3.0f);
    auto particle = rgb(color::hsbf(hue, 1.0f, brightness));
    srand(78);
    EXPECT_EQ(rgb(colors.getRandomColor()), particle);
}

// ---------------------------------------------------------------- background

TEST_F(SceneLook, BackgroundTargetFollowsTheMode) {
    goToMode(2);  // black and white
    bgControl.setColor();
    EXPECT_EQ(bgControl.rrDest + bgControl.ggDest + bgControl.bbDest, 0.0f);
    goToMode(3);  // flat: a hair above black on the byte scale
    bgControl.setColor();
    EXPECT_FLOAT_EQ(bgControl.rrDest, 0.8f);
    EXPECT_FLOAT_EQ(bgControl.bbDest, 0.8f);
    goToMode(6);  // palette: one of the first pixels of row 0
    colors.index = 1;
    bgControl.setColor();
    std::array<int, 3> target = {(int)bgControl.rrDest, (int)bgControl.ggDest, (int)bgControl.bbDest};
    bool found = false;
    for (int k = 0; k <= 12; k++) found = found || palettePixel(1, k) == target;
    EXPECT_TRUE(found);
}

TEST_F(SceneLook, BackgroundEasesFivePercentAndClearsWithIt) {
    lvtest::requireGL();
    bgControl.rr = bgControl.gg = bgControl.bb = 0;
    bgControl.rrDest = 255;
    bgControl.ggDest = 0;
    bgControl.bbDest = 128;
    bgControl.exist();
    EXPECT_FLOAT_EQ(bgControl.rr, 12.75f);
    bgControl.exist();
    EXPECT_NEAR(bgControl.rr, 24.8625f, 1e-4);
    EXPECT_NEAR(bgControl.bb, 12.48f, 1e-3);

    lvtest::RGBA p = lvtest::pixel(100, 100);
    EXPECT_NEAR(p.r, 25, 1);
    EXPECT_EQ(p.g, 0);
    EXPECT_NEAR(p.b, 12, 1);
    EXPECT_EQ(p.a, 255);
}

// ---------------------------------------------------------------- camera

TEST_F(SceneLook, DistanceTargetFollowsTheWellCount) {
    gravityControl.total = 3;
    pov.findPosition();
    EXPECT_GE(pov.targetD, 310.0f);
    EXPECT_LE(pov.targetD, 660.0f);
    EXPECT_EQ(pov.lastGravityTotalForDOffset, 3);
    float first = pov.targetD;
    EXPECT_FLOAT_EQ(pov.d, 550.0f + (550.0f - first) * -0.1f);

    pov.findPosition();  // same count: no new draw
    EXPECT_EQ(pov.targetD, first);

    gravityControl.total = 5;
    pov.findPosition();
    EXPECT_GE(pov.targetD, 350.0f);
    EXPECT_LE(pov.targetD, 700.0f);

    // A beat moves the target even with the count unchanged, and the frame after keeps it.
    for (int i = 0; i < 20; i++) {
        float before = pov.targetD;
        pov.setRandomPosition();
        if (pov.targetD != before) break;
    }
    float jumped = pov.targetD;
    pov.findPosition();
    EXPECT_EQ(pov.targetD, jumped);
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
        float r = pov.r;
        for (int i = 0; i < 50; i++) pov.setPosition();
        EXPECT_EQ(pov.rv, floor);
        EXPECT_NEAR(pov.r, r + 50 * floor, 1e-5);  // still turning
    }
    pov.rv = 0.001f;  // exactly at the floor: not slowed at all
    pov.setPosition();
    EXPECT_EQ(pov.rv, 0.001f);

    bool positive = false, negative = false;
    for (int i = 0; i < 64; i++) {
        pov.setRandomRotation();
        EXPECT_GE(std::fabs(pov.rv), 0.001f);
        EXPECT_LE(std::fabs(pov.rv), 0.01f);
        (pov.rv > 0 ? positive : negative) = true;
    }
    EXPECT_TRUE(positive && negative);
}

TEST_F(SceneLook, CameraLoadsProjectionFromTheCanvas) {
    lvtest::requireGL();
    auto aspect = [] {
        float m[16];
        glGetFloatv(GL_PROJECTION_MATRIX, m);
        return std::fabs(m[5] / m[0]);
    };
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    pov.exist();
    EXPECT_NEAR(aspect(), 640.0f / 480.0f, 1e-4);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    EXPECT_FLOAT_EQ(pov.xRot, -0.25f);  // still: no spin yet
    EXPECT_FLOAT_EQ(pov.yRot, 0.0f);

    gWidescreen = true;
    glLoadIdentity();
    pov.exist();
    EXPECT_NEAR(aspect(), 1.2f * 640.0f / 480.0f, 1e-4);

    pov.r = PI / 2.5f;  // the yaw swings out to a half turn
    pov.setCamera();
    EXPECT_NEAR(pov.yRot, PI, 1e-5);
    glPopMatrix();
}

}  // namespace
