// The progress of an offline render on stderr. On a terminal it is one line
// redrawn in place; elsewhere (a log, CI) a plain line about every ten
// seconds, since a render can run for minutes.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

// "4:05", or "3:17:13" from an hour on.
std::string clockText(double seconds);

// The render's recent speed, for the time left: the frames and the seconds
// they took, both counted with a weight that fades over a few seconds of
// wall time. A render slows as its scene fills, so the average since the
// start promises too little; the recent one follows it, and one slow frame
// among a few seconds' worth moves it little.
class RecentRate {
public:
    explicit RecentRate(double fadeSeconds = 3.0) : mFade(fadeSeconds) {}
    // `frames` more frames took `seconds`.
    void add(long long frames, double seconds);
    bool known() const { return mFrames > 0 && mSeconds > 0; }
    double framesPerSecond() const { return known() ? mFrames / mSeconds : 0.0; }
    // How long `frames` more would take at the recent rate; 0 while unknown.
    double secondsFor(long long frames) const { return known() ? double(frames) * mSeconds / mFrames : 0.0; }

private:
    double mFade;
    double mFrames = 0.0, mSeconds = 0.0;
};

class Progress {
public:
    struct Setup {
        bool terminal = false;           // redraw one line; else plain lines
        double plainEverySeconds = 10.0;
        std::function<double()> now;     // seconds on a steady clock
        FILE* out = stderr;
        // The terminal's width in columns; unset: asked of `out`'s terminal
        // at each redraw (so a resized window is followed), else $COLUMNS.
        std::function<int()> columns = nullptr;
    };

    // `totalFrames` < 0: the length is unknown, and only the count shows.
    // On stderr with the steady clock, as a terminal line when it is one.
    Progress(long long totalFrames, int fps);
    Progress(long long totalFrames, int fps, Setup setup);

    void update(long long done);
    // Clears a terminal line before another message goes out.
    void clear();
    double elapsedSeconds() const;

private:
    void drawLine(long long done, double elapsed);
    int columns() const;
    void printPlain(long long done, double elapsed);

    long long mTotal;
    int mFps;
    Setup mSetup;
    RecentRate mRate;
    bool mDirty = false;
    double mStart = 0.0, mLastSample = 0.0, mLastPlain = 0.0;
    long long mSampledFrames = 0;
};
