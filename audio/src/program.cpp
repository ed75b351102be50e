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
            mTrackPos = 0;
            mOpenClip = mClip ? mClip(meta) : Clip{};
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
    size_t n = readClipped(out, frames);
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

// The open track's frames within its clip, faded at its edges.
size_t Program::readClipped(float* out, size_t frames) {
    const Clip& c = mOpenClip;
    while (mTrackPos < c.from) {   // the decoder only reads on: what comes before is dropped
        size_t skipped = mDecoder.read(out, size_t(std::min<long long>(c.from - mTrackPos, (long long)frames)));
        if (skipped == 0) return 0;
        mTrackPos += (long long)skipped;
    }
    if (c.end >= 0) frames = size_t(std::clamp<long long>(c.end - mTrackPos, 0, (long long)frames));
    size_t n = frames ? mDecoder.read(out, frames) : 0;
    if (c.fade > 0)
        for (size_t i = 0; i < n; ++i) {
            const long long at = mTrackPos + (long long)i;
            if (at < c.begin) continue;
            long long edge = at - c.begin;
            if (c.end >= 0) edge = std::min(edge, c.end - 1 - at);
            if (edge >= c.fade) continue;
            const float gain = float(edge) / float(c.fade);
            out[2 * i] *= gain;
            out[2 * i + 1] *= gain;
        }
    mTrackPos += (long long)n;
    return n;
}

long long Program::estimateTotalMs(long long capMs) const {
    if (mPaths.empty()) return (long long)(DEMO_BARS * 4 * 60.0 / DEMO_BPM * 1000.0 + 0.5);
    long long total = 0;
    for (const std::string& path : mPaths) {
        lv::TrackMeta meta;
        std::string error;
        if (!lv::probeTrack(path, meta, error)) continue;   // will be skipped
        if (meta.durationMs < 0) return -1;
        total += capMs >= 0 ? std::min(capMs, meta.durationMs) : meta.durationMs;
    }
    return total;
}
