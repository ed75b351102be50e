#include "visual_session.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "LumenvortexHost.h"
#include "MacMemory.h"
#include "fft_spectrum_analyzer.h"
#include "lumenvortexApplet.h"
#include "lv/image_format.h"
#include "lv/port.h"
#include "plugin_module.h"
#include "track_record.h"

extern "C" OSStatus iTunesPluginMainMachO(OSType message, PluginMessageInfo* messageInfo, void* refCon);

namespace lvgst {
namespace {

// The plug-in's scene is one per process.
std::atomic<bool> gPluginTaken{false};

// The player's keys' steps (the applet's key table): settings reach their
// values with these keys, as a person at the player would.
constexpr int kParticleStep = 100;
constexpr double kGainStep = 1.25;

// The plug-in's time: frame pacing and the start-up pause sleep on it, which
// only moves it on; each frame sets it forward to the frame's time.
struct VirtualClock {
    long long micros = 0;
    static long long now(void* user) { return static_cast<VirtualClock*>(user)->micros; }
    static void sleep(void* user, long long micros) {
        if (micros > 0) static_cast<VirtualClock*>(user)->micros += micros;
    }
};

}  // namespace

struct VisualSession::State {
    PluginModule plugin;
    LVPort port{};
    VirtualClock clock;
    long long base = 0;   // the plug-in's time at running time 0
    bool rebase = false;
    SpectrumAnalyzer analyzer;
    RenderVisualData data{};
    std::vector<unsigned char> pixels;
    TrackTags track;
    bool trackPending = false, played = false;
    SceneSettings settings;
    bool settingsPending = true;
    // What the keys last moved the scene to: only a setting that changed is
    // applied again, so that a mode the track changes moved on to stays
    // when, say, the gain is set.
    SceneSettings applied;
    bool appliedAny = false;
    std::string renderer;   // the one the plug-in draws with now

    bool show(int width, int height, std::string& error);
    void sendTrack();
    void applyRenderer();
    void applySettings();
    void key(char c) { plugin.event(keyDown, UInt32(static_cast<unsigned char>(c))); }
};

bool VisualSession::start(std::string& error) {
    if (mClaimed) return true;
    bool expected = false;
    if (!gPluginTaken.compare_exchange_strong(expected, true)) {
        error = "another lumenvortex element of this process is drawing: the visualizer's scene is one per process, "
                "so use one lumenvortex element at a time";
        return false;
    }
    mClaimed = true;
    mQuit = false;
    mThread = std::thread([this] { loop(); });
    bool started = false;
    call([&] {
        mState = new State();
        State& s = *mState;
        s.plugin.useLinked(iTunesPluginMainMachO, LumenvortexSetClock, LumenvortexAttachCorvane,
                           LumenvortexSetRenderer, "Lumenvortex (linked)");
        if (!s.plugin.setClock(&VirtualClock::now, &VirtualClock::sleep, &s.clock)) {
            error = "the linked plug-in has no LumenvortexSetClock";
            return;
        }
        started = s.plugin.start(error);
        s.data.numWaveformChannels = 2;
        s.data.numSpectrumChannels = 2;
    });
    if (!started) stop();
    return started;
}

void VisualSession::stop() {
    if (!mClaimed) return;
    call([this] {
        if (!mState) return;
        mState->plugin.hide();
        mState->plugin.cleanup();
        // Back to the wall clock: the clock struct goes with the state.
        mState->plugin.setClock(nullptr, nullptr, nullptr);
        delete mState;
        mState = nullptr;
    });
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mQuit = true;
    }
    mWake.notify_all();
    mThread.join();
    mClaimed = false;
    gPluginTaken = false;
}

void VisualSession::call(const std::function<void()>& job) {
    std::unique_lock<std::mutex> lock(mMutex);
    mDone.wait(lock, [this] { return mJob == nullptr; });
    mJob = &job;
    mWake.notify_all();
    mDone.wait(lock, [this, &job] { return mJob != &job; });
}

void VisualSession::loop() {
    std::unique_lock<std::mutex> lock(mMutex);
    for (;;) {
        mWake.wait(lock, [this] { return mQuit || mJob != nullptr; });
        if (mJob) {
            const std::function<void()>* job = mJob;
            lock.unlock();
            (*job)();
            lock.lock();
            mJob = nullptr;
            mDone.notify_all();
            continue;
        }
        if (mQuit) return;
    }
}

void VisualSession::setTrack(const TrackTags& tags) {
    call([&] {
        if (!mState) return;
        mState->track = tags;
        mState->trackPending = true;
    });
}

void VisualSession::setSettings(const SceneSettings& settings) {
    call([&] {
        if (!mState || mState->settings == settings) return;
        mState->settings = settings;
        mState->settingsPending = true;
    });
}

void VisualSession::rebaseClock() {
    call([&] {
        if (mState) mState->rebase = true;
    });
}

