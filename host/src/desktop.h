// What the live window does for the desktop around it: a title that names
// the track, a pointer that keeps out of the picture, and, with --verbose,
// the frame rate. The decisions are plain functions of their inputs (the
// clock is passed in), so the tests need no window and no waiting.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "lv/media.h"

namespace desktop {

using Clock = std::chrono::steady_clock;

// "Title – Artist · Lumenvortex", UTF-8; a missing part and its dash are left
// out, and with neither only "Lumenvortex" remains. Title and artist are cut
// (lv::boundTag): a title of megabytes would not fit in an X request. An artist that is the
// program itself (the demo song's) is not said twice. Paused, the title
// starts with "⏸ ", where the task bar shows it.
std::string windowTitle(const lv::TrackMeta& meta, bool paused = false);

// Writes the title where every X11 window manager and task bar looks:
// _NET_WM_NAME as UTF8_STRING, and WM_NAME as Latin-1 STRING when every
// character fits, else as UTF8_STRING too. `display` is the Display* the
// window belongs to.
void setX11Title(void* display, unsigned long window, const std::string& utf8);

// How long the pointer may rest over a window before it is hidden.
constexpr Clock::duration POINTER_IDLE = std::chrono::seconds(2);

// Whether the pointer shows: never over a full-screen picture, and in a
// window only while it has moved within POINTER_IDLE.
bool pointerShown(bool fullscreen, Clock::duration sinceMotion);

// Frames drawn per second, reported once per period.
class FrameRateMeter {
public:
    static constexpr Clock::duration PERIOD = std::chrono::seconds(5);

    explicit FrameRateMeter(Clock::time_point start) : mStart(start) {}

    // Counts a drawn frame. Once a period has passed since the last report,
    // returns the rate over it and starts the next; a period without frames
    // (the window minimized) is skipped, not reported as 0.
    std::optional<double> tick(Clock::time_point now, bool drew);

private:
    Clock::time_point mStart;
    long long mFrames = 0;
};

}  // namespace desktop
