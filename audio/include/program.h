// The music in play order: the playlist's files, or the built-in demo song
// when there are none. Each track is opened when its turn comes; a file that
// cannot be played is skipped with a message and the next one is tried.
//
// Used by one thread at a time (the decoding thread of live play, or the
// offline renderer). Messages go to `mWarn` (stderr by default; each
// program sets its own, which names it).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "demo_song.h"
#include "lv/media.h"

class Program {
public:
    Program(std::vector<std::string> paths, bool loop);

    // Opens the next playable track. False when none is left (or, looping,
    // when a whole pass found nothing playable).
    bool next(lv::TrackMeta& meta);
    // The track after the one playing, for a skip: like next(), but when
    // none follows, the one playing stays open where it was and false is
    // returned.
    bool skip(lv::TrackMeta& meta);
    // Frames of the open track; 0 when it is over.
    size_t read(float* out, size_t frames);

    bool playsDemo() const { return mPaths.empty(); }
    int tracksPlayed() const { return mPlayed; }
    int tracksFailed() const { return mFailed; }
    long long framesDelivered() const { return mFramesOut; }
    // The files that did not play to their end (skipped, or stopped short),
    // each once, with the warning that said why.
    const std::vector<std::string>& notPlayedInFull() const { return mNotInFull; }
    // Those of them that gave no sound at all.
    const std::vector<std::string>& skippedFiles() const { return mSkipped; }
    // Length of the whole list if every track plays to its end, in ms; -1
    // when some length is unknown. Reads the tags of every file.
    // Each track counts for at most `capMs` when it is given (highlights).
    long long estimateTotalMs(long long capMs = -1) const;

    std::function<void(const std::string&)> mWarn;

    // A part of each track in place of the whole, in frames of the track.
    // Frames before `from` are decoded and dropped; those from `from` to
    // `begin` come unfaded (music for the picture to warm up on, not to be
    // heard); from `begin` the sound fades in over `fade` frames and out
    // over the `fade` before `end`, where the track is over.
    struct Clip {
        long long from = 0, begin = 0, end = -1;   // end -1: the track's own
        long long fade = 0;
    };
    // Asked as each file opens (the demo song plays whole); none: whole tracks.
    std::function<Clip(const lv::TrackMeta&)> mClip;
    // The part of the open track that plays.
    const Clip& clip() const { return mOpenClip; }

private:
    std::vector<std::string> mPaths;
    bool mLoop;
    size_t mNextIndex = 0;
    int mPlayed = 0;
    int mFailed = 0;
    long long mFramesOut = 0;
    long long mTrackFramesOut = 0;
    std::vector<std::string> mNotInFull;
    std::vector<std::string> mSkipped;
    bool mPlayedThisPass = false;   // some track of this pass gave sound
    lv::AudioDecoder mDecoder;
    std::unique_ptr<DemoSong> mDemo;
    size_t mDemoPos = 0;
    Clip mOpenClip;
    long long mTrackPos = 0;   // frames of the open track decoded, dropped ones too
    bool mDemoOpen = false;

    size_t readClipped(float* out, size_t frames);
    // Warns about the file just opened (or tried) that did not play in full.
    void report(const std::string& warning, bool skipped);
};
