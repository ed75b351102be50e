#include "sink_thread.h"

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace {

// Pictures converted ahead of the encoder: enough to keep both busy, few
// enough that a slow disk holds the drawing back instead of filling memory.
constexpr int kPictures = 3;

}  // namespace

SinkThread::SinkThread(lv::VideoWriter* video, const std::string& framesDir, lv::WavWriter* wav, int width,
                       int height)
    : mAudioVideo(video), mFrameVideo(video), mWritingVideo(video), mFramesDir(framesDir), mWav(wav), mWidth(width),
      mHeight(height) {
    for (int i = 0; i < kPictures; ++i) mFreePictures.push_back(std::make_unique<lv::VideoPicture>());
    mConverter = std::thread(&SinkThread::convertLoop, this);
    mWriter = std::thread(&SinkThread::writeLoop, this);
}

void SinkThread::attach(LVPort& port) {
    {
        // Frames drawn before are another's (a stream's broken connection):
        // the GL layer waits for none of them here.
        std::lock_guard<std::mutex> lock(mMutex);
        mReleasedUpTo = std::max(mReleasedUpTo, port.frameCount);
    }
    port.frameReady = &SinkThread::onFrameReady;
    port.frameWait = &SinkThread::onFrameWait;
    port.frameUser = this;
}

void SinkThread::detach(LVPort& port) {
    port.frameReady = nullptr;
    port.frameWait = nullptr;
    port.frameUser = nullptr;
}

void SinkThread::onFrameReady(void* user, const unsigned char* rgba, int width, int height, long stride,
                              unsigned long index) {
    auto* self = static_cast<SinkThread*>(user);
    if (width != self->mWidth || height != self->mHeight) {
        self->fail("the plug-in drew " + std::to_string(width) + "x" + std::to_string(height) + " instead of " +
                   std::to_string(self->mWidth) + "x" + std::to_string(self->mHeight));
        return;
    }
    long long pts = -1;
    if (self->mFramesDropped < self->mFramesToDrop || !self->takeNumber(index, pts)) {
        ++self->mFramesDropped;
        self->letGo(index);
        return;
    }
    Job job;
    job.pts = pts;
    job.rgba = rgba;
    job.stride = stride;
    job.glIndex = index;
    job.index = self->mFramesQueued++;
    auto& switches = self->mSwitches;
    for (; !switches.empty() && switches.front().first <= job.index; switches.pop_front())
        self->mFrameVideo = switches.front().second;
    job.video = self->mFrameVideo;
    self->put(std::move(job));
}

bool SinkThread::takeNumber(unsigned long glIndex, long long& pts) {
    if (!mNumbered) return true;
    while (!mNumbers.empty() && mNumbers.front().first < glIndex) mNumbers.pop_front();
    if (mNumbers.empty() || mNumbers.front().first != glIndex) return false;
    pts = mNumbers.front().second;
    mNumbers.pop_front();
    return true;
}

void SinkThread::letGo(unsigned long glIndex) {
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mReleasedUpTo = std::max(mReleasedUpTo, glIndex + 1);
    }
    mCv.notify_all();
}

// The GL layer reuses a frame's buffer only once it has been converted.
void SinkThread::onFrameWait(void* user, unsigned long index) {
    auto* self = static_cast<SinkThread*>(user);
    std::unique_lock<std::mutex> lock(self->mMutex);
    // After a failure nothing more is read, except a frame being read right now.
    self->mCv.wait(lock, [&] {
        return self->mReleasedUpTo > index || self->mEnded || (self->mFailed && self->mReading != (long long)index);
    });
}

void SinkThread::audio(const float* frames, size_t count) {
    if (!count) return;
    Job job;
    job.audio.assign(frames, frames + count * 2);
    job.video = mAudioVideo;
    put(std::move(job));
}

void SinkThread::switchVideo(lv::VideoWriter* next, long long fromFrame) {
    mAudioVideo = next;
    mSwitches.push_back({fromFrame, next});
}

void SinkThread::finish() {
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mDone = true;
    }
    mCv.notify_all();
    if (mConverter.joinable()) mConverter.join();
    if (mWriter.joinable()) mWriter.join();
    std::lock_guard<std::mutex> lock(mMutex);
    mEnded = true;
    mCv.notify_all();
}