std::string VisualSession::driver() {
    std::string name;
    call([&] {
        if (mState) name = mState->port.renderer;
    });
    return name;
}

bool VisualSession::draw(int width, int height, long long sceneMicros, const float* window, unsigned trackMs,
                         unsigned char* rgba, std::string& error) {
    bool drawn = false;
    call([&] {
        if (!mState) {
            error = "the visualizer is not started";
            return;
        }
        State& s = *mState;
        if ((!s.plugin.shown() || s.port.width != width || s.port.height != height) && !s.show(width, height, error))
            return;
        if (s.trackPending) s.sendTrack();
        if (s.settingsPending) s.applySettings();
        if (s.rebase) {
            s.base = s.clock.micros - sceneMicros;
            s.rebase = false;
        }
        s.clock.micros = std::max(s.clock.micros, s.base + sceneMicros);
        s.analyzer.compute(window, s.data.spectrumData, s.data.waveformData);
        const unsigned long before = s.port.frameCount;
        // The swap reads the frame back into the caller's pixels.
        s.port.pixels = rgba;
        s.plugin.render(s.data, trackMs);
        s.port.pixels = s.pixels.data();
        if (s.port.frameCount == before) {
            error = "the visualizer drew no frame: its GL context is gone (see the messages above)";
            return;
        }
        drawn = true;
    });
    return drawn;
}

// Opens the picture at this size: the renderer, the track that plays as it
// opens (as when a visualizer is switched on during a song), the show, and
// the check that GL is there.
bool VisualSession::State::show(int width, int height, std::string& error) {
    if (plugin.shown()) plugin.hide();
    applyRenderer();
    port = LVPort{};
    port.kind = LV_PORT_OFFSCREEN;
    port.width = width;
    port.height = height;
    pixels.assign(size_t(width) * size_t(height) * 4, 0);
    port.pixels = pixels.data();
    if (trackPending && !played) sendTrack();
    const OSStatus shown = plugin.show(&port, width, height);
    base = clock.micros;   // the show's start-up pause is behind us
    if (shown != noErr || port.renderer[0] == 0) {
        plugin.hide();
        error = "no OpenGL for the visualizer: install Mesa's EGL and GL drivers (Debian: libegl-mesa0 libgl1-mesa-dri) "
                "or a GPU's driver";
        return false;
    }
    return true;
}

void VisualSession::State::sendTrack() {
    lv::TrackMeta meta;
    meta.title = track.title;
    meta.artist = track.artist;
    meta.album = track.album;
    meta.durationMs = track.durationMs;
    plugin.mCoverArt = track.cover;
    const lv::ImageFormat format = lv::sniffImageFormat(plugin.mCoverArt.data(), plugin.mCoverArt.size());
    plugin.mCoverArtFormat = format == lv::ImageFormat::Png ? kCoverArtPNG : kCoverArtJPEG;
    if (format == lv::ImageFormat::NoImage) plugin.mCoverArt.clear();
    ITTrackInfo record;
    makeTrackRecord(meta, record);
    if (played) plugin.changeTrack(record);
    else plugin.play(record);
    played = true;
    trackPending = false;
}

// "auto" is the plug-in's own choice: batched, and the light layer where GL
// rasterises on the CPU, as in the player.
void VisualSession::State::applyRenderer() {
    const std::string wanted = settings.renderer == "auto" ? "batched" : settings.renderer;
    if (wanted == renderer) return;
    if (plugin.setRenderer(wanted)) renderer = wanted;
}

void VisualSession::State::applySettings() {
    settingsPending = false;
    applyRenderer();
    const SceneSettings& w = settings;
    auto changed = [&](auto SceneSettings::*field) { return !appliedAny || w.*field != applied.*field; };
    // The mode first: a mode change also picks the next palette.
    if (changed(&SceneSettings::mode) || changed(&SceneSettings::palette)) {
        for (int i = 0; i < gMode.modeCount() && gMode.currentMode() != w.mode; ++i) key('m');
        for (int i = 0; i < 4 && colors.index != w.palette; ++i) key('h');
    }
    if (changed(&SceneSettings::particles)) {
        while (particleControl.total + kParticleStep / 2 <= w.particles) key('a');
        while (particleControl.total - kParticleStep / 2 > w.particles && particleControl.total > kParticleStep)
            key('s');
    }
    if (changed(&SceneSettings::gain)) {
        const int steps = int(std::lround(std::log(w.gain / double(sounds.multi)) / std::log(kGainStep)));
        for (int i = 0; i < steps; ++i) key('+');
        for (int i = 0; i < -steps; ++i) key('-');
    }
    if (changed(&SceneSettings::noiseFlow) && gMode.perlinFlow() != w.noiseFlow) key('p');
    if (changed(&SceneSettings::cycleModes) && gMode.cycleModeOnTrackChange() != w.cycleModes) key('c');
    applied = w;
    appliedAny = true;
}

int sceneModeCount() { return gMode.modeCount(); }

}  // namespace lvgst
