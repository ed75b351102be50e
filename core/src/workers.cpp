// The frame's helper thread; see workers.h.
#include "workers.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// The helper: forEach(count, task) hands out the k one at a time to the
// calling thread and the helper.
class Worker {
public:
    Worker() : mThread([this] { loop(); }) {}
    ~Worker() {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mQuit = true;
        }
        mWake.notify_one();
        mThread.join();
    }

    void forEach(int count, const std::function<void(int)>& task) {
        mNext.store(0);
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mTask = &task;
            mCount = count;
            mBusy = true;
            mGeneration++;
        }
        mWake.notify_one();
        drain(task, count);
        std::unique_lock<std::mutex> lock(mMutex);
        mDone.wait(lock, [this] { return !mBusy; });
        mTask = nullptr;
    }

private:
    void drain(const std::function<void(int)>& task, int count) {
        for (int k = mNext.fetch_add(1); k < count; k = mNext.fetch_add(1)) task(k);
    }

    void loop() {
        unsigned seen = 0;
        std::unique_lock<std::mutex> lock(mMutex);
        for (;;) {
            mWake.wait(lock, [&] { return mQuit || mGeneration != seen; });
            if (mQuit) return;
            seen = mGeneration;
            const std::function<void(int)>* task = mTask;
            int count = mCount;
            lock.unlock();
            drain(*task, count);
            lock.lock();
            mBusy = false;
            mDone.notify_one();
        }
    }

    std::mutex mMutex;
    std::condition_variable mWake, mDone;
    const std::function<void(int)>* mTask = nullptr;
    int mCount = 0;
    unsigned mGeneration = 0;
    bool mBusy = false;
    bool mQuit = false;
    std::atomic<int> mNext{0};
    std::thread mThread;   // last: starts after the members it reads exist
};

// Made on first use by a two-thread step, lives until the process ends.
Worker& worker() {
    static Worker w;
    return w;
}

}  // namespace

void runTasks(bool threaded, int count, const std::function<void(int)>& task) {
    if (threaded) {
        worker().forEach(count, task);
    } else {
        for (int k = 0; k < count; k++) task(k);
    }
}
