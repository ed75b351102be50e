// A progress line for offline renders, on the terminal only: when stderr is
// not one, nothing is written.
#pragma once

#include <chrono>

class Progress {
public:
    // `totalFrames` < 0: the length is unknown, and only the count shows.
    Progress(long long totalFrames, int fps);

    void update(long long done);
    // Clears the line before another message goes out.
    void clear();
    double elapsedSeconds() const;

private:
    long long mTotal;
    int mFps;
    bool mOn;
    bool mDirty = false;
    std::chrono::steady_clock::time_point mStart, mLast;
};
