// The music as the offline renderer reads it: decoded ahead of the frame
// being drawn, the last WINDOW_FRAMES kept for the spectrum, track changes
// noted by position. Positions count frames from the start of the render.
#pragma once

#include <deque>
#include <vector>

#include "program.h"

struct MusicReader {
    Program& program;
    std::vector<float> frames;   // decoded frames [start, start + frames.size() / 2)
    long long start = 0;
    bool ended = false;
    struct Change {
        long long position;
        lv::TrackMeta meta;
    };
    std::deque<Change> changes;   // tracks that begin at or after the frame drawn

    explicit MusicReader(Program& p) : program(p) {}

    long long end() const { return start + (long long)(frames.size() / 2); }
    // Decodes until `position` is in hand or the music is over.
    void decodeTo(long long position);
    // The WINDOW_FRAMES stereo frames that end at `endPosition`; silence
    // where there is no music.
    void window(long long endPosition, float* out) const;
    // Frames before `position` are no longer needed.
    void forget(long long position);
};
