// Feeds: what fills the frames corvane sends. The main loop asks its feed
// for one frame per tick, on its own thread; each feed keeps whatever
// threads it needs behind that.
//
//   PatternFeed  the framing test signal: every byte of frame k is k mod 256
//   MusicFeed    files (or the demo song) decoded on a thread of their own,
//                played through the sound device (or silently at the same
//                pace), and the spectrum of the WINDOW_FRAMES samples heard at
//                the tick
//   LiveFeed     the spectrum of the newest WINDOW_FRAMES samples of a PulseAudio
//                source (by default the default output's monitor); the track
//                a desktop player says it plays (MPRIS), else the source
//
// Failure: start() returns false with a message that says what to do;
// fill() returns false when nothing more will come, with done() saying why
// and failed() whether that is an error (a capture stream that died) or the
// natural end (the music is over).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "frame_server.h"
#include "audio_constants.h"
#include "lv/audio_out.h"
#include "live_track.h"
#include "lv/capture.h"
#include "playback_buffer.h"
#include "program.h"
#include "fft_spectrum_analyzer.h"

namespace corvane {

// A frame on the wire is the two channels' spectra, one after the other.
static_assert(FrameServer::FRAME_SIZE == 2 * SPECTRUM_BINS);

using Clock = std::chrono::steady_clock;

class Feed {
public:
    virtual ~Feed() = default;
    virtual bool start(std::string& error) = 0;
    // The frame for the tick at `now`: left spectrum, then right.
    virtual bool fill(Clock::time_point now, uint8_t frame[FrameServer::FRAME_SIZE]) = 0;
    virtual void stop() {}
    // What is being served, for the start-up message.
    virtual std::string describe() const = 0;

    const std::string& done() const { return mDone; }
    bool failed() const { return mFailed; }

    // Told what plays: by start() or the first fill(), then at each change;
    // always on the thread that calls them.
    std::function<void(const lv::TrackMeta&)> mOnTrack;

protected:
    void nowPlaying(const lv::TrackMeta& meta) {
        if (mOnTrack) mOnTrack(meta);
    }

    std::string mDone;
    bool mFailed = false;
};

class PatternFeed : public Feed {
public:
    bool start(std::string&) override { return true; }
    bool fill(Clock::time_point now, uint8_t frame[FrameServer::FRAME_SIZE]) override;
    std::string describe() const override { return "the framing test pattern"; }

private:
    uint64_t mFrameIndex = 0;
};

// The part the two sound feeds share: a playback buffer and its spectrum.
class SpectrumFeed : public Feed {
protected:
    // Spectrum of the samples heard at `now` into `frame`; the snapshot stays
    // in mSnapshot for the caller.
    void analyse(Clock::time_point now, uint8_t* frame);

    PlaybackBuffer mBuffer;
    PlaybackBuffer::Snapshot mSnapshot;
    SpectrumAnalyzer mAnalyzer;
    uint8_t mSpectrum[2][SPECTRUM_BINS];
    uint8_t mWaveform[2][WAVEFORM_SAMPLES];
};

class MusicFeed : public SpectrumFeed {
public:
    // `paths` already expanded from the command line; empty plays the demo.
    MusicFeed(std::vector<std::string> paths, bool loop, bool mute);
    ~MusicFeed() override;

    bool start(std::string& error) override;
    bool fill(Clock::time_point now, uint8_t frame[FrameServer::FRAME_SIZE]) override;
    void stop() override;
    std::string describe() const override;

private:
    void announce(const lv::TrackMeta& meta);

    Program mProgram;
    bool mMute;
    lv::AudioOut mAudio;
    std::thread mDecoder;
    std::atomic<bool> mQuitting{false};
    int mCurrentTrack = -1;
};

class LiveFeed : public SpectrumFeed {
public:
    // `player` as --player: the MPRIS player whose track is served.
    LiveFeed(std::string sourceName, std::string player)
        : mSourceName(std::move(sourceName)), mPlayer(std::move(player)) {}
    ~LiveFeed() override { stop(); }

    bool start(std::string& error) override;
    bool fill(Clock::time_point now, uint8_t frame[FrameServer::FRAME_SIZE]) override;
    void stop() override {
        mCapture.stop();
        mLiveTrack.stop();
    }
    std::string describe() const override { return "live sound from " + mDescription; }

private:
    std::string mSourceName;
    std::string mPlayer;
    std::string mDescription;
    lv::CaptureStream mCapture;
    LiveTrack mLiveTrack;
    lv::TrackMeta mSource;   // what the track line says while no player names a track
};

}  // namespace corvane
