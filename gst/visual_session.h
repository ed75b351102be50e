// The GStreamer element's host of the plug-in, without GStreamer: the
// plug-in linked in and driven through the same entry point and messages as
// the player's offline render (PluginModule::useLinked, as the page does),
// drawing offscreen on a virtual clock that the element sets from the
// stream's running time.
//
// Threads: GStreamer calls from its streaming thread and from the thread
// that changes the state, and a pool may hand the streaming task a different
// thread after each start. A GL context is current on one thread, so every
// call into the plug-in runs on the session's own thread, made by start()
// and joined by stop(); the public calls wait for it.
//
// The plug-in's scene is the process's own (its globals): one session at a
// time draws with it. start() fails for a second one and says so.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio_constants.h"

namespace lvgst {

// What the element's properties ask of the scene. The ranges and defaults
// live in the element's property table (gstlumenvortex.cpp); the scene moves
// to them with the player's keys, so particles go in steps of 100 and gain
// in steps of x1.25 from the plug-in's start, to the nearest step.
struct SceneSettings {
    int mode = 0;
    int palette = 0;
    int particles = 525;
    double gain = 0.5;
    bool noiseFlow = false;
    bool cycleModes = true;
    std::string renderer = "auto";   // auto, batched or gles
    bool operator==(const SceneSettings&) const = default;
};

// The stream's tags that make a track for the plug-in.
struct TrackTags {
    std::string title, artist, album;
    std::vector<unsigned char> cover;   // JPEG or PNG bytes, empty for none
    long long durationMs = -1;
    bool empty() const { return title.empty() && artist.empty() && album.empty() && cover.empty(); }
    bool sameTrack(const TrackTags& o) const {
        return title == o.title && artist == o.artist && album == o.album && cover == o.cover;
    }
};

// The scene's modes: the mode property's range.
int sceneModeCount();

class VisualSession {
public:
    VisualSession() = default;
    ~VisualSession() { stop(); }
    VisualSession(const VisualSession&) = delete;
    VisualSession& operator=(const VisualSession&) = delete;

    // Claims the plug-in and starts it on the session's thread. False with
    // `error` naming the fix.
    bool start(std::string& error);
    // Hides the picture and lets the plug-in go; safe to call twice.
    void stop();

    // Taken before the next frame: a track change (the first one is the
    // track that plays when the picture opens) and the settings.
    void setTrack(const TrackTags& tags);
    void setSettings(const SceneSettings& settings);
    // After a flush: the stream's running time starts again, the scene's
    // clock goes on from where it is.
    void rebaseClock();

    // One frame of width x height: `window` is WINDOW_FRAMES interleaved
    // stereo frames at SAMPLE_RATE ending at the frame's sample, `sceneMicros`
    // its running time, `trackMs` the time into the track. `rgba` (width x
    // height x 4 bytes) gets the picture, row 0 at the top. False with `error` when nothing was drawn.
    bool draw(int width, int height, long long sceneMicros, const float* window, unsigned trackMs,
              unsigned char* rgba, std::string& error);

    // The GL driver drawing (GL_RENDERER), empty before the first frame.
    std::string driver();

private:
    struct State;
    // Runs `job` on the session's thread and waits for it.
    void call(const std::function<void()>& job);
    void loop();

    std::thread mThread;
    std::mutex mMutex;
    std::condition_variable mWake, mDone;
    const std::function<void()>* mJob = nullptr;
    bool mQuit = false;
    bool mClaimed = false;
    State* mState = nullptr;   // owned by the session's thread
};

}  // namespace lvgst
