// The spectrum the player feeds the visualizer: where a tone lands, how the
// scale behaves, and whether the demo song makes the visualizer beat.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "demo_song.h"
#include "lumenvortexApplet.h"
#include "fft_spectrum_analyzer.h"

namespace {

constexpr int N = WINDOW_FRAMES;

std::vector<float> tone(double hz, float left, float right) {
    std::vector<float> w(size_t(N) * 2);
    for (int i = 0; i < N; ++i) {
        const float s = float(std::sin(2.0 * M_PI * hz * i / double(SAMPLE_RATE)));
        w[size_t(i) * 2] = s * left;
        w[size_t(i) * 2 + 1] = s * right;
    }
    return w;
}

}  // namespace

TEST(Spectrum, ToneLandsInItsBinOnADecibelScaleWithHeadroom) {
    SpectrumAnalyzer analyzer;
    uint8_t spectrum[2][SPECTRUM_BINS], loud[2][SPECTRUM_BINS], waveform[2][WAVEFORM_SAMPLES];
    // bin = hz / (SAMPLE_RATE / WINDOW_FRAMES)
    for (auto [hz, bin] : {std::pair{1000.0, 23}, {440.0, 10}, {5000.0, 116}, {10000.0, 232}}) {
        analyzer.compute(tone(hz, 0.5f, 0.5f).data(), spectrum, waveform);
        analyzer.compute(tone(hz, 1.0f, 1.0f).data(), loud, waveform);
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_EQ(std::max_element(spectrum[ch], spectrum[ch] + SPECTRUM_BINS) - spectrum[ch], bin) << hz << " Hz";
        // A clean tone is a narrow line, not a smear over the section.
        EXPECT_GT(spectrum[0][bin] - spectrum[0][bin + 6], 60) << hz << " Hz";
        // 6 dB less is the same number of steps lower wherever the tone sits,
        // and a full-scale tone, the loudest a file can hold, still fits.
        EXPECT_NEAR(loud[0][bin] - spectrum[0][bin], 6.02 * SpectrumAnalyzer::BYTES_PER_DB, 1.5) << hz << " Hz";
        EXPECT_LT(loud[0][bin], 255) << hz << " Hz";
    }
    // The absolute scale: a full-scale 1 kHz tone reads 165 in its bin. The
    // byte holds the bin's frequency through the tilt, so bins spaced for
    // another sample rate (48 kHz: 166) or a shifted floor show here.
    analyzer.compute(tone(1000, 1.0f, 1.0f).data(), loud, waveform);
    EXPECT_TRUE(loud[0][23] == 165 && loud[1][23] == 165) << int(loud[0][23]) << " " << int(loud[1][23]);
    // Channels stay apart; silence is zero.
    analyzer.compute(tone(1000, 0.5f, 0.0f).data(), spectrum, waveform);
    EXPECT_GT(spectrum[0][23], 100);
    EXPECT_EQ(*std::max_element(spectrum[1], spectrum[1] + SPECTRUM_BINS), 0);
    EXPECT_EQ(waveform[1][100], 128);
    analyzer.compute(tone(1000, 0.0f, 0.0f).data(), spectrum, waveform);
    EXPECT_EQ(*std::max_element(&spectrum[0][0], &spectrum[0][0] + 2 * SPECTRUM_BINS), 0);
}

// The demo exists to show the visualizer off: its spectrum, run through the
// visualizer's own analyser at 60 frames a second on a virtual clock, must
// fire beats in every upper section, lively but not frantic, and leave the
// bands room at the top. The page computes the spectrum with Eigen's FFT,
// the programs with FFTW: the visualizer must see the same bytes, give or
// take one for float rounding, from the same PCM (from the song's first
// silent frames to its loudest bars), and the same waveform.
TEST(Spectrum, DemoSongBeatsInEveryUpperSectionAndThePagesTransformGivesTheProgramsBytes) {
    DemoSong song = makeDemoSong();
    VirtualClock clock;
    clock.install();
    SoundsSourceiTunes source;
    sounds.setSource(&source);
    for (SoundSection* s : sounds.soundSections) s->lastBeatTimer = int32_t(millis());

    SpectrumAnalyzer fftw(makeFftwRealFft(N)), eigen(makeEigenRealFft(N));
    uint8_t spectrum[2][SPECTRUM_BINS], page[2][SPECTRUM_BINS];
    uint8_t waveform[2][WAVEFORM_SAMPLES], pageWave[2][WAVEFORM_SAMPLES];
    std::vector<float> window(size_t(N) * 2, 0.0f);
    const long long total = (long long)song.samples.size() / 2;
    long long frames = 0, topBytes = 0, differing = 0;
    for (long long end = 0; end < total; end = ++frames * SAMPLE_RATE / 60) {
        for (long long i = 0, p = end - N; i < N; ++i, ++p)
            for (int ch = 0; ch < 2; ++ch) window[size_t(i) * 2 + ch] = p >= 0 ? song.samples[size_t(p) * 2 + ch] : 0.0f;
        fftw.compute(window.data(), spectrum, waveform);
        eigen.compute(window.data(), page, pageWave);
        for (int k = 0; k < 2 * SPECTRUM_BINS; ++k) {
            const int a = (&spectrum[0][0])[k], b = (&page[0][0])[k];
            ASSERT_LE(std::abs(a - b), 1) << "frame at " << end << ", byte " << k;
            differing += a != b;
        }
        ASSERT_EQ(0, std::memcmp(waveform, pageWave, sizeof waveform));
        topBytes += std::count(&spectrum[0][0], &spectrum[0][0] + 2 * SPECTRUM_BINS, 255);
        source.updateSpectrumData(spectrum);
        clock.advanceMicros(1000000 / 60);
        sounds.exist();
    }
    const double seconds = double(total) / SAMPLE_RATE;
    for (int s = 2; s <= 4; ++s) {
        const int beats = sounds.soundSections[size_t(s)]->numBeats;
        EXPECT_GE(beats, int(seconds / 6.0)) << "section " << s;
        EXPECT_LE(beats, int(seconds / 1.2)) << "section " << s;
    }
    const double compared = double(frames * 2 * SPECTRUM_BINS);
    EXPECT_LT(double(topBytes) / compared, 0.01);
    EXPECT_GT(compared, 1000000);
    // Rounding moves a byte now and then, not a band.
    EXPECT_LT(double(differing) / compared, 0.01);
    sounds.setSource(nullptr);
    setClockSource(nullptr);
}
