#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

namespace {

// Stretches shorter than this are too noisy to time; the terminal line is
// redrawn at the same pace.
constexpr double kSampleSeconds = 0.1;

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string clockText(double seconds) {
    const long long s = (long long)(std::max(0.0, seconds) + 0.5);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld", s / 60, s % 60);
    return buffer;
}

}  // namespace

void RecentRate::add(long long frames, double seconds) {
    if (frames < 0 || seconds <= 0) return;
    // Faded by the stretch's own length, so the fade is in wall time however
    // often the caller samples.
    const double keep = std::exp(-seconds / mFade);
    mFrames = mFrames * keep + double(frames);
    mSeconds = mSeconds * keep + seconds;
}

Progress::Progress(long long totalFrames, int fps)
    : Progress(totalFrames, fps, Setup{isatty(STDERR_FILENO) != 0, 10.0, steadySeconds, stderr}) {}

Progress::Progress(long long totalFrames, int fps, Setup setup)
    : mTotal(totalFrames), mFps(fps), mSetup(std::move(setup)) {
    if (!mSetup.now) mSetup.now = steadySeconds;
    mStart = mLastSample = mLastPlain = mSetup.now();
}

void Progress::update(long long done) {
    const double now = mSetup.now();
    const bool sampled = now - mLastSample >= kSampleSeconds;
    if (sampled) {
        mRate.add(done - mSampledFrames, now - mLastSample);
        mLastSample = now;
        mSampledFrames = done;
    }
    if (mSetup.terminal) {
        if (sampled || done == mTotal) drawLine(done, now - mStart);
    } else if (now - mLastPlain >= mSetup.plainEverySeconds) {
        mLastPlain = now;
        printPlain(done, now - mStart);
    }
}

void Progress::drawLine(long long done, double elapsed) {
    const double fps = mRate.known() ? mRate.framesPerSecond() : elapsed > 0 ? double(done) / elapsed : 0.0;
    char line[192];
    if (mTotal > 0) {
        const long long shown = std::min(done, mTotal);
        const int width = 30, filled = int(double(shown) / double(mTotal) * width);
        std::string bar(size_t(filled), '=');
        if (filled < width) bar += '>' + std::string(size_t(width - filled - 1), ' ');
        std::snprintf(line, sizeof line, "\r%3d%% [%s] %lld/%lld frames  %.1f fps (%.2fx real time)  ETA %s ",
                      int(100.0 * double(shown) / double(mTotal)), bar.c_str(), done, mTotal, fps, fps / mFps,
                      mRate.known() ? clockText(mRate.secondsFor(mTotal - shown)).c_str() : "-:--");
    } else {
        std::snprintf(line, sizeof line, "\r%lld frames  %.1f fps (%.2fx real time) ", done, fps, fps / mFps);
    }
    std::fputs(line, mSetup.out);
    std::fflush(mSetup.out);
    mDirty = true;
}

void Progress::printPlain(long long done, double elapsed) {
    const double fps = mRate.framesPerSecond();
    std::string line = "lumenvortex: rendered " + std::to_string(done);
    if (mTotal > 0)
        line += " of " + std::to_string(mTotal) + " frames (" +
                std::to_string(int(100.0 * double(std::min(done, mTotal)) / double(mTotal))) + " %)";
    else
        line += " frames";
    char speed[96];
    std::snprintf(speed, sizeof speed, " in %s, lately %.1f fps (%.2fx real time)", clockText(elapsed).c_str(), fps,
                  fps / mFps);
    line += speed;
    if (mTotal > 0 && mRate.known())
        line += ", about " + clockText(mRate.secondsFor(std::max(0LL, mTotal - done))) + " left";
    std::fprintf(mSetup.out, "%s\n", line.c_str());
    std::fflush(mSetup.out);
}

void Progress::clear() {
    if (mSetup.terminal && mDirty) {
        std::fputs("\r\033[K", mSetup.out);
        std::fflush(mSetup.out);
        mDirty = false;
    }
}

double Progress::elapsedSeconds() const { return mSetup.now() - mStart; }
