// The analyser on the host's spectrum source: band levels, peaks, saturation,
// beats per section (timed on a virtual clock) and the scene's reactions.
#include <gtest/gtest.h>

#include <cstring>

#include "lumenvortexApplet.h"

namespace {

class SceneSound : public ::testing::Test {
protected:
    VirtualClock clock;
    SoundsSourceiTunes source;
    unsigned char spectrum[2][512];

    void SetUp() override {
        clock.install();
        resetScene();
        sounds.setSource(&source);
        quiet();
    }
    void TearDown() override {
        sounds.setSource(nullptr);
        setClockSource(nullptr);
    }

    void quiet() { std::memset(spectrum, 0, sizeof spectrum); }
    void bins(int from, int to, unsigned char value) {
        for (int i = from; i < to; i++) spectrum[0][i] = spectrum[1][i] = value;
    }
    // One analyser pass with the spectrum as it stands, at the given clock time.
    void passAt(long long millisecond) {
        clock.setMicros(millisecond * 1000);
        source.updateSpectrumData(spectrum);
        sounds.exist();
    }
};

TEST_F(SceneSound, SilenceGivesZeroLevelsAndPeaksThatFlicker) {
    for (int frame = 0; frame < 4; frame++) {
        passAt(frame * 17);
        EXPECT_EQ(sounds.totalMaxed, 0);
        for (int band : {0, 100, 255}) {
            EXPECT_EQ(sounds.getLevel(band), 0.0f);
            // 0 is not above a peak of 0, so the peak sinks to -2 and comes back.
            EXPECT_EQ(sounds.getPeak(band), frame % 2 == 0 ? -2.0f : 0.0f) << frame;
        }
    }
    // Detached, the analyser hears silence too.
    sounds.setSource(nullptr);
    bins(0, 512, 200);
    passAt(100);
    EXPECT_EQ(sounds.getLevel(40), 0.0f);
}

TEST_F(SceneSound, BinTwoFiftyFiveIsTheFloor) {
    bins(255, 256, 200);
    for (int t = 900; t < 5000; t += 100) passAt(t);
    EXPECT_EQ(sounds.getLevel(255), 0.0f);
    EXPECT_LT(sounds.getLevel(0), 0.0f);
    EXPECT_LT(sounds.getLevel(254), 0.0f);
    for (SoundSection* section : sounds.soundSections) EXPECT_EQ(section->numBeats, 0);

    // Full scale everywhere but the floor bin: the treble tilt saturates from band 228 on.
    quiet();
    bins(0, 255, 255);
    passAt(5100);
    EXPECT_FALSE(sounds.maxed[227]);
    EXPECT_TRUE(sounds.maxed[228]);
    EXPECT_FALSE(sounds.maxed[255]);
    EXPECT_EQ(sounds.totalMaxed, 254 - 228 + 1);
    EXPECT_FLOAT_EQ(sounds.getLevel(0), 255 * 0.7f * 0.5f);
}

TEST_F(SceneSound, BeatsNeedMoreThan800MillisecondsAndARisingMean) {
    SoundSection& section3 = *sounds.soundSections[3];
    ASSERT_EQ(section3.indexStart, 60);
    ASSERT_EQ(section3.indexEnd, 124);
    bins(60, 124, 60);

    passAt(800);  // exactly 800 ms after construction: too soon
    EXPECT_EQ(section3.numBeats, 0);
    float rvBefore = pov.rv;
    passAt(801);
    EXPECT_EQ(section3.numBeats, 1);
    EXPECT_NE(pov.rv, rvBefore);  // section 3 spins the camera
    float reference = section3.peak;
    EXPECT_EQ(reference, section3.average[0]);

    bins(60, 124, 90);  // louder, but only 800 ms later
    passAt(1601);
    EXPECT_EQ(section3.numBeats, 1);
    passAt(1602);
    EXPECT_EQ(section3.numBeats, 2);

    // The same mean again, long after: not above the reference, no beat.
    passAt(5000);
    EXPECT_EQ(section3.numBeats, 2);
    // The quiet sections never beat on a loud section 3.
    EXPECT_EQ(sounds.soundSections[0]->numBeats, 0);
    EXPECT_EQ(sounds.soundSections[4]->numBeats, 0);

    // Fifty passes after a beat the reference starts to sink by 1 % a pass.
    float held = section3.peak;
    quiet();
    for (int i = 0; i < 49; i++) passAt(6000 + i);
    EXPECT_EQ(section3.beatCounter, 50);
    EXPECT_EQ(section3.peak, held);
    passAt(7000);
    EXPECT_FLOAT_EQ(section3.peak, held * 0.99f);
}

TEST_F(SceneSound, UpperSectionBeatsMoveTheScene) {
    sounds.trigger(0);
    sounds.trigger(1);
    EXPECT_EQ(colors.index, 0);

    sounds.trigger(2);
    EXPECT_EQ(colors.index, 1);
    EXPECT_NE(pov.rv, 0.0f);

    float r = pov.r;
    sounds.trigger(3);
    EXPECT_NE(pov.r, r);

    // Section 4 sets 1 to 4 wells, never none.
    bool seen[6] = {};
    for (int i = 0; i < 400; i++) {
        sounds.trigger(4);
        ASSERT_GE(gravityControl.total, 1);
        ASSERT_LE(gravityControl.total, 5);
        seen[gravityControl.total] = true;
    }
    EXPECT_TRUE(seen[1] && seen[2] && seen[3] && seen[4]);
}

}  // namespace
