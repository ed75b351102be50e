#include "playback_buffer.h"

#include <algorithm>
#include <cstring>

PlaybackBuffer::PlaybackBuffer(size_t queueFrames, size_t historyFrames)
    : mQueue(queueFrames * 2, 0.0f),
      mQueueFrames(queueFrames),
      mHistory(std::max<size_t>(historyFrames, WINDOW_FRAMES) * 2, 0.0f),
      mHistoryFrames(std::max<size_t>(historyFrames, WINDOW_FRAMES)) {}

bool PlaybackBuffer::push(const float* frames, size_t count) {
    std::unique_lock<std::mutex> lock(mMutex);
    // A skip refuses the chunk whole, so that when no track follows it can
    // be pushed again and the track goes on without a gap.
    if (mSkipping) return false;
    while (count > 0) {
        mChanged.wait(lock, [&] { return mClosed || mQueued < mQueueFrames; });
        if (mClosed) return false;
        size_t tail = (mQueueHead + mQueued) % mQueueFrames;
        size_t n = std::min({count, mQueueFrames - mQueued, mQueueFrames - tail});
        std::memcpy(&mQueue[tail * 2], frames, n * 2 * sizeof(float));
        mQueued += n;
        frames += n * 2;
        count -= n;
    }
    return true;
}

void PlaybackBuffer::startTrack(const lv::TrackMeta& meta) {
    TrackStart start{0, 0, meta};   // the cover is copied before the sound device can be kept waiting
    std::lock_guard<std::mutex> lock(mMutex);
    if (mSkipping) mQueued = 0;   // the rest of the track skipped
    mSkipping = false;
    start.position = mConsumed + (long long)mQueued;
    start.track = mTracksStarted++;
    mStarts.push_back(std::move(start));
    mChanged.notify_all();
}

void PlaybackBuffer::finish() {
    std::lock_guard<std::mutex> lock(mMutex);
    mFinished = true;
    mSkipping = false;
    mEnd = mConsumed + (long long)mQueued;
    mChanged.notify_all();
}

void PlaybackBuffer::writeHistory(const float* frames, size_t count) {
    for (size_t done = 0; done < count;) {
        size_t at = size_t(mConsumed % (long long)mHistoryFrames);
        size_t n = std::min(count - done, mHistoryFrames - at);
        std::memcpy(&mHistory[at * 2], frames + done * 2, n * 2 * sizeof(float));
        done += n;
        mConsumed += (long long)n;
    }
}

void PlaybackBuffer::pull(float* out, size_t frames, Clock::time_point now, long long latencyFrames) {
    std::lock_guard<std::mutex> lock(mMutex);
    size_t got = 0;
    while (got < frames && mQueued > 0) {
        size_t n = std::min({frames - got, mQueued, mQueueFrames - mQueueHead});
        std::memcpy(out + got * 2, &mQueue[mQueueHead * 2], n * 2 * sizeof(float));
        mQueueHead = (mQueueHead + n) % mQueueFrames;
        mQueued -= n;
        got += n;
    }
    // Running dry: the device plays silence, and the positions move on with it.
    std::memset(out + got * 2, 0, (frames - got) * 2 * sizeof(float));
    mAnchorPosition = mConsumed - latencyFrames;
    mAnchorTime = now;
    writeHistory(out, frames);
    mChanged.notify_all();
}

void PlaybackBuffer::played(const float* frames, size_t count, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mMutex);
    writeHistory(frames, count);
    // Captured frames are already past: the newest one is what sounds now,
    // unless the output adds a latency the sound server does not know of.
    mAnchorPosition = mConsumed - mCaptureDelay;
    mAnchorTime = now;
}

void PlaybackBuffer::setCaptureDelay(long long frames) {
    std::lock_guard<std::mutex> lock(mMutex);
    mCaptureDelay = std::max(0LL, frames);
    const size_t needed = size_t(mCaptureDelay) + WINDOW_FRAMES;
    if (needed > mHistoryFrames) {
        mHistoryFrames = needed;
        mHistory.assign(mHistoryFrames * 2, 0.0f);
    }
}

