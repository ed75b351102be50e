#include "visualizer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "LumenvortexHost.h"
#include "MacMemory.h"
#include "fft_spectrum_analyzer.h"
#include "lumenvortexApplet.h"
#include "plugin_module.h"
#include "track_record.h"

extern "C" OSStatus iTunesPluginMainMachO(OSType message, PluginMessageInfo* messageInfo, void* refCon);

namespace lvkodi {

namespace {

// Kodi paces the frames: the plug-in's frame floor never sleeps.
long long steadyMicros(void*) {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}
void noSleep(void*, long long) {}

// GL answers nothing without a current context (GLVND's entry points are
// then no-ops), and the plug-in's work then has nowhere to go.
bool contextIsCurrent() { return glGetString(GL_VERSION) != nullptr; }

constexpr float kDefaultGain = 0.5f, kGainStep = 1.25f;

int gainSteps(float multi) { return int(std::lround(std::log(multi / kDefaultGain) / std::log(kGainStep))); }

}  // namespace

struct Visualizer::Plugin {
    PluginModule module;
    SpectrumAnalyzer analyzer;
    RenderVisualData data{};
    long long (*clock)(void*) = steadyMicros;
    void* clockUser = nullptr;
    long long startMicros = 0;
    long long now() const { return clock(clockUser); }
};

Visualizer::Visualizer() : mPlugin(new Plugin), mRandom(std::random_device{}()) {
    mPort.kind = LV_PORT_CURRENT_CONTEXT;
    mHistory.assign(size_t(WINDOW_FRAMES) * 2, 0.0f);
    PluginModule& m = mPlugin->module;
    m.useLinked(iTunesPluginMainMachO, LumenvortexSetClock, LumenvortexAttachCorvane, LumenvortexSetRenderer,
                "Lumenvortex (Kodi)");
    // Kodi's contexts are desktop GL 3.2+ or OpenGL ES 3: the shader renderer draws in both.
    mReady = m.setClock(steadyMicros, noSleep, nullptr) && m.start(mError) && m.setRenderer("gles");
    if (!mReady && mError.empty()) mError = "the linked plug-in lacks the gles renderer: rebuild the add-on";
    mPlugin->data.numWaveformChannels = 2;
    mPlugin->data.numSpectrumChannels = 2;
    mPlugin->startMicros = steadyMicros(nullptr);
}

Visualizer::~Visualizer() {
    stop();
    delete mPlugin;
}

// Everything that reaches the plug-in while a context is current runs with
// the plug-in's GL state in place and the host's put back after.
template <class F>
void Visualizer::withPluginState(F&& f) {
    if (!contextIsCurrent()) {
        f();
        return;
    }
    PluginStateScope scope(mMine);
    f();
}

void Visualizer::start(int channels) {
    mChannels = channels > 0 ? channels : 2;
    std::lock_guard<std::mutex> lock(mHistoryLock);
    std::fill(mHistory.begin(), mHistory.end(), 0.0f);
}

void Visualizer::stop() {
    if (!mShown) return;
    withPluginState([&] { mPlugin->module.hide(); });
    mShown = false;
}

void Visualizer::audioData(const float* samples, size_t count) {
    if (!samples || count == 0) return;
    const size_t channels = size_t(mChannels);
    size_t frames = count / channels;
    const size_t keep = size_t(WINDOW_FRAMES);
    if (frames > keep) {   // only the newest window is heard
        samples += (frames - keep) * channels;
        frames = keep;
    }
    auto clean = [](float s) { return std::isfinite(s) ? s : 0.0f; };
    std::lock_guard<std::mutex> lock(mHistoryLock);
    std::copy(mHistory.begin() + long(frames * 2), mHistory.end(), mHistory.begin());
    float* out = mHistory.data() + (keep - frames) * 2;
    for (size_t f = 0; f < frames; f++) {
        const float* in = samples + f * channels;
        out[2 * f] = clean(in[0]);
        out[2 * f + 1] = clean(channels > 1 ? in[1] : in[0]);
    }
}

bool Visualizer::render() {
    {
        std::lock_guard<std::mutex> lock(mHistoryLock);
        mPlugin->analyzer.compute(mHistory.data(), mPlugin->data.spectrumData, mPlugin->data.waveformData);
    }
    return draw();
}

bool Visualizer::render(const uint8_t spectrum[2][512]) {
    std::memcpy(mPlugin->data.spectrumData, spectrum, sizeof mPlugin->data.spectrumData);
    return draw();
}

bool Visualizer::draw() {
    if (!mReady) return false;
    if (!contextIsCurrent()) {
        mError = "no GL context is current: Kodi renders visualisations in its own";
        return false;
    }
    const unsigned long before = mPort.frameCount;
    {
        PluginStateScope scope(mMine);
        const int* vp = scope.host().viewport;
        if (vp[2] <= 0 || vp[3] <= 0) {
            mError = "the host's viewport is empty: there is nowhere to draw";
            return false;
        }
        // The port is the framebuffer as far up as the viewport reaches, so
        // that the canvas, counted from the top as hosts count, lands on the
        // viewport.
        const Rect canvas = {0, SInt16(vp[0]), SInt16(vp[3]), SInt16(vp[0] + vp[2])};
        const bool moved = mPort.width != vp[0] + vp[2] || mPort.height != vp[1] + vp[3] ||
                           std::memcmp(&canvas, &mCanvas, sizeof canvas) != 0;
        mPort.width = vp[0] + vp[2];
        mPort.height = vp[1] + vp[3];
        mCanvas = canvas;
        PluginModule& m = mPlugin->module;
        if (!mShown) m.show(&mPort, canvas);
        else if (moved) m.setWindow(&mPort, canvas);
        mShown = true;
        const long long ms = (mPlugin->now() - mPlugin->startMicros) / 1000;
        m.render(mPlugin->data, UInt32(ms));
    }
    if (mPort.frameCount == before) {
        mError = "the plug-in drew no frame: see its message on standard error";
        return false;
    }
    return true;
}

void Visualizer::updateAlbumart(const std::string& path) {
    // A cover that cannot be read is no cover; Kodi shows the track all the same.
    std::string ignored;
    lv::CoverImage cover = path.empty() ? lv::CoverImage() : lv::readCoverFile(path, ignored);
    mCover = std::move(cover.bytes);
    mCoverFormat = cover.format;
    if (cover.format == lv::ImageFormat::NoImage) mCover.clear();
}

void Visualizer::updateTrack(const lv::TrackMeta& meta) {
    PluginModule& m = mPlugin->module;
    m.mCoverArt = mCover;
    m.mCoverArtFormat = mCoverFormat == lv::ImageFormat::Png ? kCoverArtPNG : kCoverArtJPEG;
    ITTrackInfo record;
    makeTrackRecord(meta, record);
    withPluginState([&] {
        if (mPlayed) m.changeTrack(record);
        else m.play(record);
    });
    mPlayed = true;
}

const std::vector<std::string>& Visualizer::presetNames() {
    // The seven modes, in the plug-in's order.
    static const std::vector<std::string> names = {
        "Glowing ribbons",        "Glowing particles", "White ribbons on black", "Flat ribbons",
        "Constellation",          "Shades of one hue", "Stroked ribbons"};
    return names;
}

int Visualizer::activePreset() const { return gMode.currentMode(); }

void Visualizer::keys(const std::string& presses) {
    if (presses.empty()) return;
    withPluginState([&] {
        for (char c : presses) mPlugin->module.event(keyDown, UInt32((unsigned char)c));
    });
}

bool Visualizer::loadPreset(int index) {
    const int count = int(presetNames().size());
    if (!mReady || index < 0 || index >= count) return false;
    keys(std::string(size_t((index - activePreset() + count) % count), 'm'));
    return activePreset() == index;
}

bool Visualizer::nextPreset() {
    const int count = int(presetNames().size());
    return loadPreset((activePreset() + 1) % count);
}

bool Visualizer::prevPreset() {
    const int count = int(presetNames().size());
    return loadPreset((activePreset() + count - 1) % count);
}

bool Visualizer::randomPreset() {
    const int count = int(presetNames().size());
    // Another mode than this one: a random "change" that changes nothing looks broken.
    std::uniform_int_distribution<int> step(1, count - 1);
    return loadPreset((activePreset() + step(mRandom)) % count);
}

bool Visualizer::lockPreset(bool lock) {
    if (!mReady) return false;
    if (locked() != lock) keys("c");
    return locked() == lock;
}

bool Visualizer::locked() const { return !gMode.cycleModeOnTrackChange(); }

Settings Visualizer::current() const {
    Settings s;
    s.particles = particleControl.total;
    s.gainSteps = gainSteps(sounds.multi);
    s.flow = gMode.perlinFlow();
    s.palette = colors.index;
    return s;
}

void Visualizer::apply(const Settings& wanted) {
    if (!mReady) return;
    const Settings now = current();
    std::string presses;
    // The particle target moves in whole steps from where it is.
    const int particles = std::clamp(wanted.particles, Settings::kMinParticles, Settings::kMaxParticles);
    const int particleSteps = (particles - now.particles) / Settings::kParticleStep;
    presses.append(size_t(std::abs(particleSteps)), particleSteps > 0 ? 'a' : 's');
    const int gain = std::clamp(wanted.gainSteps, Settings::kMinGainSteps, Settings::kMaxGainSteps);
    presses.append(size_t(std::abs(gain - now.gainSteps)), gain > now.gainSteps ? '+' : '-');
    if (wanted.flow != now.flow) presses += 'p';
    const int palette = std::clamp(wanted.palette, 0, Settings::kPalettes - 1);
    presses.append(size_t((palette - now.palette + Settings::kPalettes) % Settings::kPalettes), 'h');
    keys(presses);
}

void Visualizer::setClock(long long (*nowMicros)(void*), void (*sleepMicros)(void*, long long), void* user) {
    mPlugin->module.setClock(nowMicros ? nowMicros : steadyMicros, nowMicros ? sleepMicros : noSleep, user);
    mPlugin->clock = nowMicros ? nowMicros : steadyMicros;
    mPlugin->clockUser = user;
    mPlugin->startMicros = mPlugin->now();
}

}  // namespace lvkodi
