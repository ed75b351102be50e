// The built-in demo: "Lumen Drift" by Lumenvortex, from the album "Demo".
// About 30 seconds at 120 beats a minute, A minor (Am F C G): pads from the
// start, hats, then kick and bass, snare and an arpeggio, a two-bar
// breakdown with a snare roll, the full groove again and a last chord.
// Kick and bass drive the lower sections of the visualizer; snare, arpeggio,
// hats and crashes make the three upper ones beat.
//
// Everything is synthesised in code with its own noise generator, so the
// samples are the same on every run. The cover is drawn in code too and
// stored as PNG bytes, as a track's embedded picture would be.
#pragma once

#include <vector>

#include "audio_constants.h"
#include "lv/media.h"

struct DemoSong {
    std::vector<float> samples;   // interleaved stereo at SAMPLE_RATE
    lv::TrackMeta meta;           // title, artist, album, duration, cover
};

constexpr int DEMO_BARS = 15;
constexpr double DEMO_BPM = 120.0;

DemoSong makeDemoSong();

// The demo's cover: `size` x `size` RGB pixels, row 0 at the top.
std::vector<unsigned char> drawDemoCover(int size);
