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
// there), then run for a while on a scripted spectrum with beats so that
// wells, palette and camera move as in a song before the clock starts.
#include <benchmark/benchmark.h>

#include <GL/gl.h>

#include <cmath>
#include <cstring>
#include <string>

#include "lumenvortexApplet.h"
#include "lv/gl_context.h"

namespace {

constexpr int WIDTH = 1280;
constexpr int HEIGHT = 720;
constexpr int WARM_UP_FRAMES = 120;
constexpr long long FRAME_MICROS = 1000000 / 60;

// Bass heavier than treble, each band breathing at its own rate, and a burst
// every 66 frames (more than the beat gap) so that the sections beat.
void scriptedSpectrum(long frame, unsigned char out[2][512]) {
    std::memset(out, 0, 2 * 512);
    const bool burst = frame % 66 < 3;
    for (int bin = 0; bin < 255; bin++) {
        double v = (70.0 * std::exp(-bin / 90.0) + 12.0) * (0.6 + 0.4 * (1 + std::sin(frame * 0.05 + bin * 0.31)));
        if (burst) v += bin >= 124 ? 60.0 : 35.0;
        out[0][bin] = (unsigned char)std::min(255.0, v);
        out[1][bin] = (unsigned char)(out[0][bin] * 9 / 10);
    }
}

// A host that takes the read-back frames and gives them straight back.
void dropFrame(void*, const unsigned char*, int, int, long, unsigned long) {}

// One scene on one context, as the plug-in sets them up after "show".
struct Scene {
    LVPort port{};
    lvgl::Context* context = nullptr;
    VirtualClock clock;
    SoundsSourceiTunes source;
    LumenvortexApplet applet;
    long frame = 0;
    std::string error;

    bool finish = true;

    Scene(int particles, bool readBack, bool finishFrames) : finish(finishFrames) {
        resetScene();
        clock.install();
        port.kind = LV_PORT_OFFSCREEN;
        port.width = WIDTH;
        port.height = HEIGHT;
        if (readBack) port.frameReady = dropFrame;
        lvgl::PixelFormat* format = lvgl::choosePixelFormat(&port, false, error);
        context = format ? lvgl::createContext(format, error) : nullptr;
        lvgl::destroyPixelFormat(format);
        if (!context || !lvgl::setDrawable(context, &port, error) || !lvgl::makeCurrent(context, error) ||
            !lvgl::updateContext(context, error))
            return;
        glViewport(0, 0, WIDTH, HEIGHT);
        gApplet = &applet;
        applet.mWidth = WIDTH;
        applet.mHeight = HEIGHT;
        applet.setSoundsSource(&source);
        applet.setup();
        applet.setupPostGL(false);
        particleControl.total = particles;
        while (particleControl.count < particles) particleControl.adjustAmount();
        for (int i = 0; i < WARM_UP_FRAMES; i++) drawFrame();
    }
    ~Scene() {
        lvgl::destroyContext(context);
        gApplet = nullptr;
        setClockSource(nullptr);
    }

    // What the plug-in does for one render message.
    bool drawFrame() {
        unsigned char spectrum[2][512];
        scriptedSpectrum(frame++, spectrum);
        source.updateSpectrumData(spectrum);
        clock.advanceMicros(FRAME_MICROS);
        applet.draw();
        if (finish) glFinish();
        return lvgl::swapBuffers(context, error);
    }
};

void BM_Draw(benchmark::State& state) {
    Scene scene(int(state.range(0)), state.range(1) != 0, state.range(2) != 0);
    if (!scene.context) {
        state.SkipWithError(("no GL context: " + scene.error).c_str());
        return;
    }
    for (auto _ : state)
        if (!scene.drawFrame()) state.SkipWithError(scene.error.c_str());
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["particles"] = particleControl.count;
    state.SetLabel(std::string(state.range(1) ? "pipelined read-back" : "no read-back") +
                   (state.range(2) ? "" : ", no glFinish"));
}

BENCHMARK(BM_Draw)
    ->ArgNames({"particles", "readback", "finish"})
    ->Args({525, 0, 1})
    ->Args({5000, 0, 1})
    ->Args({525, 1, 1})
    ->Args({5000, 1, 1})
    ->Args({525, 1, 0})
    ->Args({5000, 1, 0})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()   // the driver's threads draw too
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
