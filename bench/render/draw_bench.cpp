// Drawing alone, without the encoder: the visualizer's frames at 1280x720 on
// an offscreen port, as an offline render draws them (a virtual clock, so the
// pacing never sleeps), with and without the pipelined read-back, and with
// and without the glFinish the plug-in does before every swap (without it
// the driver rasterises one frame while the next is built).
//
//   fps = frames per second of drawing; one benchmark iteration is one frame;
//   CPU is the whole process's, the driver's rasterising threads included
//
// The scene is the core's own global one, grown straight to the particle
// count asked for (the key `a` would take one frame per particle to get
// there), and hears the built-in demo song, as `lumenvortex --render` does,
// for a while before the clock starts.
//
// The glows and ribbons are drawn as the visualizer draws them here (on the
// light layer, lightLayer.h, where GL is llvmpipe) and, for comparison, by
// GL itself (layer:0).
//
// `render_draw_bench --frames=N [--particles=P] [--mode=M] [--without=glows|ribbons|light] [--light=gl|layer]
// [--layer-threads=1|2] [--size=WxH]`
// draws N frames after the warm-up instead and prints their CPU seconds. Run
// under `valgrind --tool=callgrind --instr-atstart=no`, it counts the
// instructions of those frames alone, in every thread: a measure that holds
// whatever else the machine runs.
#include <benchmark/benchmark.h>

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#define CALLGRIND_DUMP_STATS
#endif

#include "demo_song.h"
#include "lumenvortexApplet.h"
#include "offscreen_canvas.h"
#include "fft_spectrum_analyzer.h"

namespace {

constexpr int WIDTH = 1280;
constexpr int HEIGHT = 720;
constexpr int WARM_UP_FRAMES = 30;
constexpr long long FRAME_MICROS = 1000000 / 60;

// The built-in demo song's spectrum at video frame n, as an offline render
// computes it: the 1024 frames heard before n / 60 s, round the song again
// and again.
struct DemoSpectrum {
    DemoSong song = makeDemoSong();
    SpectrumAnalyzer analyzer;
    uint8_t spectrum[2][SPECTRUM_BINS];
    uint8_t waveform[2][WAVEFORM_SAMPLES];
    float window[WINDOW_FRAMES * 2];

    void at(long frame) {
        const long long songFrames = (long long)song.samples.size() / 2;
        const long long end = (frame * SAMPLE_RATE / 60) % songFrames;
        for (int i = 0; i < WINDOW_FRAMES; ++i) {
            const long long p = end - WINDOW_FRAMES + i;
            window[2 * i] = p < 0 ? 0.0f : song.samples[size_t(p) * 2];
            window[2 * i + 1] = p < 0 ? 0.0f : song.samples[size_t(p) * 2 + 1];
        }
        analyzer.compute(window, spectrum, waveform);
    }
};

// A host that takes the read-back frames and gives them straight back.
void dropFrame(void*, const unsigned char*, int, int, long, unsigned long) {}

// One scene on one context, as the plug-in sets them up after "show".
struct Scene {
    lvscenario::OffscreenCanvas canvas;
    bool ready = false;
    VirtualClock clock;
    SoundsSourceiTunes source;
    DemoSpectrum music;
    LumenvortexApplet applet;
    long frame = 0;
    std::string error;

    bool finish = true;

    // `layer`: 1 or 0 puts the glows and ribbons on the light layer or not,
    // -1 leaves the visualizer's own choice.
    Scene(int particles, bool readBack, bool finishFrames, int mode = -1, int layer = -1, int width = WIDTH,
          int height = HEIGHT)
        : finish(finishFrames) {
        resetScene();
        clock.install();
        if (readBack) canvas.port.frameReady = dropFrame;
        if (!(ready = canvas.open(width, height, false, error))) return;
        gApplet = &applet;
        applet.mWidth = width;
        applet.mHeight = height;
        applet.setSoundsSource(&source);
        applet.setup();
        applet.setupPostGL(false);
        if (layer >= 0) lightLayer.enabled = layer != 0;
        if (mode >= 0)
            while (gMode.currentMode() != mode) gMode.nextMode();
        particleControl.total = particles;
        while (particleControl.count < particles) particleControl.adjustAmount();
        for (int i = 0; i < WARM_UP_FRAMES; i++) drawFrame();
    }
    ~Scene() {
        gApplet = nullptr;
        setClockSource(nullptr);
    }

