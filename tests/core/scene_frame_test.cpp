// The applet on a real GL context and a virtual clock: frame pacing, the start-up
// pause, the key table, the shared textures, the help panel, and a run of
// several hundred frames driven by a scripted spectrum.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

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
};

TEST_F(SceneFrame, FramesStartAtLeast16MillisecondsApart) {
    long before = millis();
    applet.setup();
    EXPECT_GT(millis() - before, 499);
    applet.setupPostGL(false);

    // The first frame comes after the start-up pause and never waits.
    long long t = clock.mMicros;
    applet.draw();
    EXPECT_EQ(clock.mMicros, t);
    EXPECT_FLOAT_EQ(gFrameStartTime, millis() / 1000.0f);

    // 5 ms after a frame start: two sleeps (clock reads 13, then 21).
    long long frameStart = clock.mMicros;
    clock.advanceMicros(5000);
    applet.draw();
    EXPECT_EQ(clock.mMicros - frameStart, 5000 + 2 * 8333);
    EXPECT_FLOAT_EQ(gFrameStartTime, millis() / 1000.0f);

    // 20 ms after: at once.
    clock.advanceMicros(20000);
    t = clock.mMicros;
    applet.draw();
    EXPECT_EQ(clock.mMicros, t);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

TEST_F(SceneFrame, KeysTuneTheScene) {
    particleControl.total = 150;
    applet.keyPressed('s');
    EXPECT_EQ(particleControl.total, 50);
    applet.keyPressed('s');
    EXPECT_EQ(particleControl.total, 50);
    applet.keyPressed('a');
    EXPECT_EQ(particleControl.total, 150);

    for (bool startFlow : {false, true}) {
        gMode.setPerlinFlow(startFlow);
        float repel = gMode.particleRepelStrength();
        applet.keyPressed('p');
        EXPECT_NE(gMode.perlinFlow(), startFlow);
        applet.keyPressed('p');
        EXPECT_EQ(gMode.perlinFlow(), startFlow);
        EXPECT_EQ(gMode.particleRepelStrength(), repel);
    }

    float gain = sounds.multi;
    applet.keyPressed('+');
    EXPECT_FLOAT_EQ(sounds.multi, gain * 1.25f);
    applet.keyPressed('-');
    EXPECT_FLOAT_EQ(sounds.multi, gain);
    applet.keyPressed('=');
    applet.keyPressed('=');
    applet.keyPressed('r');
    EXPECT_EQ(sounds.multi, 0.5f);
    EXPECT_EQ(particleControl.total, 525);

    for (char key : {'/', '?'}) {
        applet.keyPressed(key);
        EXPECT_NE(gLastInfoPanelInvocation, 0);
        applet.keyPressed(key);
        EXPECT_EQ(gLastInfoPanelInvocation, 0);
    }

    clock.setMicros(1234000);
    applet.keyPressed('i');
    EXPECT_EQ(gMillisSinceTrackChange, 1234);

    applet.keyPressed('h');
    EXPECT_EQ(colors.index, 1);

    // Cycling off: track changes leave the mode, the m key still moves it.
    applet.keyPressed('c');
    applet.iTunesTrackChanged();
    EXPECT_EQ(gMode.currentMode(), 0);
    applet.keyPressed('m');
    EXPECT_EQ(gMode.currentMode(), 1);
    applet.keyPressed('c');
    applet.iTunesTrackChanged();
    EXPECT_EQ(gMode.currentMode(), 2);

    applet.keyPressed('x');
    EXPECT_EQ(gMode.currentMode(), 2);
    EXPECT_EQ(particleControl.total, 525);
}

TEST_F(SceneFrame, EveryContextGetsSixNewTextures) {
    applet.setupPostGL(false);
    PImage* first[] = {orb, haloOrb, rainbow, rainbowBlur, gradientBar, infoPanel};
    std::set<GLuint> names;
    for (PImage* image : first) {
        ASSERT_NE(image, nullptr);
        EXPECT_TRUE(glIsTexture(image->GetTexID()));
        names.insert(image->GetTexID());
    }
    EXPECT_EQ(names.size(), 6u);
    EXPECT_EQ(rainbowBlur->GetWidth(), 512);
    EXPECT_EQ(infoPanel->GetHeight(), 256);

    // The bar's grey bump arrives as opaque RGBA.
    std::vector<unsigned char> bar(256 * 256 * 4);
    glBindTexture(GL_TEXTURE_2D, gradientBar->GetTexID());
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, bar.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    const unsigned char* row9 = bar.data() + 9 * 256 * 4;
    EXPECT_EQ(row9[0], 0);
    EXPECT_EQ(row9[128 * 4], 255);
    EXPECT_EQ(row9[128 * 4 + 1], row9[128 * 4 + 2]);
    EXPECT_EQ(row9[64 * 4 + 3], 255);

    // Mode 0 state and a clean model-view.
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    float m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_EQ(m[0], 1.0f);
    EXPECT_EQ(m[12], 0.0f);

    applet.setupPostGL(true);
    PImage* second[] = {orb, haloOrb, rainbow, rainbowBlur, gradientBar, infoPanel};
    for (int i = 0; i < 6; i++) {
        EXPECT_TRUE(glIsTexture(second[i]->GetTexID()));
        EXPECT_EQ(names.count(second[i]->GetTexID()), 0u) << i;
    }
}

TEST_F(SceneFrame, HelpPanelCoversItsSquareAndRestoresState) {
    applet.setupPostGL(false);
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glEnable(GL_DEPTH_TEST);

    renderInfoPanel();

    GLint src = 0, dst = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    EXPECT_EQ(src, GL_SRC_ALPHA);
    EXPECT_EQ(dst, GL_ONE);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));

    // The panel's translucent backdrop darkens white to about 56 %; outside stays white.
    auto darkened = [](int x, int y) { return lvtest::pixel(x, y).r < 200; };
    EXPECT_FALSE(darkened(9, 9));
    EXPECT_FALSE(darkened(266, 266));
    EXPECT_FALSE(darkened(300, 100));
    int dark = 0, inside = 0;
    for (int y = 12; y < 264; y += 4)
        for (int x = 12; x < 264; x += 4, inside++) dark += darkened(x, y);
    EXPECT_GT(dark, inside * 3 / 4);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

