#include "fft_spectrum_analyzer.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {
constexpr float BIN_HZ = float(SAMPLE_RATE) / WINDOW_FRAMES;
}  // namespace

SpectrumAnalyzer::SpectrumAnalyzer(std::unique_ptr<RealFft> fft) : mFft(std::move(fft)) {
    float sum = 0.0f;
    for (int i = 0; i < WINDOW_FRAMES; ++i) {
        mWindow[i] = 0.5f - 0.5f * std::cos(2.0f * float(M_PI) * float(i) / float(WINDOW_FRAMES));
        sum += mWindow[i];
    }
    // A sine of amplitude A centred on a bin gives |X| = A * sum(w) / 2.
    mNorm = 2.0f / sum;
    std::fill(&mMagnitudes[0][0], &mMagnitudes[0][0] + 2 * SPECTRUM_BINS, 0.0f);
}

uint8_t SpectrumAnalyzer::toByte(float magnitude, int bin) const {
    if (!(magnitude > 1e-9f)) return 0;   // silence and NaN
    float hz = std::max(float(bin), 0.5f) * BIN_HZ;
    float db = 20.0f * std::log10(magnitude) + mTiltDbPerOctave * std::log2(hz / TILT_PIVOT_HZ);
    float b = (db - mFloorDb) * mBytesPerDb;
    if (!(b > 0.0f)) return 0;
    if (b >= 255.0f) return 255;
    return uint8_t(b + 0.5f);
}

void SpectrumAnalyzer::compute(const float* frames, uint8_t spectrum[2][SPECTRUM_BINS], uint8_t waveform[2][WAVEFORM_SAMPLES]) {
    for (int ch = 0; ch < 2; ++ch) {
        float* in = mFft->input();
        for (int i = 0; i < WINDOW_FRAMES; ++i) in[i] = frames[2 * i + ch] * mWindow[i];
        mFft->forward(mOut);
        for (int k = 0; k < SPECTRUM_BINS; ++k) {
            float m = std::sqrt(mOut[k][0] * mOut[k][0] + mOut[k][1] * mOut[k][1]) * mNorm;
            mMagnitudes[ch][k] = m;
            spectrum[ch][k] = toByte(m, k);
        }
        // The newest samples, 0..255 around 128.
        const float* tail = frames + 2 * (WINDOW_FRAMES - WAVEFORM_SAMPLES);
        for (int i = 0; i < WAVEFORM_SAMPLES; ++i) {
            float s = std::clamp(tail[2 * i + ch], -1.0f, 1.0f);
            waveform[ch][i] = uint8_t(std::lround(128.0f + s * 127.0f));
        }
    }
}
