// The highlight of a track: its loudest stretch of a given length, by EBU
// R128 short-term loudness (libebur128), started on a beat, for renders
// that show each track's best part (lumenvortex --render --highlight).
//
// A track is decoded once to be measured, apart from the decoding that
// plays it: what is kept of it is a number every 100 ms and one every
// 10 ms, so an hour-long track costs a few megabytes.
//
// Beats. The onsets of the spectrum the visualizer is fed (SpectrumAnalyzer,
// a 1024-frame window every 10 ms): the spectral flux, the rise of every bin
// from one window to the next summed, peaks where a drum or a note strikes.
// A beat is such a peak, highest within 100 ms either side and well above the
// flux of the second around it. The visualizer's own beat detection runs on
// its frame clock inside the plug-in; this is the same spectrum, read ahead.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "program.h"

constexpr double kHighlightMinSeconds = 5.0;
constexpr double kHighlightMaxSeconds = 180.0;
// Long enough to hide the cut, short enough to leave the stretch heard.
constexpr double kHighlightFadeSeconds = 0.5;
// The music before the first stretch the field is drawn on unseen, so that
// the video opens on a scene in motion rather than an empty field (it
// takes about three seconds to fill).
constexpr double kHighlightWarmUpSeconds = 3.0;

// What the search needs of a track.
struct TrackLoudness {
    static constexpr long long kStep = SAMPLE_RATE / 10;   // frames between loudness readings
    static constexpr long long kHop = SAMPLE_RATE / 100;   // frames between spectra
    long long frames = 0;
    std::vector<double> shortTerm;   // LUFS of the 3 s ending at (i + 1) * kStep; -HUGE_VAL in silence
    std::vector<long long> beats;    // frames, rising
};

// Decodes the file and measures it. False with `error` when it cannot be
// opened; a file that breaks off is measured as far as it plays.
bool measureTrack(const std::string& path, TrackLoudness& track, std::string& error);

// Beats in a spectral flux taken every kHop frames (the flux of window i ends
// at (i + 1) * kHop).
std::vector<long long> beatsInFlux(const std::vector<float>& flux);

// The loudest `length` frames of the track, their start moved to the
// nearest beat within a second; the whole track when it is no longer.
struct Stretch {
    long long begin = 0, end = 0;
};
Stretch loudestStretch(const TrackLoudness& track, long long length);

// Program::mClip for highlights of `seconds`: each track is measured as it
// opens and plays its stretch, faded; the first brings the warm-up before
// it. A track that cannot be measured plays whole, and `warn` says why;
// `note`, when given, is told where each highlight lies.
std::function<Program::Clip(const lv::TrackMeta&)> highlightClips(double seconds,
                                                                   std::function<void(const std::string&)> warn,
                                                                   std::function<void(const std::string&)> note = {});