    // What the plug-in does for one render message.
    bool drawFrame() {
        music.at(frame++);
        source.updateSpectrumData(music.spectrum);
        clock.advanceMicros(FRAME_MICROS);
        applet.draw();
        if (finish) glFinish();
        return canvas.present(error);
    }
};

void BM_Draw(benchmark::State& state) {
    Scene scene(int(state.range(0)), state.range(1) != 0, state.range(2) != 0, -1, int(state.range(3)));
    if (!scene.ready) {
        state.SkipWithError(("no GL context: " + scene.error).c_str());
        return;
    }
    for (auto _ : state)
        if (!scene.drawFrame()) state.SkipWithError(scene.error.c_str());
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["particles"] = particleControl.count;
    state.SetLabel(std::string(state.range(1) ? "pipelined read-back" : "no read-back") +
                   (state.range(2) ? "" : ", no glFinish") + (state.range(3) ? "" : ", light drawn by GL"));
}

BENCHMARK(BM_Draw)
    ->ArgNames({"particles", "readback", "finish", "layer"})
    ->Args({525, 0, 1, 1})
    ->Args({5000, 0, 1, 1})
    ->Args({525, 0, 1, 0})
    ->Args({5000, 0, 1, 0})
    ->Args({525, 1, 1, 1})
    ->Args({5000, 1, 1, 1})
    ->Args({525, 1, 0, 1})
    ->Args({5000, 1, 0, 1})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()   // the driver's threads draw too
    ->UseRealTime();

double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The fixed run: --frames=N and its options; returns the exit status.
int drawFrames(int argc, char** argv) {
    int frames = 0, particles = 525, mode = -1, layer = -1, layerThreads = 0, width = WIDTH, height = HEIGHT;
    const char* without = "";
    for (int i = 1; i < argc; i++) {
        if (std::strncmp(argv[i], "--frames=", 9) == 0) frames = std::atoi(argv[i] + 9);
        else if (std::strncmp(argv[i], "--particles=", 12) == 0) particles = std::atoi(argv[i] + 12);
        else if (std::strncmp(argv[i], "--mode=", 7) == 0) mode = std::atoi(argv[i] + 7);
        else if (std::strncmp(argv[i], "--without=", 10) == 0) without = argv[i] + 10;
        else if (std::strcmp(argv[i], "--light=gl") == 0) layer = 0;
        else if (std::strcmp(argv[i], "--light=layer") == 0) layer = 1;
        else if (std::sscanf(argv[i], "--size=%dx%d", &width, &height) == 2) continue;
        else if (std::strcmp(argv[i], "--layer-threads=1") == 0) layerThreads = 1;
        else if (std::strcmp(argv[i], "--layer-threads=2") == 0) layerThreads = 2;
        else {
            std::fprintf(stderr, "%s: with --frames the options are --particles, --mode, --without, --light (gl or layer), "
                                 "--layer-threads (1 or 2) and --size (WxH)\n", argv[i]);
            return 2;
        }
    }
    bool passKnown = !*without || std::strcmp(without, "glows") == 0 || std::strcmp(without, "ribbons") == 0 ||
                     std::strcmp(without, "light") == 0;
    if (frames <= 0 || particles < 0 || particles > 5000 || mode > 6 || !passKnown || width < 16 || height < 16 ||
        width > 7680 || height > 4320) {
        std::fprintf(stderr, "--frames needs a count above 0, --particles 0 to 5000, --mode 0 to 6, "
                             "--without glows, ribbons or light (both), --size 16x16 to 7680x4320\n");
        return 2;
    }
    Scene scene(particles, false, true, mode, layer, width, height);
    if (!scene.ready) {
        std::fprintf(stderr, "no GL context: %s\n", scene.error.c_str());
        return 1;
    }
    if (layerThreads) lightLayer.threads = layerThreads;
    particleControl.showOrb = std::strcmp(without, "glows") != 0 && std::strcmp(without, "light") != 0;
    particleControl.showRibbon = std::strcmp(without, "ribbons") != 0 && std::strcmp(without, "light") != 0;
    double start = processSeconds();
    CALLGRIND_ZERO_STATS;
    CALLGRIND_START_INSTRUMENTATION;
    for (int i = 0; i < frames; i++)
        if (!scene.drawFrame()) {
            std::fprintf(stderr, "%s\n", scene.error.c_str());
            return 1;
        }
    CALLGRIND_STOP_INSTRUMENTATION;
    CALLGRIND_DUMP_STATS;
    double cpu = processSeconds() - start;
    std::printf("%d frames at %dx%d, %d particles, mode %d%s%s, light %s: %.1f ms CPU a frame; the last frame's ribbons: %zu "
                "triangles by GL and %d on the layer, of %d; %d sprites on the layer\n",
                frames, width, height, particleControl.count, gMode.currentMode(), *without ? ", without " : "", without,
                lightLayer.enabled ? "on the layer" : "by GL", cpu * 1000 / frames,
                particleControl.mRibbonBatch.indices.size() / 3, lightLayer.triangles,
                particleControl.count * 2 * (Particle::MAX_TAIL_LENGTH - 1), lightLayer.sprites);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; i++)
        if (std::strncmp(argv[i], "--frames=", 9) == 0) return drawFrames(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
