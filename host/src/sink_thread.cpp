#include "sink_thread.h"

#include <cstdio>

SinkThread::SinkThread(lv::VideoWriter* video, const std::string& framesDir, lv::WavWriter* wav, int width,
                       int height)
    : mVideo(video), mFramesDir(framesDir), mWav(wav), mWidth(width), mHeight(height),
      mThread(&SinkThread::run, this) {}

void SinkThread::frame(const unsigned char* rgba) {
    Job job;
    job.pixels.assign(rgba, rgba + size_t(mWidth) * mHeight * 4);
    job.index = mFramesQueued++;
    put(std::move(job));
}

void SinkThread::audio(const float* frames, size_t count) {
    if (!count) return;
    Job job;
    job.audio.assign(frames, frames + count * 2);
    put(std::move(job));
}

void SinkThread::finish() {
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mDone = true;
    }
    mCv.notify_all();
    if (mThread.joinable()) mThread.join();
}

std::string SinkThread::error() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mError;
}

void SinkThread::put(Job&& job) {
    std::unique_lock<std::mutex> lock(mMutex);
    // Two frames in flight is enough to keep both sides busy.
    mCv.wait(lock, [&] { return mJobs.size() < 4 || mFailed; });
    if (mFailed) return;
    mJobs.push_back(std::move(job));
    mCv.notify_all();
}

void SinkThread::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mMutex);
            mCv.wait(lock, [&] { return !mJobs.empty() || mDone; });
            if (mJobs.empty()) return;
            job = std::move(mJobs.front());
            mJobs.pop_front();
        }
        mCv.notify_all();
        if (mFailed) continue;
        std::string error;
        if (!write(job, error)) {
            std::lock_guard<std::mutex> lock(mMutex);
            mError = error;
            mFailed = true;
            mCv.notify_all();
        }
    }
}

bool SinkThread::write(const Job& job, std::string& error) {
    if (!job.audio.empty()) {
        if (mVideo && !mVideo->writeAudio(job.audio.data(), job.audio.size() / 2, error)) return false;
        return !mWav || mWav->write(job.audio.data(), job.audio.size() / 2, error);
    }
    if (mVideo && !mVideo->writeFrame(job.pixels.data(), error)) return false;
    if (mFramesDir.empty()) return true;
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06lld.png", job.index);
    return lv::writePng(mFramesDir + name, job.pixels.data(), mWidth, mHeight, error);
}
