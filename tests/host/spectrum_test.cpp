// The spectrum the player feeds the visualizer: where a tone lands, how the
// scale behaves, and whether the built-in demo makes the visualizer's own
// analyser beat in its upper sections.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "demo_song.h"
#include "lumenvortexApplet.h"
#include "spectrum.h"

namespace {

constexpr int N = SpectrumAnalyzer::WINDOW_FRAMES;

std::vector<float> tone(double hz, float left, float right) {
    std::vector<float> w(size_t(N) * 2);
    for (int i = 0; i < N; ++i) {
        float s = float(std::sin(2.0 * M_PI * hz * i / 44100.0));
        w[size_t(i) * 2] = s * left;
        w[size_t(i) * 2 + 1] = s * right;
    }
    return w;
}

int peakBin(const uint8_t (&channel)[512]) { return int(std::max_element(channel, channel + 512) - channel); }

}  // namespace

TEST(Spectrum, ToneLandsInItsBinInBothChannels) {
    SpectrumAnalyzer analyzer;
    uint8_t spectrum[2][512], waveform[2][512];
    // bin = hz / (44100 / 1024)
    for (auto [hz, bin] : std::vector<std::pair<double, int>>{{1000, 23}, {440, 10}, {5000, 116}, {10000, 232}}) {
        auto w = tone(hz, 0.5f, 0.5f);
        analyzer.compute(w.data(), spectrum, waveform);
        EXPECT_EQ(peakBin(spectrum[0]), bin) << hz << " Hz";
        EXPECT_EQ(peakBin(spectrum[1]), bin) << hz << " Hz";
        // A clean tone is a narrow line, not a smear over the section.
        EXPECT_GT(spectrum[0][bin] - spectrum[0][bin + 6], 60) << hz << " Hz";
    }
}

TEST(Spectrum, ChannelsStaySeparateAndSilenceIsZero) {
    SpectrumAnalyzer analyzer;
    uint8_t spectrum[2][512], waveform[2][512];
    auto leftOnly = tone(1000, 0.5f, 0.0f);
    analyzer.compute(leftOnly.data(), spectrum, waveform);
    EXPECT_GT(spectrum[0][23], 100);
    EXPECT_EQ(*std::max_element(spectrum[1], spectrum[1] + 512), 0);
    EXPECT_EQ(waveform[1][100], 128);

    std::vector<float> silence(size_t(N) * 2, 0.0f);
    analyzer.compute(silence.data(), spectrum, waveform);
    for (int c = 0; c < 2; ++c) EXPECT_EQ(*std::max_element(spectrum[c], spectrum[c] + 512), 0);
}

TEST(Spectrum, ScaleIsDecibelsWithHeadroom) {
    SpectrumAnalyzer analyzer;
    uint8_t loud[2][512], half[2][512], waveform[2][512];
    auto full = tone(1000, 1.0f, 1.0f), quieter = tone(1000, 0.5f, 0.5f);
    analyzer.compute(full.data(), loud, waveform);
    analyzer.compute(quieter.data(), half, waveform);
    // 6 dB less is the same number of steps lower wherever the tone sits.
    EXPECT_NEAR(loud[0][23] - half[0][23], 6.02 * SpectrumAnalyzer::BYTES_PER_DB, 1.5);
    // A full-scale tone, the loudest a file can hold, still fits.
    EXPECT_LT(loud[0][23], 255);
    auto high = tone(10000, 1.0f, 1.0f);
    analyzer.compute(high.data(), loud, waveform);
    EXPECT_LT(loud[0][232], 255);
}

// The visualizer's analyser on the demo song, frame by frame at 60 fps on its
// virtual clock: the song is meant to fire beats in every upper section and
// to leave the bands room at the top.
TEST(Spectrum, DemoSongBeatsInEveryUpperSection) {
    DemoSong song = makeDemoSong();
    ASSERT_GT(song.samples.size(), size_t(44100 * 2 * 25));
    EXPECT_EQ(song.meta.title, "Lumen Drift");
    EXPECT_EQ(song.meta.artist, "Lumenvortex");
    EXPECT_EQ(song.meta.album, "Demo");
    EXPECT_EQ(song.meta.cover.format, lv::ImageFormat::Png);

    VirtualClock clock;
    clock.install();
    SoundsSourceiTunes source;
    sounds.setSource(&source);
    for (SoundSection* s : sounds.soundSections) s->lastBeatTimer = int32_t(millis());

    SpectrumAnalyzer analyzer;
    uint8_t spectrum[2][512], waveform[2][512];
    std::vector<float> window(size_t(N) * 2);
    const long long total = (long long)song.samples.size() / 2;
    long long frames = 0, topBytes = 0;
    for (long long f = 0;; ++f) {
        long long end = f * 44100 / 60;
        if (end >= total) break;
        for (int i = 0; i < N; ++i) {
            long long p = end - N + i;
            window[size_t(i) * 2] = p >= 0 ? song.samples[size_t(p) * 2] : 0.0f;
            window[size_t(i) * 2 + 1] = p >= 0 ? song.samples[size_t(p) * 2 + 1] : 0.0f;
        }
        analyzer.compute(window.data(), spectrum, waveform);
        topBytes += std::count(spectrum[0], spectrum[0] + 256, 255) + std::count(spectrum[1], spectrum[1] + 256, 255);
        source.updateSpectrumData(spectrum);
        clock.advanceMicros(1000000 / 60);
        sounds.exist();
        ++frames;
    }
    const double seconds = double(total) / 44100.0;
    for (int s = 2; s <= 4; ++s) {
        int beats = sounds.soundSections[size_t(s)]->numBeats;
        // Lively but not frantic: between one beat in six seconds and one in
        // 1.2 seconds (the analyser itself allows one per 0.8 s at most).
        EXPECT_GE(beats, int(seconds / 6.0)) << "section " << s;
        EXPECT_LE(beats, int(seconds / 1.2)) << "section " << s;
    }
    EXPECT_LT(double(topBytes) / double(frames * 512), 0.01);
}
