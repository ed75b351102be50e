// The analyser on the host's spectrum source: band levels, peaks, beats per
// section (timed on a virtual clock) and the scene's reactions.
#include <gtest/gtest.h>

#include <algorithm>

#include "lumenvortexApplet.h"

namespace {

class SceneSound : public ::testing::Test {
protected:
    VirtualClock clock;
    SoundsSourceiTunes source;
    unsigned char spectrum[2][512] = {};

    void SetUp() override {
        clock.install();
        resetScene();
        sounds.setSource(&source);
    }
    void TearDown() override {
        sounds.setSource(nullptr);
        setClockSource(nullptr);
    }
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

TEST_F(SceneSound, SilencePeaksFlickerBin255IsTheFloorAndTheTrebleWeighsMore) {
    for (int frame = 0; frame < 4; frame++) {
        passAt(frame * 17);
        for (int band : {0, 100, 255}) {
            EXPECT_EQ(sounds.getLevel(band), 0.0f);
            // 0 is not above a peak of 0, so the peak sinks to -2 and comes back.
            EXPECT_EQ(sounds.getPeak(band), frame % 2 == 0 ? -2.0f : 0.0f) << frame;
        }
    }
    // The last bin is subtracted from every band: alone it is always 0, and
    // it never beats.
    bins(255, 256, 200);
    for (int t = 900; t < 5000; t += 100) passAt(t);
    EXPECT_EQ(sounds.getLevel(255), 0.0f);
    EXPECT_LT(sounds.getLevel(0), 0.0f);
    for (SoundSection* section : sounds.soundSections) EXPECT_EQ(section->numBeats, 0);

    // Bands weigh 0.7 + band / 768, so the treble counts for more: at half
    // gain full bins saturate from band 228 up.
    bins(0, 255, 255);
    bins(255, 256, 0);
    passAt(5000);
    EXPECT_FLOAT_EQ(sounds.getLevel(0), 255 * 0.7f * 0.5f);
    EXPECT_FLOAT_EQ(sounds.getLevel(192), 255 * 0.95f * 0.5f);
    EXPECT_TRUE(!sounds.maxed[227] && sounds.maxed[228] && sounds.totalMaxed == 254 - 228 + 1);
}

// Each section averages exactly its own bands (band 255 belongs to none) and
// beats only when its mean passes 16 - 2 x its index.
TEST_F(SceneSound, SectionsHearTheirOwnBandsAndBeatAboveTheirThresholds) {
    const int edges[6] = {0, 12, 28, 60, 124, 255};
    clock.setMicros(1000000);
    for (int s = 0; s < 5; s++) {
        SoundSection& section = *sounds.soundSections[s];
        const float threshold = 16.0f - 2 * s;
        for (float over : {0.0f, 0.25f}) {   // equal is not enough
            for (int b = 0; b < Sounds::numBands; b++)
                sounds.levels[b] = (b >= edges[s] && b < edges[s + 1] ? threshold + over : 1000.0f) / sounds.multi;
            section.exist();
            EXPECT_EQ(section.average[0], threshold + over) << s;
            EXPECT_EQ(section.numBeats, over > 0 ? 1 : 0) << s;
        }
    }
}

TEST_F(SceneSound, BeatsNeedMoreThan800MillisecondsAndARisingMean) {
    const long long wrap = 1LL << 31;
    const struct {
        long long millisecond;
        unsigned char level;   // of section 3's bins
        int beats;             // section 3's, so far
    } steps[] = {
        {800, 60, 0},   // exactly 800 ms after construction: too soon
        {801, 60, 1},
        {1601, 90, 1},   // louder, but only 800 ms later
        {1602, 90, 2},
        {5000, 90, 2},   // the same mean again, long after: not above the reference
        // The 32-bit beat timers wrap after 24.8 days; the gap still holds across the wrap.
        {wrap - 100, 120, 3},
        {wrap + 700, 150, 3},
        {wrap + 701, 150, 4},
    };
    for (const auto& step : steps) {
        bins(60, 124, step.level);
        passAt(step.millisecond);
        EXPECT_EQ(sounds.soundSections[3]->numBeats, step.beats) << "at " << step.millisecond << " ms";
    }
    EXPECT_EQ(sounds.soundSections[0]->numBeats, 0);
}

TEST_F(SceneSound, SectionFourSetsOneToFourWellsNeverNone) {
    bool seen[7] = {};   // 5 only at the draw's very top
    for (int i = 0; i < 400; i++) {
        sounds.trigger(4);
        seen[std::clamp(gravityControl.total, 0, 6)] = true;
    }
    EXPECT_TRUE(!seen[0] && seen[1] && seen[2] && seen[3] && seen[4] && !seen[6]);
}

}  // namespace
