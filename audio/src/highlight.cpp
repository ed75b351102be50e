#include "highlight.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "fft_spectrum_analyzer.h"

namespace {

constexpr long long kShortTermFrames = 3 * SAMPLE_RATE;   // EBU R128's short-term window
// A beat this far from the loudest stretch's start is another part of the
// music; the start then stays where the loudness put it.
constexpr long long kBeatReach = SAMPLE_RATE;
// Peak picking in the flux, in spectra (10 ms each): strokes closer than
// 100 ms are one (a drum's noise flickers on after its attack).
constexpr int kPeakHalfWidth = 10;
constexpr int kContextHalfWidth = 50;
constexpr float kOverContext = 1.5f;
// A flux (byte steps summed over the bins) below this is a tone's flicker,
// not a stroke: a drum's attack lifts dozens of bins by tens of steps.
constexpr float kMinBeatFlux = 100.0f;

struct LoudnessMeter {
    ebur128_state* state = ebur128_init(2, SAMPLE_RATE, EBUR128_MODE_S);
    ~LoudnessMeter() { ebur128_destroy(&state); }
};

// The rise of every bin from the previous spectrum, summed over both channels' bins.
float fluxOf(const uint8_t now[2][SPECTRUM_BINS], const uint8_t before[2][SPECTRUM_BINS]) {
    float sum = 0;
    for (int c = 0; c < 2; ++c)
        for (int b = 0; b < SPECTRUM_BINS / 2; ++b) sum += float(std::max(0, now[c][b] - before[c][b]));
    return sum * 0.5f;
}

}  // namespace

bool measureTrack(const std::string& path, TrackLoudness& track, std::string& error) {
    constexpr long long kStep = TrackLoudness::kStep, kHop = TrackLoudness::kHop;
    lv::AudioDecoder decoder;
    if (!decoder.open(path)) {
        error = decoder.error();
        return false;
    }
    LoudnessMeter meter;
    if (!meter.state) {
        error = "cannot measure " + path + ": out of memory";
        return false;
    }
    SpectrumAnalyzer analyzer;
    uint8_t spectrum[2][2][SPECTRUM_BINS] = {}, waveform[2][WAVEFORM_SAMPLES];
    std::vector<float> flux;
    // The window's frames before the block, then the block.
    std::vector<float> frames((WINDOW_FRAMES + kStep) * 2, 0.0f);
    track = TrackLoudness{};
    for (size_t n = size_t(kStep); n == size_t(kStep);) {
        n = decoder.read(frames.data() + WINDOW_FRAMES * 2, size_t(kStep));
        if (n == 0) break;
        ebur128_add_frames_float(meter.state, frames.data() + WINDOW_FRAMES * 2, n);
        double lufs = -HUGE_VAL;
        ebur128_loudness_shortterm(meter.state, &lufs);
        track.shortTerm.push_back(lufs);
        for (size_t end = size_t(kHop); end <= n; end += size_t(kHop)) {
            uint8_t(*now)[SPECTRUM_BINS] = spectrum[flux.size() % 2];
            analyzer.compute(frames.data() + end * 2, now, waveform);
            flux.push_back(flux.empty() ? 0.0f : fluxOf(now, spectrum[(flux.size() + 1) % 2]));
        }
        std::copy(frames.begin() + long(n) * 2, frames.begin() + long(n + WINDOW_FRAMES) * 2, frames.begin());
        track.frames += (long long)n;
    }
    track.beats = beatsInFlux(flux);
    return true;
}