std::string SinkThread::error() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mError;
}

void SinkThread::fail(const std::string& error) {
    std::lock_guard<std::mutex> lock(mMutex);
    if (!mFailed) mError = error;
    mFailed = true;
    mCv.notify_all();
}

void SinkThread::put(Job&& job) {
    std::lock_guard<std::mutex> lock(mMutex);
    if (mFailed || mDone) return;
    mToConvert.push_back(std::move(job));
    mCv.notify_all();
}

void SinkThread::convertLoop() {
    pthread_setname_np(pthread_self(), "lv-convert");   // for top -H and profilers
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mMutex);
            mCv.wait(lock, [&] { return !mToConvert.empty() || mDone; });
            if (mToConvert.empty()) break;
            job = std::move(mToConvert.front());
            mToConvert.pop_front();
            if (job.rgba) mReading = (long long)job.glIndex;
            if (job.rgba && job.video) {   // a picture to convert into
                mCv.wait(lock, [&] { return !mFreePictures.empty() || mFailed; });
                if (!mFailed) {
                    job.picture = std::move(mFreePictures.back());
                    mFreePictures.pop_back();
                }
            }
        }
        std::string error;
        if (!mFailed && !convert(job, error)) fail(error);
        std::lock_guard<std::mutex> lock(mMutex);
        if (job.rgba) mReleasedUpTo = job.glIndex + 1;
        mReading = -1;
        job.rgba = nullptr;
        if (!mFailed) mToWrite.push_back(std::move(job));
        mCv.notify_all();
    }
    std::lock_guard<std::mutex> lock(mMutex);
    mConvertDone = true;
    mCv.notify_all();
}

void SinkThread::writeLoop() {
    pthread_setname_np(pthread_self(), "lv-write");
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mMutex);
            mCv.wait(lock, [&] { return !mToWrite.empty() || mConvertDone; });
            if (mToWrite.empty()) return;
            job = std::move(mToWrite.front());
            mToWrite.pop_front();
        }
        std::string error;
        if (!mFailed && !write(job, error)) fail(error);
        if (job.picture) {
            std::lock_guard<std::mutex> lock(mMutex);
            mFreePictures.push_back(std::move(job.picture));
            mCv.notify_all();
        }
    }
}

// On the converting thread, while the GL layer's bytes are ours.
bool SinkThread::convert(Job& job, std::string& error) {
    if (!job.rgba) return true;
    if (job.picture && !job.video->convert(job.rgba, job.stride, *job.picture, error)) return false;
    if (mFramesDir.empty()) return true;
    const std::string name = mFramesDir + "/" + frameFileName(mFirstFrameNumber + job.index);
    if (mAlphaFrames) {
        mStraight.resize(size_t(mWidth) * size_t(mHeight) * 4);
        lv::lightToStraightAlpha(job.rgba, job.stride, mWidth, mHeight, mStraight.data());
        return lv::writePng(name, mStraight.data(), mWidth, mHeight, error);
    }
    return lv::writePng(name, job.rgba, mWidth, mHeight, job.stride, error);
}

bool SinkThread::write(Job& job, std::string& error) {
    if (!job.audio.empty()) {
        if (job.video && !job.video->writeAudio(job.audio.data(), job.audio.size() / 2, error)) return false;
        return !mWav || mWav->write(job.audio.data(), job.audio.size() / 2, error);
    }
    if (!job.picture) return true;
    // The first frame of the next track's video: the one before has all it gets.
    if (job.video != mWritingVideo) {
        if (mWritingVideo && !mWritingVideo->close(error)) return false;
        mWritingVideo = job.video;
    }
    return job.pts >= 0 ? job.video->writePicture(*job.picture, job.pts, error)
                        : job.video->writePicture(*job.picture, error);
}

namespace {
constexpr char kFramePrefix[] = "frame-", kFrameSuffix[] = ".png";
}

std::string frameFileName(long long index) {
    char number[24];
    std::snprintf(number, sizeof number, "%06lld", index);
    return kFramePrefix + std::string(number) + kFrameSuffix;
}

bool isFrameFileName(const std::string& name) {
    return name.starts_with(kFramePrefix) && name.ends_with(kFrameSuffix) &&
           name.size() > std::size(kFramePrefix) - 1 + std::size(kFrameSuffix) - 1;
}
