// The highlight search on music the test writes: where the drums strike and
// the loud part lies is known to the sample, so the beats found and the
// stretch chosen can be held to it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "highlight.h"
#include "program_test_support.h"

namespace {

constexpr double kFirstStrike = 0.75, kStrikeEvery = 0.5;

// A drum struck every half second over a quiet hum, struck hard from
// `loudFrom` for `loudFor` seconds (the strikes' count is the test's unit).
std::vector<float> drums(double seconds, double loudFrom, double loudFor) {
    std::vector<float> out(size_t(seconds * SAMPLE_RATE) * 2);
    uint32_t noise = 1;
    for (size_t f = 0; f < out.size() / 2; ++f) {
        const double t = double(f) / SAMPLE_RATE;
        double v = 0.01 * std::sin(2 * M_PI * 220 * t);
        const double since = std::fmod(t - kFirstStrike + 100 * kStrikeEvery, kStrikeEvery);
        if (t >= kFirstStrike && since < 0.15) {
            noise = noise * 1664525u + 1013904223u;
            const double hit = std::exp(-since * 30) * (std::sin(2 * M_PI * 90 * since) + double(noise >> 8) / 16777216.0 - 0.5);
            v += (t >= loudFrom && t < loudFrom + loudFor ? 0.8 : 0.1) * hit;
        }
        out[2 * f] = out[2 * f + 1] = float(v);
    }
    return out;
}

// A time in frames.
long long at(double seconds) { return std::llround(seconds * SAMPLE_RATE); }

}  // namespace

// Every strike is a beat, within a window's half (12 ms), and nothing else
// is; the loudest five seconds start on the strike that opens the loud part,
// though the loudness alone only knows it to 100 ms.
TEST(Highlight, TheLoudestStretchStartsOnTheBeatThatOpensIt) {
    lvtest::TempDir dir;
    const double loudFrom = kFirstStrike + 10 * kStrikeEvery;   // 5.75 s
    lvtest::writeWav(dir / "drums.wav", drums(14.0, loudFrom, 5.0));
    TrackLoudness track;
    std::string error;
    ASSERT_TRUE(measureTrack(dir / "drums.wav", track, error)) << error;
    EXPECT_EQ(track.frames, 14 * SAMPLE_RATE);
    ASSERT_EQ(track.beats.size(), size_t((14.0 - kFirstStrike) / kStrikeEvery) + 1);
    for (size_t i = 0; i < track.beats.size(); ++i)
        EXPECT_NEAR(double(track.beats[i]) / SAMPLE_RATE, kFirstStrike + double(i) * kStrikeEvery, 0.012) << i;
    const Stretch stretch = loudestStretch(track, 5 * SAMPLE_RATE);
    EXPECT_NEAR(double(stretch.begin) / SAMPLE_RATE, loudFrom, 0.012);
    EXPECT_EQ(stretch.end - stretch.begin, 5 * SAMPLE_RATE);

    EXPECT_FALSE(measureTrack(dir / "none.wav", track, error));
    EXPECT_NE(error.find("none.wav"), std::string::npos) << error;
}

// The search's edges on readings made up: a track no longer than the
// stretch is whole, a beat more than a second off is another part of the
// music, and a stretch moved to a beat stays inside the track.
TEST(Highlight, AStretchStaysInsideItsTrackAndNearItsLoudness) {
    TrackLoudness track;
    track.frames = 20 * SAMPLE_RATE;
    // Loud from 10 to 15 s: the readings whose 3 s lie within it.
    track.shortTerm.assign(200, -40.0);
    for (size_t i = 129; i < 150; ++i) track.shortTerm[i] = -10.0;
    const long long five = 5 * SAMPLE_RATE;
    EXPECT_EQ(loudestStretch(track, five).begin, 10 * SAMPLE_RATE) << "no beats: where the loudness is";
    track.beats = {at(8.5), at(11.6)};
    EXPECT_EQ(loudestStretch(track, five).begin, 10 * SAMPLE_RATE) << "no beat within a second";
    track.beats = {at(9.2), at(10.7)};
    EXPECT_EQ(loudestStretch(track, five).begin, at(10.7)) << "the nearer beat";
    track.shortTerm.assign(200, -40.0);
    track.shortTerm[199] = -10.0;   // the last 3 s
    track.beats = {at(15.8)};
    EXPECT_EQ(loudestStretch(track, five).end, track.frames) << "moved past the end";
    EXPECT_EQ(loudestStretch(track, 25 * SAMPLE_RATE).begin, 0);
    EXPECT_EQ(loudestStretch(track, 25 * SAMPLE_RATE).end, track.frames);
}
