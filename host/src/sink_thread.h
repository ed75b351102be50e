// Encoding and file writing beside the drawing, for offline renders: the
// next frame is drawn while the last one is compressed. Jobs are done in
// the order given, on the sink's own thread; the first failure stops the
// rest and is kept for error().
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lv/video_out.h"

class SinkThread {
public:
    // `video` and `wav` may be null, `framesDir` empty: what is not given
    // is not written.
    SinkThread(lv::VideoWriter* video, const std::string& framesDir, lv::WavWriter* wav, int width, int height);
    ~SinkThread() { finish(); }
    SinkThread(const SinkThread&) = delete;
    SinkThread& operator=(const SinkThread&) = delete;

    // A width x height RGBA picture, copied.
    void frame(const unsigned char* rgba);
    // Interleaved stereo frames, copied.
    void audio(const float* frames, size_t count);

    // Waits for the queue to empty and the thread to end.
    void finish();

    bool failed() const { return mFailed; }
    std::string error();

private:
    struct Job {
        std::vector<unsigned char> pixels;
        std::vector<float> audio;
        long long index = 0;
    };

    void put(Job&& job);
    void run();
    bool write(const Job& job, std::string& error);

    lv::VideoWriter* mVideo;
    std::string mFramesDir;
    lv::WavWriter* mWav;
    int mWidth, mHeight;
    long long mFramesQueued = 0;
    std::mutex mMutex;
    std::condition_variable mCv;
    std::deque<Job> mJobs;
    bool mDone = false;
    std::atomic<bool> mFailed{false};
    std::string mError;
    std::thread mThread;
};