// Several hundred frames with bursts in the upper sections: beats fire and the
// scene reacts (palette, background target, camera spin, well count).
TEST_F(SceneFrame, MusicDrivesTheScene) {
    SoundsSourceiTunes source;
    applet.setSoundsSource(&source);
    // The reactions are the subject here, not the field: a small one keeps the
    // software rasteriser quick.
    particleControl.total = 24;
    applet.setup();
    applet.setupPostGL(false);

    unsigned char spectrum[2][512];
    std::set<int> palettes;
    int backgroundChanges = 0;
    float lastTarget[3] = {bgControl.rrDest, bgControl.ggDest, bgControl.bbDest};
    for (int frame = 0; frame < 600; frame++) {
        std::memset(spectrum, 12, sizeof spectrum);  // a low hum everywhere
        spectrum[0][255] = spectrum[1][255] = 4;
        // A burst every 70 frames, each section in turn louder than before.
        if (frame % 70 < 3) {
            int section = 2 + (frame / 70) % 3;
            int from = Sounds::sectionIndex[section], to = Sounds::sectionIndex[section + 1];
            for (int i = from; i < to; i++) spectrum[0][i] = spectrum[1][i] = (unsigned char)(120 + frame / 10);
        }
        source.updateSpectrumData(spectrum);
        applet.draw();

        palettes.insert(colors.index);
        float target[3] = {bgControl.rrDest, bgControl.ggDest, bgControl.bbDest};
        if (std::memcmp(target, lastTarget, sizeof target) != 0) backgroundChanges++;
        std::memcpy(lastTarget, target, sizeof target);
    }

    for (int section = 2; section <= 4; section++)
        EXPECT_GE(sounds.soundSections[section]->numBeats, 2) << section;
    EXPECT_EQ(sounds.soundSections[0]->numBeats, 0);
    EXPECT_GE(palettes.size(), 3u);
    EXPECT_GE(backgroundChanges, 1);
    EXPECT_NE(pov.rv, 0.0f);
    EXPECT_GE(gravityControl.total, 1);
    EXPECT_GT(gFrameStartTime, 10.0f);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

}  // namespace
