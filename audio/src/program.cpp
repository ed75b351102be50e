#include "program.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

Program::Program(std::vector<std::string> paths, bool loop) : mPaths(std::move(paths)), mLoop(loop) {
    mWarn = [](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); };
}

bool Program::next(lv::TrackMeta& meta) {
    mDecoder.close();
    if (mPaths.empty()) {
        if (mDemoOpen && !mLoop) {
            mDemoOpen = false;
            return false;
        }
        if (!mDemo) mDemo = std::make_unique<DemoSong>(makeDemoSong());
        mDemoOpen = true;
        mDemoPos = 0;
        meta = mDemo->meta;
        ++mPlayed;
        return true;
    }
    for (;;) {
        if (mNextIndex >= mPaths.size()) {
            if (!mLoop || !mPlayedThisPass) return false;
            mNextIndex = 0;
            mPlayedThisPass = false;
        }
        const std::string& path = mPaths[mNextIndex++];
        if (mDecoder.open(path)) {
            meta = mDecoder.meta();
            ++mPlayed;
            mTrackFramesOut = 0;
            return true;
        }
        report(mDecoder.error(), true);
    }
}

bool Program::skip(lv::TrackMeta& meta) {
    if (mPaths.empty()) return mLoop && next(meta);
    lv::AudioDecoder playing;
    playing.swap(mDecoder);
    if (next(meta)) return true;
    mDecoder.swap(playing);
    return false;
}

void Program::report(const std::string& warning, bool skipped) {
    ++mFailed;
    const bool more = mNextIndex < mPaths.size() || mLoop;
    mWarn(warning + (!more ? "" : skipped ? "; skipping it" : "; going on with the next track"));
    if (std::find(mNotInFull.begin(), mNotInFull.end(), warning) == mNotInFull.end()) mNotInFull.push_back(warning);
    if (skipped && std::find(mSkipped.begin(), mSkipped.end(), warning) == mSkipped.end()) mSkipped.push_back(warning);
}

size_t Program::read(float* out, size_t frames) {
    if (mPaths.empty()) {
        if (!mDemoOpen) return 0;
        size_t total = mDemo->samples.size() / 2;
        size_t n = std::min(frames, total - std::min(total, mDemoPos));
        std::memcpy(out, mDemo->samples.data() + mDemoPos * 2, n * 2 * sizeof(float));
        mDemoPos += n;
        mFramesOut += (long long)n;
        return n;
    }
    if (!mDecoder.isOpen()) return 0;
    size_t n = mDecoder.read(out, frames);
    mFramesOut += (long long)n;
    mTrackFramesOut += (long long)n;
    // Only sound counts: files that open but hold none would loop for ever.
    if (n > 0) mPlayedThisPass = true;
    if (n == 0 && mDecoder.failed()) {
        report(mDecoder.error(), mTrackFramesOut == 0);
        mDecoder.close();
    }
    return n;
}

long long Program::estimateTotalMs() const {
    if (mPaths.empty()) return (long long)(DEMO_BARS * 4 * 60.0 / DEMO_BPM * 1000.0 + 0.5);
    long long total = 0;
    for (const std::string& path : mPaths) {
        lv::TrackMeta meta;
        std::string error;
        if (!lv::probeTrack(path, meta, error)) continue;   // will be skipped
        if (meta.durationMs < 0) return -1;
        total += meta.durationMs;
    }
    return total;
}
