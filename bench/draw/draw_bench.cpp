// Drawing alone, immediate against batched against the ES renderer: one
// frame of the field's drawing (background, camera, wells, proximity lines,
// sprites, ribbons) at 1280 x 720 on a real Mesa llvmpipe offscreen context,
// without the simulation. One benchmark iteration is one frame.
//
//   Draw/mode:M/particles:N/immediate   the reference: immediate-mode calls
//   Draw/mode:M/particles:N/batched     vertex arrays, one call per pass
//   Draw/mode:M/particles:N/gles        the batches uploaded (one buffer
//                                       upload a pass) and drawn with
//                                       shaders, on an OpenGL ES 3 context
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
#include "renderer.h"

namespace {

const int WIDTH = 1280;
const int HEIGHT = 720;
const int WELLS = 4;
const int WARM_UP_FRAMES = 30;
const int MODES = 7;
const int SIZES[] = {525, 5000};

enum Path { IMMEDIATE, BATCHED, GLES };
const char* const PATH_NAMES[] = {"immediate", "batched", "gles"};

// The offscreen canvases (desktop GL, and ES 3 for the ES renderer) and an
// applet whose textures and shape lists live in the current one. The
// desktop paths are registered first, so the switch to ES happens once.
struct Offscreen {
    lvscenario::OffscreenCanvas desktop, es;
    bool esOpen = false, onEs = false;
    LumenvortexApplet applet;

    bool open(std::string& error) {
        if (!desktop.open(WIDTH, HEIGHT, false, error)) return false;
        std::string esError;
        esOpen = es.open(WIDTH, HEIGHT, false, esError, lvgl::Api::GLES3);
        if (!esOpen) std::fprintf(stderr, "draw_draw_bench: no OpenGL ES 3 (%s): the gles runs are left out\n", esError.c_str());
        if (!desktop.makeCurrent(error)) return false;
        applet.mWidth = WIDTH;
        applet.mHeight = HEIGHT;
        gApplet = &applet;
        applet.setupPostGL(false);   // textures and shape lists in this context
        return true;
    }
    // The ES context current with the ES renderer's objects in it.
    void switchToEs() {
        if (onEs) return;
        std::string error;
        if (!es.makeCurrent(error)) std::fprintf(stderr, "draw_draw_bench: %s\n", error.c_str());
        useRenderer(RENDERER_GLES);
        applet.setupPostGL(false);
        onEs = true;
    }
    ~Offscreen() { gApplet = nullptr; }
};

Offscreen* gScreen = nullptr;

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

void frameLoop(benchmark::State& state, int mode, int n, Path path) {
    if (path == GLES) gScreen->switchToEs();
    prepare(mode, n);
    const bool batched = path != IMMEDIATE;
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

std::string name(int mode, int n, Path path) {
    return "Draw/mode:" + std::to_string(mode) + "/particles:" + std::to_string(n) + "/" + PATH_NAMES[path];
}

void registerAll(bool withGles) {
    for (Path path : {IMMEDIATE, BATCHED, GLES}) {
        if (path == GLES && !withGles) continue;
        for (int n : SIZES) {
            for (int mode = 0; mode < MODES; mode++) {
                benchmark::RegisterBenchmark(name(mode, n, path).c_str(),
                                             [=](benchmark::State& s) { frameLoop(s, mode, n, path); })
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
    // Each path's fps (cpu ms), and the ES renderer's speed against the
    // batched path ("-" where a path did not run).
    void table() const {
        std::printf("\n%9s %4s %22s %22s %22s %9s\n", "particles", "mode", "immediate fps (cpu ms)",
                    "batched fps (cpu ms)", "gles fps (cpu ms)", "gles/bat.");
        for (int n : SIZES) {
            for (int mode = 0; mode < MODES; mode++) {
                std::printf("%9d %4d", n, mode);
                for (Path path : {IMMEDIATE, BATCHED, GLES}) {
                    std::string key = name(mode, n, path);
                    if (ms.count(key)) {
                        std::printf(" %12.1f (%7.2f)", 1000 / ms.at(key), cpuMs.at(key));
                    } else {
                        std::printf(" %22s", "-");
                    }
                }
                std::string b = name(mode, n, BATCHED), g = name(mode, n, GLES);
                if (ms.count(b) && ms.count(g)) {
                    std::printf(" %8.2fx\n", ms.at(b) / ms.at(g));
                } else {
                    std::printf(" %9s\n", "-");
                }
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
    gScreen = &screen;
    registerAll(screen.esOpen);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SideBySide reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.table();
    benchmark::Shutdown();
    return 0;
}
