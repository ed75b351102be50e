// The applet on a real GL context and a virtual clock: frame pacing, the key
// table, and several hundred frames driven by a scripted spectrum.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

#include "gl_test_env.h"
#include "lumenvortexApplet.h"

namespace {

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
    particleControl.total = 150;
    for (int want : {50, 50}) {   // s subtracts 100 down to 0 at most
        applet.keyPressed('s');
        EXPECT_EQ(particleControl.total, want);
    }
    for (bool startFlow : {false, true}) {   // p toggles the flow and its repel strength
        gMode.setPerlinFlow(startFlow);
        float repel = gMode.particleRepelStrength();
        applet.keyPressed('p');
        EXPECT_NE(gMode.perlinFlow(), startFlow);
        applet.keyPressed('p');
        EXPECT_EQ(gMode.particleRepelStrength(), repel);
    }
    float gain = sounds.multi;
    for (auto [key, want] : {std::pair{'+', gain * 1.25f}, {'-', gain}, {'=', gain * 1.25f}}) {
        applet.keyPressed(key);
        EXPECT_FLOAT_EQ(sounds.multi, want) << key;
    }
    applet.keyPressed('r');
    EXPECT_EQ(sounds.multi, 0.5f);
    EXPECT_EQ(particleControl.total, 525);
    for (char key : {'/', '?'}) {
        applet.keyPressed(key);
        EXPECT_NE(gLastInfoPanelInvocation, 0);
        applet.keyPressed(key);
        EXPECT_EQ(gLastInfoPanelInvocation, 0);
    }
}

// Several hundred frames with bursts in the upper sections: beats fire and the
// scene reacts (palette, background target, camera spin, well count).
TEST_F(SceneFrame, MusicDrivesTheScene) {
    SoundsSourceiTunes source;
    applet.setSoundsSource(&source);
    particleControl.total = 24;   // the reactions are the subject, not the field
    applet.setup();
    applet.setupPostGL(false);

    unsigned char spectrum[2][512];
    std::set<int> palettes;
    int backgroundChanges = 0;
    float lastTarget[3] = {bgControl.rrDest, bgControl.ggDest, bgControl.bbDest};
    for (int frame = 0; frame < 600; frame++) {
        std::memset(spectrum, 12, sizeof spectrum);   // a low hum everywhere
        spectrum[0][255] = spectrum[1][255] = 4;
        // A burst every 70 frames, each section in turn louder than before.
        if (frame % 70 < 3) {
            int section = 2 + (frame / 70) % 3;
            for (int i = Sounds::sectionIndex[section]; i < Sounds::sectionIndex[section + 1]; i++)
                spectrum[0][i] = spectrum[1][i] = (unsigned char)(120 + frame / 10);
        }
        source.updateSpectrumData(spectrum);
        applet.draw();

        palettes.insert(colors.index);
        float target[3] = {bgControl.rrDest, bgControl.ggDest, bgControl.bbDest};
        backgroundChanges += std::memcmp(target, lastTarget, sizeof target) != 0;
        std::memcpy(lastTarget, target, sizeof target);
    }

    for (int section = 2; section <= 4; section++)
        EXPECT_GE(sounds.soundSections[section]->numBeats, 2) << section;
    EXPECT_EQ(sounds.soundSections[0]->numBeats, 0);
    EXPECT_GE(palettes.size(), 3u);
    EXPECT_GE(backgroundChanges, 1);
    EXPECT_NE(pov.rv, 0.0f);
    EXPECT_GE(gravityControl.total, 1);

    // Holding '+' for a long while must not throw the wells' forces out of
    // float range, which would leave the field NaN for good.
    for (int i = 0; i < 400; i++) applet.keyPressed('+');
    for (int frame = 0; frame < 30; frame++) applet.draw();
    for (const Gravity& g : gravityControl.myList) EXPECT_TRUE(std::isfinite(g.loc.magnitude()));
    for (const Particle& p : particleControl.myList) EXPECT_TRUE(std::isfinite(p.loc.magnitude()));
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    applet.setSoundsSource(nullptr);
}

}  // namespace
