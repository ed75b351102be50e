// Where the threads of live play meet. This is the only place they share:
//
//   decoding thread  push() decoded frames into the queue (waits while it is
//                    full), startTrack() before a track's first frame,
//                    finish() after the last one
//   audio thread     pull() frames from the queue for the device (silence
//                    when it runs dry); every frame pulled is kept in the
//                    history with its position, and the time of the pull
//                    anchors the estimate of what is being heard
//   capture thread   played(): captured frames go straight to the history
//   main thread      snapshot(): a copy of the WINDOW_FRAMES frames being heard now,
//                    the track they belong to and whether the music is
//                    over; skip(), setPaused(), close()
//
// One mutex guards all of it, held only to copy a few thousand floats, never
// across a call out. The frame's spectrum is computed from the snapshot, a
// copy the other threads cannot touch.
//
// What is heard: frames handed to the device at time t start to sound about
// latencyFrames later, so the frame heard at `now` is
//   (position of the pull) - latencyFrames + (now - t) * SAMPLE_RATE,
// never beyond the last frame pulled and never going backwards. Positions
// count frames from the start of play (silence of underruns included).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "audio_constants.h"
#include "lv/media.h"

class PlaybackBuffer {
public:
    using Clock = std::chrono::steady_clock;

    struct Snapshot {
        float window[WINDOW_FRAMES * 2];   // interleaved stereo, oldest first, ending at `position`
        long long position = 0;            // frames heard so far
        int track = -1;                    // index of the track heard (order of startTrack), -1 before any
        long long trackPosition = 0;       // frames of that track heard
        bool paused = false;
        bool over = false;                 // finish() was called and its last frame has been heard
    };

    explicit PlaybackBuffer(size_t queueFrames = 16384, size_t historyFrames = 32768);

    // decoding thread
    // False, having taken none of the frames when the track is to be skipped
    // (or some when close() came): then either startTrack() the next track or
    // say lastTrack() and push the frames again.
    bool push(const float* frames, size_t count);
    void startTrack(const lv::TrackMeta& meta);
    // No track follows the one skipped: it plays on.
    void lastTrack();
    void finish();

    // audio thread
    void pull(float* out, size_t frames, Clock::time_point now, long long latencyFrames);

    // capture thread
    void played(const float* frames, size_t count, Clock::time_point now);
    // Before the first frame: captured sound is shown this much later than
    // it was captured (the history grows to hold it).
    void setCaptureDelay(long long frames);

    // main thread
    void snapshot(Clock::time_point now, Snapshot& out);
    // The track of the last snapshot, or one after it.
    lv::TrackMeta trackMeta(int track) const;
    // Blocks until the first track starts (true) or nothing will (false).
    bool waitForFirstTrack();
    // Jumps to the next track: to one already queued, else the decoding
    // thread is asked for it. On the last track nothing changes.
    void skip();
    void setPaused(bool paused);
    // Wakes and releases the decoding thread for good.
    void close();

private:
    struct TrackStart {
        long long position;
        int track;
        lv::TrackMeta meta;
    };

    void writeHistory(const float* frames, size_t count);   // at mConsumed, which it advances
    long long audibleLocked(Clock::time_point now);

    mutable std::mutex mMutex;
    std::condition_variable mChanged;

    std::vector<float> mQueue;   // ring of queued frames
    size_t mQueueFrames;
    size_t mQueueHead = 0;       // frame index of the oldest queued frame
    size_t mQueued = 0;

    std::vector<float> mHistory;   // ring indexed by absolute position
    size_t mHistoryFrames;
    long long mConsumed = 0;       // frames handed to the device (or captured)

    long long mAnchorPosition = 0;
    Clock::time_point mAnchorTime{};
    long long mLastAudible = 0;
    long long mCaptureDelay = 0;

    // From the track heard on (those before it are forgotten: a looping
    // demo would otherwise keep a cover picture for every pass).
    std::vector<TrackStart> mStarts;
    int mTracksStarted = 0;
    bool mSkipping = false;
    bool mFinished = false;
    long long mEnd = 0;
    bool mPaused = false;
    bool mClosed = false;
};