long long PlaybackBuffer::audibleLocked(Clock::time_point now) {
    if (mPaused) return mLastAudible;
    double since = std::chrono::duration<double>(now - mAnchorTime).count();
    long long a = mAnchorPosition + (long long)(std::max(0.0, since) * SAMPLE_RATE);
    a = std::min(a, mConsumed);
    a = std::max(a, mLastAudible);
    mLastAudible = a;
    return a;
}

void PlaybackBuffer::snapshot(Clock::time_point now, Snapshot& out) {
    std::lock_guard<std::mutex> lock(mMutex);
    long long a = audibleLocked(now);
    out.position = a;
    out.paused = mPaused;
    out.over = mFinished && a >= mEnd;
    out.track = -1;
    out.trackPosition = 0;
    size_t heard = 0;
    for (size_t i = 0; i < mStarts.size() && mStarts[i].position <= a; ++i) {
        heard = i;
        out.track = mStarts[i].track;
        out.trackPosition = a - mStarts[i].position;
    }
    mStarts.erase(mStarts.begin(), mStarts.begin() + long(heard));
    const long long oldest = mConsumed - (long long)mHistoryFrames;
    for (int i = 0; i < WINDOW_FRAMES; ++i) {
        long long p = a - WINDOW_FRAMES + i;
        if (p < 0 || p < oldest || p >= mConsumed) {
            out.window[2 * i] = out.window[2 * i + 1] = 0.0f;
        } else {
            size_t at = size_t(p % (long long)mHistoryFrames);
            out.window[2 * i] = mHistory[at * 2];
            out.window[2 * i + 1] = mHistory[at * 2 + 1];
        }
    }
}

lv::TrackMeta PlaybackBuffer::trackMeta(int track) const {
    std::lock_guard<std::mutex> lock(mMutex);
    for (const TrackStart& s : mStarts)
        if (s.track == track) return s.meta;
    return lv::TrackMeta{};
}

bool PlaybackBuffer::waitForFirstTrack() {
    std::unique_lock<std::mutex> lock(mMutex);
    mChanged.wait(lock, [&] { return !mStarts.empty() || mFinished || mClosed; });
    return !mStarts.empty();
}

void PlaybackBuffer::skip() {
    std::lock_guard<std::mutex> lock(mMutex);
    // The track after the one heard may already be on its way: in the
    // device (nothing to do, it plays in a moment) or in the queue (drop what
    // comes before it).
    for (TrackStart& s : mStarts) {
        if (s.position <= mLastAudible) continue;
        if (s.position < mConsumed) return;
        size_t drop = size_t(s.position - mConsumed);
        if (drop > mQueued) break;
        mQueueHead = (mQueueHead + drop) % mQueueFrames;
        mQueued -= drop;
        long long shift = (long long)drop;
        for (TrackStart& later : mStarts)
            if (later.position >= s.position) later.position -= shift;
        if (mFinished) mEnd -= shift;
        mChanged.notify_all();
        return;
    }
    // The last track: it plays on (quitting is the user's to choose).
    if (mFinished) return;
    // The decoding thread decides, as only it knows whether a track follows:
    // startTrack() drops what is queued of this one, lastTrack() keeps it.
    mSkipping = true;
    mChanged.notify_all();
}

void PlaybackBuffer::lastTrack() {
    std::lock_guard<std::mutex> lock(mMutex);
    mSkipping = false;
}

void PlaybackBuffer::setPaused(bool paused) {
    std::lock_guard<std::mutex> lock(mMutex);
    if (mPaused && !paused) {
        // Resume the estimate where it stopped, not where the clock ran on to.
        mAnchorPosition = mLastAudible;
        mAnchorTime = Clock::now();
    }
    mPaused = paused;
}

void PlaybackBuffer::close() {
    std::lock_guard<std::mutex> lock(mMutex);
    mClosed = true;
    mChanged.notify_all();
}
