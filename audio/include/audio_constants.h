// The numbers the player, the spectrum server and their tools must agree on.
// The sample rate is the platform's, which decodes, plays and captures at it;
// the rest belong to the spectrum a visual plug-in is fed with.
#pragma once

#include "lv/media.h"

// Frames a second of every sample the pipeline carries.
constexpr int SAMPLE_RATE = lv::kMediaSampleRate;
// Stereo frames each spectrum is computed from: the samples heard last.
constexpr int WINDOW_FRAMES = 1024;
// Bins per channel handed to a plug-in (and sent by the server): the
// lower half of a WINDOW_FRAMES-point FFT.
constexpr int SPECTRUM_BINS = WINDOW_FRAMES / 2;
// Samples per channel of the waveform a plug-in is sent beside the spectrum.
constexpr int WAVEFORM_SAMPLES = 512;
// Where corvane listens, and where the player looks for it, unless told.
constexpr int DEFAULT_CORVANE_PORT = 7737;

// The version of both programs, from the build.
const char* programVersion();
