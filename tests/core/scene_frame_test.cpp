// The applet on a real GL context and a virtual clock: frame pacing, the key
// table, and the scene's look (each mode's GL state, the palette chooser, the
// eased background and the camera).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "field_scenario.h"
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

class SceneFrame : public ::testing::Test {
protected:
    VirtualClock clock;
    LumenvortexApplet applet;

    void SetUp() override {
        lvtest::requireGL();
        clock.install();
        resetScene();
        applet.mWidth = lvtest::canvasWidth();
        applet.mHeight = lvtest::canvasHeight();
        gApplet = &applet;
        gWidescreen = false;
    }
    void TearDown() override {
        gApplet = nullptr;
        setClockSource(nullptr);
    }
    // How far the clock moved while one frame was drawn `after` µs later.
    long long drawAfter(long long after) {
        clock.advanceMicros(after);
        long long t = clock.mMicros;
        applet.draw();
        return clock.mMicros - t;
    }
};

TEST_F(SceneFrame, FramesStartAtLeast16MillisecondsApart) {
    applet.setup();
    EXPECT_GT(millis(), 499);   // the start-up pause
    applet.setupPostGL(false);
    EXPECT_EQ(drawAfter(0), 0);   // the first frame never waits
    // 5 ms after a frame start: two 8333 µs sleeps (the clock reads 13, then 21).
    EXPECT_EQ(drawAfter(5000), 2 * 8333);
    EXPECT_FLOAT_EQ(gFrameStartTime, millis() / 1000.0f);
    EXPECT_EQ(drawAfter(20000), 0);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(SceneFrame, KeysTuneTheScene) {
    particleControl.total = 200;
    for (int want : {100, 100}) {   // s subtracts 100 while more than 100 are left
        applet.keyPressed('s');
        EXPECT_EQ(particleControl.total, want);
    }
    for (float repel : {0.2f, 1.0f}) {   // p toggles the flow and its repel strength
        applet.keyPressed('p');
        EXPECT_TRUE(gMode.perlinFlow() == (repel == 0.2f) && gMode.particleRepelStrength() == repel);
    }
    float gain = sounds.multi;
    for (auto [key, want] : {std::pair{'+', gain * 1.25f}, {'-', gain}, {'=', gain * 1.25f}}) {
        applet.keyPressed(key);
        EXPECT_FLOAT_EQ(sounds.multi, want) << key;
    }
    applet.keyPressed('r');
    EXPECT_EQ(sounds.multi, 0.5f);
    EXPECT_EQ(particleControl.total, 525);
    applet.keyPressed('/');
    EXPECT_NE(gLastInfoPanelInvocation, 0);
    applet.keyPressed('?');   // the same key, shifted
    EXPECT_EQ(gLastInfoPanelInvocation, 0);
}

// Held down long enough, '+' once took the gain to where the wells' forces
// overflow float, and the field stayed NaN for good.
TEST_F(SceneFrame, HoldingPlusLeavesTheFieldFinite) {
    SoundsSourceiTunes source;
    unsigned char spectrum[2][512];
    std::memset(spectrum, 200, sizeof spectrum);
    spectrum[0][255] = spectrum[1][255] = 4;   // the floor every band is measured from
    source.updateSpectrumData(spectrum);
    applet.setSoundsSource(&source);
    particleControl.total = 24;
    gravityControl.total = 3;
    applet.setupPostGL(false);
    for (int i = 0; i < 400; i++) applet.keyPressed('+');
    for (int frame = 0; frame < 30; frame++) applet.draw();
    for (const Gravity& g : gravityControl.myList) EXPECT_TRUE(std::isfinite(g.loc.magnitude()));
    for (const Particle& p : particleControl.myList) EXPECT_TRUE(std::isfinite(p.loc.magnitude()));
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    applet.setSoundsSource(nullptr);
}

// Flat modes test and write depth and clear it; the others add glows up
// without depth.
TEST_F(SceneFrame, EachModeSetsItsDepthAndBlendState) {
    for (int mode = 0; mode < 7; mode++, gMode.nextMode()) {
        glDepthMask(GL_TRUE);   // mark the depth buffer: does the set-up clear it?
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
        EXPECT_EQ(glIsEnabled(GL_DEPTH_TEST) != GL_FALSE, flat) << mode;
        EXPECT_EQ(glIsEnabled(GL_BLEND) != GL_FALSE, !flat) << mode;
        EXPECT_NEAR(depth, flat ? 1.0f : 0.25f, 1e-3) << mode;
        EXPECT_TRUE(flat || (src == GL_SRC_ALPHA && dst == GL_ONE)) << mode;
    }
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(SceneFrame, PaletteCyclesClampsAndPicksColumnThenRow) {
    for (int step = 1; step <= 4; step++) {
        colors.setIndex();
        EXPECT_EQ(colors.index, step % 4);
    }
    EXPECT_EQ(rgb(colors.getColor(-5, false)), rgb(imageData[0]));
    EXPECT_EQ(rgb(colors.getColor(1000, true)), rgb(imageData[0] + 3 * 399));

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
TEST_F(SceneFrame, PaletteChangeRecoloursAroundTheOldHueBase) {
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

TEST_F(SceneFrame, BackgroundTargetByModeThenEasedPerChannel) {
    for (auto [mode, level] : {std::pair{2, 0.0f}, {3, 0.8f}}) {   // black and white; flat
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

// A mode change takes the next palette and hue base, then a background for
// the new mode around that base, and last draws the flow: on below 0.34.
// Into the hue mode 5 each step shows in the draws of the ones after it.
TEST_F(SceneFrame, ModeChangeStepsInOrderAndDrawsTheFlowLast) {
    struct Steps { unsigned seed; float base; RGB background; } below{}, above{};   // draws either side of 0.34
    toMode(5);
    for (unsigned seed = 1; seed < 100000 && !(below.seed && above.seed); seed++) {
        colors.index = 1, colors.mHSBHueBase = 100;
        srand(seed);
        colors.setIndex();
        bgControl.setColor();
        float r = random(1.0f);
        Steps& side = r < 0.34f ? below : above;
        if (r >= 0.339f && r < 0.341f) side = Steps{seed, colors.mHSBHueBase, target()};
    }
    for (const Steps* want : {&below, &above}) {
        toMode(4);
        colors.index = 1, colors.mHSBHueBase = 100;
        srand(want->seed);
        gMode.nextMode();
        EXPECT_TRUE(gMode.maxParticleSize() == 1.5f && glIsEnabled(GL_DEPTH_TEST));   // mode 5's size and GL state
        EXPECT_TRUE(colors.index == 2 && colors.mHSBHueBase == want->base && target() == want->background);
        EXPECT_EQ(gMode.perlinFlow(), want == &below) << want->seed;
        EXPECT_EQ(gMode.particleRepelStrength(), want == &below ? 0.2f : 1.0f);
    }
}

// From 550 the distance eases a tenth of the way a frame to 250..600 plus 20
// a well, drawn again only when the count changes. The view is pushed back by
// the distance, pitched by the spin less 0.25, then yawed by pi x sin(1.25 x spin),
// through a lens of the canvas's proportions.
TEST_F(SceneFrame, CameraEasesToItsDistanceThenPitchesAndYaws) {
    pov.r = 0.2f;
    const int wells[3] = {3, 3, 5};
    float d = 550, target = 0;
    for (int frame = 0; frame < 3; frame++) {
        gravityControl.total = wells[frame];
        srand(frame + 1);
        if (frame != 1) target = random(250.0f, 600.0f) + 20 * wells[frame];
        srand(frame + 1);
        glLoadIdentity();
        pov.exist();
        d += (target - d) * 0.1f;
        EXPECT_EQ(pov.targetD, target) << frame;
        EXPECT_FLOAT_EQ(pov.d, d) << frame;
    }
    float m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_NEAR(m[14], -d, 1e-3);                              // the centre, d ahead
    EXPECT_NEAR(m[6], std::sin(0.2 - 0.25), 1e-5);             // the up axis tipped by the pitch
    EXPECT_NEAR(m[8], std::sin(PI * std::sin(0.25)), 1e-5);    // the depth axis swung by the yaw
    // The lens keeps the canvas's proportions: 640 x 480, four to three.
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    EXPECT_NEAR(std::fabs(m[5] / m[0]), 640.0 / 480.0, 1e-4);
}

// The share of the field's particles the camera puts inside a canvas of
// this size.
float shareInView(LumenvortexApplet& applet, int width, int height) {
    applet.mWidth = width;
    applet.mHeight = height;
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    pov.setCamera();
    float p[16], v[16];
    glGetFloatv(GL_PROJECTION_MATRIX, p);
    glGetFloatv(GL_MODELVIEW_MATRIX, v);
    int inside = 0;
    for (const Particle& q : particleControl.myList) {
        const float in[4] = {q.loc.x, q.loc.y, q.loc.z, 1}, *m[2] = {v, p};
        float a[4], b[4];
        std::memcpy(a, in, sizeof a);
        for (const float* mat : m) {   // column-major, as GL keeps them
            for (int r = 0; r < 4; r++) b[r] = mat[r] * a[0] + mat[4 + r] * a[1] + mat[8 + r] * a[2] + mat[12 + r] * a[3];
            std::memcpy(a, b, sizeof a);
        }
        inside += a[3] > 0 && std::fabs(a[0]) <= a[3] && std::fabs(a[1]) <= a[3];
    }
    return float(inside) / float(particleControl.myList.size());
}

// A phone's 9:16 frame sees the whole field, as the landscape frame does,
// not the slice of its middle that the landscape lens would leave; a
// square frame needs no wider lens.
TEST_F(SceneFrame, PortraitFramesKeepTheFieldInView) {
    lvscenario::growField(525, 4, false, true, 120);
    gApplet = &applet;
    pov.d = 550;
    for (float r : {0.0f, 1.0f, 2.5f}) {
        pov.r = r;
        const float landscape = shareInView(applet, 1280, 720);
        EXPECT_GT(landscape, 0.95f) << r;
        EXPECT_GE(shareInView(applet, 1080, 1920), landscape - 0.01f) << r;
        EXPECT_GE(shareInView(applet, 1080, 1080), landscape - 0.01f) << r;
    }
    // Landscape and square frames keep the lens they had.
    for (auto [w, h] : {std::pair{1280, 720}, std::pair{1080, 1080}, std::pair{640, 480}}) {
        shareInView(applet, w, h);
        float m[16];
        glGetFloatv(GL_PROJECTION_MATRIX, m);
        EXPECT_NEAR(std::fabs(m[5]), 1 / std::tan(PI / 6), 1e-4) << w << "x" << h;
    }
}

TEST_F(SceneFrame, SpinDecaysToItsFloorAndHolds) {
    for (float start : {0.01f, -0.01f}) {
        pov.rv = start;
        int frames = 0;
        for (; std::fabs(pov.rv) > POV::RANDOM_ROTATION_MIN && frames < 1000; frames++) pov.setPosition();
        EXPECT_NEAR(frames, 230, 2) << start;
        float floor = pov.rv;
        EXPECT_EQ(floor > 0, start > 0);
        pov.setPosition();
        EXPECT_EQ(pov.rv, floor);
    }
    pov.rv = 0.001f;   // exactly at the floor: not slowed at all
    pov.setPosition();
    EXPECT_EQ(pov.rv, 0.001f);
}

}  // namespace
