// The spectrum a visual plug-in is fed with each frame: two channels of 512
// bytes, computed from the 1024 stereo samples heard last (FFTW natively,
// Eigen's FFT in the page: real_fft.h).
//
// Bins. A 1024-point real FFT at 44.1 kHz gives 513 bins 43.07 Hz apart;
// bins 0 to 511 are sent, bin k centred on k * 43.07 Hz (bin 23 holds
// 1 kHz, bin 255 about 11 kHz). The visualizer reads bins 0 to 255 and
// groups them in five sections: 0-11 (below 520 Hz: kick and bass), 12-27
// (to 1.2 kHz), 28-59 (to 2.6 kHz), 60-123 (to 5.3 kHz), 124-254 (to 11 kHz:
// hats and cymbals), and takes the level of bin 255 off every band.
//
// Window. Hann over the 1024 samples (23 ms) that end at the sample being
// heard: short enough for the kick's attack to land in one frame, and its
// side lobes fall fast enough that a loud bass does not bleed into the highs.
//
// Scale. Decibels, not linear magnitude: music spans 60 dB and more between
// bass and cymbals, and a linear byte would show the bass pinned at 255 and
// the highs at 0. A bin's magnitude is normalised so that a full-scale sine
// reads 0 dB, then byte = (dB - FLOOR_DB) * BYTES_PER_DB, clamped to 0..255,
// after a tilt of TILT_DB_PER_OCTAVE around 1 kHz that lifts the highs and
// lowers the bass (music loses roughly that much per octave; cymbals would
// otherwise hardly move their section). The numbers were tuned with lv-beat-check on mastered music of
// several loudnesses and on the built-in demo song (docs/fft-analysis.md): at the
// default gain the upper sections beat on accents every one to four seconds,
// and even a full-scale tone stays well below 255.
//
// Thread: an analyser is used by one thread at a time; several analysers
// may be made on different threads (FFTW's planner is serialised inside).
#pragma once

#include <cstdint>
#include <memory>

#include "audio_constants.h"
#include "real_fft.h"

class SpectrumAnalyzer {
public:
    static constexpr float FLOOR_DB = -65.0f;
    static constexpr float BYTES_PER_DB = 2.55f;
    static constexpr float TILT_DB_PER_OCTAVE = 3.0f;
    static constexpr float TILT_PIVOT_HZ = 1000.0f;

    // The mapping in use; the defaults above unless a tool tries others.
    float mFloorDb = FLOOR_DB;
    float mBytesPerDb = BYTES_PER_DB;
    float mTiltDbPerOctave = TILT_DB_PER_OCTAVE;

    // `fft`: the transform (the build's unless a test compares them).
    explicit SpectrumAnalyzer(std::unique_ptr<RealFft> fft = makeRealFft(WINDOW_FRAMES));
    SpectrumAnalyzer(const SpectrumAnalyzer&) = delete;
    SpectrumAnalyzer& operator=(const SpectrumAnalyzer&) = delete;

    // `frames`: WINDOW_FRAMES interleaved stereo frames, oldest first.
    // Writes the spectrum of each channel and, for hosts that send it too, a
    // waveform of the newest samples (128 = silence).
    void compute(const float* frames, uint8_t spectrum[2][SPECTRUM_BINS], uint8_t waveform[2][WAVEFORM_SAMPLES]);

    // Byte for a magnitude at bin `bin` (1.0 = full-scale sine).
    uint8_t toByte(float magnitude, int bin) const;

    // Bin magnitudes of the last compute(), per channel (SPECTRUM_BINS each).
    const float* magnitudes(int channel) const { return mMagnitudes[channel]; }

private:
    std::unique_ptr<RealFft> mFft;
    float mOut[WINDOW_FRAMES / 2 + 1][2];
    float mWindow[WINDOW_FRAMES];
    float mNorm;
    float mMagnitudes[2][SPECTRUM_BINS];
};
