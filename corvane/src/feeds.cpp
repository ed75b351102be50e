#include "feeds.h"

#include <cstdio>
#include <cstring>

#include "capture_sources.h"

namespace corvane {
namespace {

void say(const std::string& m) { std::fprintf(stderr, "corvane: %s\n", m.c_str()); }

}  // namespace

// ---------------------------------------------------------------- pattern

bool PatternFeed::fill(Clock::time_point, uint8_t frame[FrameServer::FRAME_SIZE]) {
    if (mFrameIndex == 0) {
        lv::TrackMeta meta;
        meta.title = "Framing test pattern";
        meta.artist = "corvane";
        nowPlaying(meta);
    }
    std::memset(frame, int(mFrameIndex % 256), FrameServer::FRAME_SIZE);
    ++mFrameIndex;
    return true;
}

// ---------------------------------------------------------------- spectrum

void SpectrumFeed::analyse(Clock::time_point now, uint8_t* frame) {
    mBuffer.snapshot(now, mSnapshot);
    mAnalyzer.compute(mSnapshot.window, mSpectrum, mWaveform);
    std::memcpy(frame, mSpectrum[0], SPECTRUM_BINS);
    std::memcpy(frame + SPECTRUM_BINS, mSpectrum[1], SPECTRUM_BINS);
}

// ---------------------------------------------------------------- music

MusicFeed::MusicFeed(std::vector<std::string> paths, bool loop, bool mute)
    : mProgram(std::move(paths), loop), mMute(mute) {
    mProgram.mWarn = say;
}

MusicFeed::~MusicFeed() { stop(); }

bool MusicFeed::start(std::string& error) {
    mDecoder = std::thread([this] {
        std::vector<float> chunk(4096 * 2);
        lv::TrackMeta meta;
        while (!mQuitting && mProgram.next(meta)) {
            mBuffer.startTrack(meta);
            for (;;) {
                size_t n = mProgram.read(chunk.data(), 4096);
                if (n == 0 || !mBuffer.push(chunk.data(), n)) break;
            }
        }
        mBuffer.finish();
    });
    if (!mBuffer.waitForFirstTrack()) {
        stop();
        error = "nothing could be played: give files FFmpeg can read (mp3, flac, ogg, wav, ...), or none for the "
                "demo song";
        return false;
    }
    mAudio.start(
        [this](float* out, int frames) {
            mBuffer.pull(out, size_t(frames), PlaybackBuffer::Clock::now(), mAudio.latencyFrames());
        },
        mMute);
    if (mAudio.silent() && !mMute) say(mAudio.warning());
    return true;
}

bool MusicFeed::fill(Clock::time_point now, uint8_t frame[FrameServer::FRAME_SIZE]) {
    analyse(now, frame);
    if (mSnapshot.over) {
        mDone = "the music is over";
        return false;
    }
    if (mSnapshot.track >= 0 && mSnapshot.track != mCurrentTrack) {
        mCurrentTrack = mSnapshot.track;
        const lv::TrackMeta meta = mBuffer.trackMeta(mCurrentTrack);
        announce(meta);
        nowPlaying(meta);
    }
    return true;
}

void MusicFeed::announce(const lv::TrackMeta& meta) {
    std::string line = "playing \"" + meta.title + "\"";
    if (!meta.artist.empty()) line += " by " + meta.artist;
    say(line);
}

void MusicFeed::stop() {
    // The device first: its thread pulls from the buffer the decoder fills.
    mAudio.stop();
    mQuitting = true;
    mBuffer.close();
    if (mDecoder.joinable()) mDecoder.join();
}

std::string MusicFeed::describe() const {
    return mProgram.playsDemo() ? "the demo song" : "the music";
}

// ---------------------------------------------------------------- live

bool LiveFeed::start(std::string& error) {
    lv::CaptureServerInfo server;
    if (!lv::queryCaptureSources(server, error)) return false;
    const lv::CaptureSource* found = findCaptureSource(server, mSourceName);
    if (!found) {
        const std::string name = mSourceName.empty() ? server.defaultMonitor : mSourceName;
        error = name.empty() ? "the sound server has no output to capture; name a source (corvane --list-sources)"
                             : "unknown capture source \"" + name + "\"; corvane --list-sources lists them";
        return false;
    }
    mDescription = found->description;
    lv::TrackMeta meta;
    meta.title = "Live sound";
    meta.artist = found->description;
    meta.album = server.serverName;
    nowPlaying(meta);
    mSource = meta;
    mLiveTrack.start(meta, mPlayer, true);
    if (!mCapture.start(
            mSourceName,
            [this](const float* frames, int count) {
                mBuffer.played(frames, size_t(count), PlaybackBuffer::Clock::now());
            },
            error))
        return false;
    return true;
}

bool LiveFeed::fill(Clock::time_point now, uint8_t frame[FrameServer::FRAME_SIZE]) {
    if (mCapture.failed()) {
        mDone = mCapture.error() + "; start corvane again once the source is back (corvane --list-sources)";
        mFailed = true;
        return false;
    }
    for (std::string line; mCapture.notice(line);) say(line);
    if (const std::string now = mCapture.sourceDescription(); !now.empty() && now != mSource.artist) {
        mSource.artist = mDescription = now;
        mLiveTrack.setSource(mSource);
    }
    lv::TrackMeta meta;
    if (mLiveTrack.poll(meta, say)) nowPlaying(meta);
    analyse(now, frame);
    return true;
}

}  // namespace corvane
