// Drawing alone, immediate against batched: one frame of the field's drawing
// (background, camera, wells, proximity lines, sprites, ribbons) at
// 1280 x 720 on a real Mesa llvmpipe offscreen context, without the
// simulation. One benchmark iteration is one frame.
//
//   Draw/mode:M/particles:N/immediate   the reference: immediate-mode calls
//   Draw/mode:M/particles:N/batched     vertex arrays, one call per pass
//
// The scene is the shared scenario's field (scenarios/field_scenario.h): four
// wells, a steady spectrum, N particles, 30 simulated frames in mode M so the
// ribbons have their trails. Every iteration draws the same state again and
// ends with glFinish, here only, so that the time is the GL's real work and
// not just the queueing of it. Time is wall clock ("fps" is frames per
// second of it); the CPU column is the whole process's, llvmpipe's
// rasteriser threads included, the better measure on a busy machine.
//
// The canvas is single-sampled, as the plug-in draws by default.
#include <benchmark/benchmark.h>

#include <GL/gl.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "median_reporter.h"
#include "field_scenario.h"
#include "offscreen_canvas.h"

namespace {

const int WIDTH = 1280;
const int HEIGHT = 720;
const int WELLS = 4;
const int WARM_UP_FRAMES = 30;
const int MODES = 7;
const int SIZES[] = {525, 5000};

// The offscreen canvas and an applet whose textures and shape lists live in
// its context, for the whole run.
struct Offscreen {
    lvscenario::OffscreenCanvas canvas;
    LumenvortexApplet applet;

    bool open(std::string& error) {
        if (!canvas.open(WIDTH, HEIGHT, false, error)) return false;
        applet.mWidth = WIDTH;
        applet.mHeight = HEIGHT;
        gApplet = &applet;
        applet.setupPostGL(false);   // textures and shape lists in this context
        return true;
    }
    ~Offscreen() { gApplet = nullptr; }
};

// The field grown in `mode`, its lines (lines mode) kept so that every
// frame draws them again.
void prepare(int mode, int n) {
    lvscenario::growField(n, WELLS, false, true, 0);
    while (gMode.currentMode() != mode) gMode.nextMode();
    gMode.setPerlinFlow(false);
    gMode.setupGL();
    for (int i = 0; i < WARM_UP_FRAMES; i++) lvscenario::simulateFrame();
}

void drawFrame(const std::vector<FieldStep::LineVertex>& lines) {
    FieldStep& step = particleControl.mFieldStep;
    step.lines[0] = lines;
    step.linesPending = !lines.empty();
    lvscenario::drawField();
}

void frameLoop(benchmark::State& state, int mode, int n, bool batched) {
    prepare(mode, n);
    particleControl.mBatchedDraw = batched;
    gravityControl.mBatchedDraw = batched;
    std::vector<FieldStep::LineVertex> lines = particleControl.mFieldStep.lines[0];
    drawFrame(lines);   // the first frame's set-up is not timed
    glFinish();
    for (auto _ : state) {
        drawFrame(lines);
        glFinish();
    }
    state.counters["fps"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
}

std::string name(int mode, int n, bool batched) {
    return "Draw/mode:" + std::to_string(mode) + "/particles:" + std::to_string(n) + (batched ? "/batched" : "/immediate");
}

void registerAll() {
    for (int n : SIZES) {
        for (int mode = 0; mode < MODES; mode++) {
            for (bool batched : {false, true}) {
                benchmark::RegisterBenchmark(name(mode, n, batched).c_str(),
                                             [=](benchmark::State& s) { frameLoop(s, mode, n, batched); })
                    ->Unit(benchmark::kMillisecond)
                    ->MeasureProcessCPUTime()
                    ->UseRealTime();
            }
        }
    }
}

// The console report, then frames per second side by side (medians when
// repeated).
class SideBySide : public lvbench::MedianReporter {
public:
    void table() const {
        std::printf("\n%9s %4s %22s %22s %8s\n", "particles", "mode", "immediate fps (cpu ms)", "batched fps (cpu ms)",
                    "speed-up");
        for (int n : SIZES) {
            for (int mode = 0; mode < MODES; mode++) {
                std::string a = name(mode, n, false), b = name(mode, n, true);
                if (!ms.count(a) || !ms.count(b)) continue;
                double fa = 1000 / ms.at(a), fb = 1000 / ms.at(b);
                std::printf("%9d %4d %12.1f (%7.2f) %12.1f (%7.2f) %7.1fx\n", n, mode, fa, cpuMs.at(a), fb, cpuMs.at(b),
                            fb / fa);
            }
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    Offscreen screen;
    std::string error;
    if (!screen.open(error)) {
        std::fprintf(stderr, "draw_draw_bench: no headless GL (%s): install libegl-mesa0 and libgl1-mesa-dri\n",
                     error.c_str());
        return 1;
    }
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SideBySide reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.table();
    benchmark::Shutdown();
    return 0;
}
