// Stepping against drawing, through the real plug-in: what a part of a long
// render (--segment K/N) pays a frame to reach its first one. The plug-in
// (build/bin/Lumenvortex.so, beside this program) draws on an offscreen
// 1280x720 port on a virtual clock and hears the built-in demo song, as
// `lumenvortex --render` does; stepped frames are render messages after
// LumenvortexSetDrawing(0).
//
//   fps = frames a second; one benchmark iteration is one frame; CPU is the
//   whole process's, the driver's threads included
//
// The particle count is reached with the `a` key (100 more a press, one
// particle a frame), stepped.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "demo_song.h"
#include "fft_spectrum_analyzer.h"
#include "plugin_module.h"

namespace {

constexpr int WIDTH = 1280, HEIGHT = 720, FPS = 60;

struct Clock {
    long long micros = 0;
    static long long now(void* user) { return static_cast<Clock*>(user)->micros; }
    static void sleep(void* user, long long us) {
        if (us > 0) static_cast<Clock*>(user)->micros += us;
    }
};

std::string pluginPath() {
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, size_t(n)) : std::string();
    return dir.substr(0, dir.rfind('/') + 1) + "Lumenvortex.so";
}

// The plug-in loaded once (its globals live as long as the process), shown
// on one port; the scene grows as the benchmarks ask.
struct Player {
    PluginModule host;
    Clock clock;
    LVPort port{};
    DemoSong song = makeDemoSong();
    SpectrumAnalyzer analyzer;
    RenderVisualData data{};
    float window[WINDOW_FRAMES * 2];
    long long frame = 0;
    int particles = 525;
    std::string error;
    bool ready = false;

    Player() {
        if (!host.loadFrom(pluginPath(), error) || !host.setClock(&Clock::now, &Clock::sleep, &clock) ||
            !host.start(error))
            return;
        port.kind = LV_PORT_OFFSCREEN;
        port.width = WIDTH;
        port.height = HEIGHT;
        host.show(&port, WIDTH, HEIGHT);
        data.numWaveformChannels = data.numSpectrumChannels = 2;
        ready = host.mSetDrawing != nullptr;
        if (!ready) error = "the plug-in has no LumenvortexSetDrawing";
    }

    void next() {
        const long long songFrames = (long long)song.samples.size() / 2;
        const long long end = (frame * SAMPLE_RATE / FPS) % songFrames;
        for (int i = 0; i < WINDOW_FRAMES; ++i) {
            const long long p = end - WINDOW_FRAMES + i;
            window[2 * i] = p < 0 ? 0.0f : song.samples[size_t(p) * 2];
            window[2 * i + 1] = p < 0 ? 0.0f : song.samples[size_t(p) * 2 + 1];
        }
        analyzer.compute(window, data.spectrumData, data.waveformData);
        clock.micros = frame * 1000000 / FPS;
        host.render(data, UInt32(frame * 1000 / FPS));
        ++frame;
    }

    // `count` particles, grown through stepped frames.
    void grow(int count) {
        host.setDrawing(false);
        for (; particles < count; particles += 100) {
            host.event(keyDown, 'a');
            for (int i = 0; i < 100; ++i) next();
        }
    }
};

Player& player() {
    static Player p;
    return p;
}

void BM_Frame(benchmark::State& state) {
    Player& p = player();
    if (!p.ready) {
        state.SkipWithError(p.error.c_str());
        return;
    }
    p.grow(int(state.range(0)));
    const bool drawn = state.range(1) != 0;
    p.host.setDrawing(drawn);
    for (auto _ : state) p.next();
    p.host.setDrawing(true);
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(drawn ? "drawn" : "stepped");
}

// In order of particles: the scene only grows.
BENCHMARK(BM_Frame)
    ->ArgNames({"particles", "drawn"})
    ->Args({525, 0})
    ->Args({525, 1})
    ->Args({5000, 0})
    ->Args({5000, 1})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
