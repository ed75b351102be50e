// A long render cut into parts that run at once, on one machine's cores or
// on many machines: part K of N draws its own share of the whole render's
// frames, after stepping the scene through the frames before it without
// drawing them, and `lumenvortex --join` puts the parts' videos together
// without encoding the picture again. The split is fixed by N and the play
// list's length alone, so every machine computes the same one, and the
// job runners people already use (GNU parallel, Slurm arrays, Kubernetes
// Indexed Jobs) hand out the parts.
#pragma once

#include <string>
#include <vector>

#include "lv/media.h"

struct Options;

// --segment: "K/N"; "N", K from a job array's environment
// (SLURM_ARRAY_TASK_ID, counted from SLURM_ARRAY_TASK_MIN, else Kubernetes'
// JOB_COMPLETION_INDEX + 1); or "auto", K and N both from a Slurm array
// (SLURM_ARRAY_TASK_COUNT). K given on the command line wins over the
// environment. False with `error` saying what to give.
bool parseSegment(const std::string& value, int& index, int& count, std::string& error);

// Part `index` (1 to count) of a render of `totalFrames` frames: frames
// [first, end); the last part runs on to the music's end (end -1), so a
// length the files' headers misstate costs no frames.
struct SegmentFrames {
    long long first = 0, end = -1;
};
SegmentFrames segmentFrames(int index, int count, long long totalFrames);

// What a part's video says of itself, in its "description" tag (the one
// every container keeps), for the join and for a render run again.
struct SegmentTag {
    int index = 0, count = 0;
    long long first = 0, end = -1;   // its frames in the whole render
    long long soundFrom = 0;         // its first sample in the whole render's sound
    bool continues = false;          // the track it begins with began before it
    std::string fingerprint;         // of the input and the options (segmentFingerprint)
    std::string settings;            // the whole render's, for people to read
};
std::string formatSegmentTag(const SegmentTag& tag);
bool parseSegmentTag(const std::string& text, SegmentTag& tag);

// The options that change the frames or the video, as text.
std::string renderSettings(const Options& o);
// SHA-256 of the play list's bytes, in order, and `settings`.
bool segmentFingerprint(const std::vector<std::string>& paths, const std::string& settings, std::string& fingerprint,
                        std::string& error);

// A part's video that is there and was made for the same input and options
// (its fingerprint): the part need not be drawn again.
bool segmentDone(const std::string& path, const SegmentTag& wanted);

// lumenvortex --join OUT SEGMENTS...: the exit status (0, 1 failed, 2 the
// parts do not make one render).
int runJoin(const std::vector<std::string>& args);