std::vector<long long> beatsInFlux(const std::vector<float>& flux) {
    std::vector<long long> beats;
    const int count = int(flux.size());
    std::vector<double> sums(flux.size() + 1, 0.0);
    for (int i = 0; i < count; ++i) sums[size_t(i) + 1] = sums[size_t(i)] + flux[size_t(i)];
    for (int i = 0; i < count; ++i) {
        const float f = flux[size_t(i)];
        if (f < kMinBeatFlux) continue;
        const int lo = std::max(0, i - kContextHalfWidth), hi = std::min(count, i + kContextHalfWidth + 1);
        const double context = (sums[size_t(hi)] - sums[size_t(lo)]) / double(hi - lo);
        if (f < kOverContext * context) continue;
        bool highest = true;
        for (int j = std::max(0, i - kPeakHalfWidth); highest && j < std::min(count, i + kPeakHalfWidth + 1); ++j)
            highest = flux[size_t(j)] < f || (flux[size_t(j)] == f && j >= i);
        // The stroke is heard where it entered the window's middle.
        if (highest) beats.push_back(std::max(0LL, (i + 1) * TrackLoudness::kHop - WINDOW_FRAMES / 2));
    }
    return beats;
}

Stretch loudestStretch(const TrackLoudness& track, long long length) {
    constexpr long long kStep = TrackLoudness::kStep;
    if (length >= track.frames) return {0, track.frames};
    // A reading counts for the stretches its whole 3 s window lies in: reading
    // i covers ((i + 1) * kStep - kShortTermFrames, (i + 1) * kStep].
    std::vector<double> energy(track.shortTerm.size() + 1, 0.0);
    for (size_t i = 0; i < track.shortTerm.size(); ++i)
        energy[i + 1] = energy[i] + (std::isfinite(track.shortTerm[i]) ? std::pow(10.0, track.shortTerm[i] / 10.0) : 0.0);
    const long long first = kShortTermFrames / kStep - 1, last = length / kStep - 1;
    long long best = 0;
    double bestEnergy = -1.0;
    for (long long k = 0; (k * kStep) + length <= track.frames; ++k) {
        const size_t lo = size_t(std::min<long long>(k + first, (long long)track.shortTerm.size()));
        const size_t hi = size_t(std::min<long long>(k + last + 1, (long long)track.shortTerm.size()));
        const double sum = hi > lo ? energy[hi] - energy[lo] : 0.0;
        if (sum > bestEnergy) {
            bestEnergy = sum;
            best = k * kStep;
        }
    }
    auto nearest = std::lower_bound(track.beats.begin(), track.beats.end(), best);
    long long beat = -1;
    if (nearest != track.beats.end()) beat = *nearest;
    if (nearest != track.beats.begin() && (beat < 0 || best - *std::prev(nearest) < beat - best))
        beat = *std::prev(nearest);
    if (beat >= 0 && std::llabs(beat - best) <= kBeatReach) best = beat;
    best = std::clamp(best, 0LL, track.frames - length);
    return {best, best + length};
}

namespace {

std::string minutesText(long long frames) {
    const double seconds = double(frames) / SAMPLE_RATE;
    char text[32];
    std::snprintf(text, sizeof text, "%d:%04.1f", int(seconds / 60), std::fmod(seconds, 60.0));
    return text;
}

}  // namespace

std::function<Program::Clip(const lv::TrackMeta&)> highlightClips(double seconds,
                                                                   std::function<void(const std::string&)> warn,
                                                                   std::function<void(const std::string&)> note) {
    const long long length = std::llround(seconds * SAMPLE_RATE);
    return [length, warn, note, first = true](const lv::TrackMeta& meta) mutable {
        Program::Clip clip;
        TrackLoudness track;
        std::string error;
        if (!measureTrack(meta.path, track, error)) {
            warn(error + ": its highlight cannot be found, so it plays whole");
            return clip;
        }
        const Stretch stretch = loudestStretch(track, length);
        if (note)
            note(meta.path + ": the highlight is " + minutesText(stretch.begin) + " to " + minutesText(stretch.end) +
                 " (" + std::to_string(track.beats.size()) + " beats found)");
        clip.begin = stretch.begin;
        clip.end = stretch.end;
        clip.from = first ? std::max(0LL, stretch.begin - std::llround(kHighlightWarmUpSeconds * SAMPLE_RATE))
                          : stretch.begin;
        clip.fade = std::min(std::llround(kHighlightFadeSeconds * SAMPLE_RATE), (stretch.end - stretch.begin) / 2);
        first = false;
        return clip;
    };
}
