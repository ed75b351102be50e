// Lumenvortex as a Kodi visualisation, without Kodi: what the add-on
// (addon.cpp) does with each of Kodi's calls, kept apart from Kodi's headers
// so that tests can drive it in a GL context of their own.
//
// It drives the plug-in, linked in, through the same entry point and
// messages as the player and the page (plugin/host/plugin_module.h): "init"
// when made, "show" on the host's current context (LV_PORT_CURRENT_CONTEXT)
// at the first frame, "vrnd" with the spectrum of the PCM heard last
// (SpectrumAnalyzer), "vply"/"ctrk" with the track and its cover, key events
// for presets and settings, "hide" at stop.
//
// Who calls it: the host's GUI thread, with the host's GL context current
// for start, render and stop (the other calls touch no GL state of the host's:
// the plug-in's own GL work waits for the next frame where it can).
// Failure: start() and render() report through `error` and draw nothing;
// nothing a host passes can crash it (a bad cover is no cover).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "gl_state.h"
#include "lv/media.h"
#include "lv/port.h"
#include "iTunesAPI.h"

namespace lvkodi {

// What the add-on's settings choose; the defaults are the visualizer's own.
struct Settings {
    int particles = 525;   // target count: 25 to 2525, in the keys' steps of 100
    int gainSteps = 0;     // input gain in the keys' steps of x1.25 from the default
    bool flow = false;     // particles drift in the noise field
    int palette = 0;       // 0 to 3

    static constexpr int kMinParticles = 25, kMaxParticles = 2525, kParticleStep = 100;
    static constexpr int kMinGainSteps = -12, kMaxGainSteps = 12;
    static constexpr int kPalettes = 4;

    bool operator==(const Settings&) const = default;
};

class Visualizer {
public:
    Visualizer();
    ~Visualizer();
    Visualizer(const Visualizer&) = delete;
    Visualizer& operator=(const Visualizer&) = delete;

    // "init" went through: the plug-in is there. False with lastError() when not.
    bool ready() const { return mReady; }
    const std::string& lastError() const { return mError; }

    // A song starts: PCM will come with `channels` interleaved channels.
    void start(int channels);
    // The visualisation window closes: "hide" (the host's context is current).
    void stop();
    // Interleaved float PCM, as much as the host has: the newest window of it
    // is what the next frame's spectrum is made of.
    void audioData(const float* samples, size_t count);
    // One frame into the host's framebuffer, inside its viewport as bound
    // now; the host's GL state is as it was afterwards.
    bool render();
    // The same with given spectrum rows instead of the PCM's (scripted runs).
    bool render(const uint8_t spectrum[2][512]);

    // The track now playing. The cover named last (updateAlbumart) goes with
    // it; Kodi names the cover before the track.
    void updateTrack(const lv::TrackMeta& meta);
    // A picture file (JPEG or PNG, read with the limits of every cover); an
    // empty, missing, oversized or unreadable file is no cover.
    void updateAlbumart(const std::string& path);

    // Presets: the visual modes, named for people.
    static const std::vector<std::string>& presetNames();
    int activePreset() const;
    bool loadPreset(int index);
    bool nextPreset();
    bool prevPreset();
    bool randomPreset();
    // Locked, a new track keeps the mode (cycling off, the `c` key).
    bool lockPreset(bool lock);
    bool locked() const;

    // Applies each setting that differs from the visualizer's state now, with
    // the keys a person would press. Out-of-range values are brought in range.
    void apply(const Settings& settings);
    Settings current() const;

    // The plug-in's clock (the host extension); tests pass a virtual one.
    void setClock(long long (*nowMicros)(void*), void (*sleepMicros)(void*, long long), void* user);
    // Frames drawn so far.
    unsigned long frames() const { return mPort.frameCount; }

private:
    bool draw();
    void keys(const std::string& presses);
    template <class F>
    void withPluginState(F&& f);

    struct Plugin;
    Plugin* mPlugin;
    LVPort mPort{};
    bool mReady = false, mShown = false, mPlayed = false;
    std::string mError;
    int mChannels = 2;
    // The newest window of stereo frames, interleaved: Kodi may hand PCM
    // over on its audio thread.
    std::mutex mHistoryLock;
    std::vector<float> mHistory;
    std::vector<unsigned char> mCover;
    lv::ImageFormat mCoverFormat = lv::ImageFormat::NoImage;
    Rect mCanvas{};
    GlState mMine;                 // the plug-in's GL state between frames
    std::minstd_rand mRandom;
};

}  // namespace lvkodi
