#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

Progress::Progress(long long totalFrames, int fps) : mTotal(totalFrames), mFps(fps), mOn(isatty(STDERR_FILENO)) {
    mStart = mLast = std::chrono::steady_clock::now();
}

void Progress::update(long long done) {
    if (!mOn) return;
    auto now = std::chrono::steady_clock::now();
    if (now - mLast < std::chrono::milliseconds(100) && done != mTotal) return;
    mLast = now;
    double seconds = std::chrono::duration<double>(now - mStart).count();
    double fps = seconds > 0 ? double(done) / seconds : 0.0;
    char line[160];
    if (mTotal > 0) {
        long long shown = std::min(done, mTotal);
        int width = 30, filled = int(double(shown) / double(mTotal) * width);
        std::string bar(size_t(filled), '=');
        if (filled < width) bar += '>' + std::string(size_t(width - filled - 1), ' ');
        long long eta = fps > 0 ? (long long)(double(mTotal - shown) / fps + 0.5) : 0;
        std::snprintf(line, sizeof line, "\r%3d%% [%s] %lld/%lld frames  %.1f fps (%.2fx real time)  ETA %lld:%02lld ",
                      int(100.0 * double(shown) / double(mTotal)), bar.c_str(), done, mTotal, fps, fps / mFps,
                      eta / 60, eta % 60);
    } else {
        std::snprintf(line, sizeof line, "\r%lld frames  %.1f fps (%.2fx real time) ", done, fps, fps / mFps);
    }
    std::fputs(line, stderr);
    std::fflush(stderr);
    mDirty = true;
}

void Progress::clear() {
    if (mOn && mDirty) {
        std::fputs("\r\033[K", stderr);
        mDirty = false;
    }
}

double Progress::elapsedSeconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - mStart).count();
}
