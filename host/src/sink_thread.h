// Colour conversion, encoding and file writing beside the drawing, for
// offline renders. Three stages overlap, each on its own thread:
//
//   drawing (the caller's)   the plug-in draws frame n; the GL layer starts
//                            reading it back and hands over frame n-2
//                            (lv/port.h: frameReady, frameWait)
//   converting               frame n-2 from the GL layer's mapped buffer to
//                            YUV (and PNG), read in place; the buffer goes
//                            back to the GL layer as soon as it is read
//   writing                  the encoder (x264 runs its own threads) and the
//                            files, sound and pictures in the order given
//
// attach() points a port's read-back here. Jobs are done in the order given;
// the first failure stops the rest and is kept for error().
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lv/port.h"
#include "lv/video_out.h"

class SinkThread {
public:
    // `video` and `wav` may be null, `framesDir` empty: what is not given
    // is not written.
    SinkThread(lv::VideoWriter* video, const std::string& framesDir, lv::WavWriter* wav, int width, int height);
    ~SinkThread() { finish(); }
    SinkThread(const SinkThread&) = delete;
    SinkThread& operator=(const SinkThread&) = delete;

    // Frames drawn on `port` come here from now on (the port's frameReady,
    // frameWait and frameUser); detach() before the port or this goes.
    void attach(LVPort& port);
    static void detach(LVPort& port);

    // Interleaved stereo frames, copied.
    void audio(const float* frames, size_t count);

    // One video a track: sound given from now on, and frames from
    // `fromFrame` on, go to `next`; the video before is finished after its
    // last frame is written. The caller keeps both.
    void switchVideo(lv::VideoWriter* next, long long fromFrame);

    // Waits for every job to be done and the threads to end.
    void finish();

    // PNG frames keep the light as alpha over a transparent ground
    // (lv::lightToStraightAlpha); before the first frame.
    void keepAlphaInFrames() { mAlphaFrames = true; }

    // The next `count` frames drawn are let go unwritten: the picture
    // warming up before the video begins. Before the first frame.
    void dropFrames(long long count) { mFramesToDrop = count; }

    // The PNG frames are numbered from `first` (a part of a longer render
    // keeps the whole render's numbers). Before the first frame.
    void numberFramesFrom(long long first) { mFirstFrameNumber = first; }

    // A live stream: the frame the port draws as GL frame `glIndex` (its
    // frameCount before the swap) goes out as frame `pts` of the video.
    // Once one is numbered, frames that are not (drawn for a connection
    // that broke) are let go unwritten.
    void numberFrame(unsigned long glIndex, long long pts) {
        mNumbered = true;
        mNumbers.push_back({glIndex, pts});
    }

    long long framesDelivered() const { return mFramesQueued; }
    long long framesDropped() const { return mFramesDropped; }
    bool failed() const { return mFailed; }
    std::string error();

private:
    struct Job {
        const unsigned char* rgba = nullptr;   // the GL layer's, until converted
        long stride = 0;
        unsigned long glIndex = 0;
        long long index = 0;
        long long pts = -1;   // numberFrame's, or -1 for the next
        lv::VideoWriter* video = nullptr;   // where the picture or sound goes
        std::vector<float> audio;
        std::unique_ptr<lv::VideoPicture> picture;
    };

    static void onFrameReady(void* user, const unsigned char* rgba, int width, int height, long stride,
                             unsigned long index);
    static void onFrameWait(void* user, unsigned long index);
    bool takeNumber(unsigned long glIndex, long long& pts);
    void letGo(unsigned long glIndex);
    void put(Job&& job);
    void convertLoop();
    void writeLoop();
    bool convert(Job& job, std::string& error);
    bool write(Job& job, std::string& error);
    void fail(const std::string& error);

    lv::VideoWriter* mAudioVideo;                // the drawing thread's
    lv::VideoWriter* mFrameVideo;                // the drawing thread's
    lv::VideoWriter* mWritingVideo;              // the writing thread's
    std::deque<std::pair<long long, lv::VideoWriter*>> mSwitches;   // the drawing thread's
    std::string mFramesDir;
    lv::WavWriter* mWav;
    int mWidth, mHeight;
    long long mFramesQueued = 0;
    long long mFramesToDrop = 0, mFramesDropped = 0;
    long long mFirstFrameNumber = 0;
    bool mAlphaFrames = false;
    std::deque<std::pair<unsigned long, long long>> mNumbers;   // the drawing thread's
    bool mNumbered = false;
    std::vector<unsigned char> mStraight;   // the converting thread's

    std::mutex mMutex;
    std::condition_variable mCv;
    std::deque<Job> mToConvert, mToWrite;
    std::vector<std::unique_ptr<lv::VideoPicture>> mFreePictures;
    unsigned long mReleasedUpTo = 0;   // GL frames before this index are read
    long long mReading = -1;           // the GL frame being read now, or -1
    bool mConvertDone = false, mDone = false, mEnded = false;
    std::atomic<bool> mFailed{false};
    std::string mError;
    std::thread mConverter, mWriter;
};

// Frame `index`'s file in a --frames folder ("frame-000042.png"), and
// whether a file's name is one such.
std::string frameFileName(long long index);
bool isFrameFileName(const std::string& name);
