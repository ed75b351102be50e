#include "progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Stretches shorter than this are too noisy to time; the terminal line is
// redrawn at the same pace.
constexpr double kSampleSeconds = 0.1;

// The bar's room between its brackets: it gives way to the figures before
// it shrinks below the narrowest that still reads as a bar.
constexpr int kWidestBar = 30, kNarrowestBar = 10;

// Where neither the terminal nor $COLUMNS says.
constexpr int kDefaultColumns = 80;

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The parts of the line, most useful first, joined by two spaces.
std::string joined(const std::vector<std::string>& parts) {
    std::string line;
    for (const std::string& p : parts)
        if (!p.empty()) line += (line.empty() ? "" : "  ") + p;
    return line;
}

std::string bar(double fraction, int width) {
    const int filled = std::clamp(int(fraction * width), 0, width);
    std::string inside(size_t(filled), '=');
    if (filled < width) inside += '>' + std::string(size_t(width - filled - 1), ' ');
    return "[" + inside + "]";
}

}  // namespace

std::string clockText(double seconds) {
    const long long s = (long long)(std::max(0.0, seconds) + 0.5);
    char buffer[48];
    if (s >= 3600)
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buffer, sizeof buffer, "%lld:%02lld", s / 60, s % 60);
    return buffer;
}

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

int Progress::columns() const {
    if (mSetup.columns) return mSetup.columns();
    winsize size{};
    if (ioctl(fileno(mSetup.out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    const char* env = std::getenv("COLUMNS");
    const int fromEnv = env ? std::atoi(env) : 0;
    return fromEnv > 0 ? fromEnv : kDefaultColumns;
}

// One line that never reaches the last column, where a terminal would wrap
// it and every redraw would scroll. What gives way first is the bar, then
// the count of frames, the frame rate and the words of the speed; the
// share done, the speed and the time left stay. The speed is the average
// since the start, the measure of the closing line; the time left follows
// the recent pace.
void Progress::drawLine(long long done, double elapsed) {
    const size_t room = size_t(std::max(1, columns() - 1));
    const double fps = elapsed > 0 ? double(done) / elapsed : 0.0;
    char rate[32], speed[48], shortSpeed[32];
    // Figures padded to a steady width, so that the bar does not jitter.
    std::snprintf(rate, sizeof rate, "%5.1f fps", fps);
    std::snprintf(speed, sizeof speed, "%5.2fx real time", fps / mFps);
    std::snprintf(shortSpeed, sizeof shortSpeed, "%.2fx", fps / mFps);
    std::vector<std::vector<std::string>> choices;   // widest first
    std::string share, eta;
    if (mTotal > 0) {
        const long long shown = std::min(done, mTotal);
        char percent[16];
        std::snprintf(percent, sizeof percent, "%3d%%", int(100.0 * double(shown) / double(mTotal)));
        share = percent;
        eta = "ETA " + (mRate.known() ? clockText(mRate.secondsFor(mTotal - shown)) : std::string("-:--"));
        const std::string all = std::to_string(mTotal), now = std::to_string(done);
        const std::string count = std::string(all.size() > now.size() ? all.size() - now.size() : 0, ' ') + now +
                                  "/" + all + " frames";
        const std::string figures = joined({count, rate, speed, eta});
        const size_t used = share.size() + figures.size() + 5;   // with the brackets and spaces
        const size_t barRoom = room > used ? room - used : 0;
        const int barWidth = std::min<int>(kWidestBar, int(barRoom));
        if (barWidth >= kNarrowestBar)
            choices.push_back({share + " " + bar(double(shown) / double(mTotal), barWidth), figures});
        choices.push_back({share, count, rate, speed, eta});
        choices.push_back({share, rate, speed, eta});
        choices.push_back({share, speed, eta});
        choices.push_back({share, shortSpeed, eta});
        choices.push_back({share, eta});
    } else {
        const std::string count = std::to_string(done) + " frames";
        choices.push_back({count, rate, speed});
        choices.push_back({count, speed});
        choices.push_back({count, shortSpeed});
        choices.push_back({count});
    }
    std::string line;
    for (const auto& parts : choices) {
        line = joined(parts);
        if (line.size() <= room) break;
    }
    if (line.size() > room) line.resize(room);   // a terminal narrower than any choice
    std::fputs(("\r" + line + "\033[K").c_str(), mSetup.out);
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
