// ?bench=field: the field's frame step without drawing, in the page, the
// scene and the step of the native field benchmark (bench/core): the field
// grown to the size asked and warmed up with the fast step, then one frame
// at a time, each timed here. The page (web/shell/app.js) takes the median.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <string>

#include "field_scenario.h"
#include "fieldStep.h"
#include "lumenvortexApplet.h"

namespace {

// As bench/core/field_bench.cpp: four wells, 60 frames before the clock.
constexpr int WELLS = 4;
constexpr int WARM_UP_FRAMES = 60;

std::string gTarget;

}  // namespace

extern "C" {

// The field grown to `particles`, noise flow on or off, warmed up.
EMSCRIPTEN_KEEPALIVE void lv_bench_field_start(int particles, int flow) {
    lvscenario::growField(particles, WELLS, flow != 0, true, WARM_UP_FRAMES);
    particleControl.mFastStep = true;
    gFrameStartTime = 1.0f;
}

// One frame of the field's step; its wall-clock time in milliseconds.
EMSCRIPTEN_KEEPALIVE double lv_bench_field_frame() {
    const double start = emscripten_get_now();
    lvscenario::simulateFrame();
    const double ms = emscripten_get_now() - start;
    gFrameStartTime += 1.0f / 60;   // the noise flow moves on with time
    return ms;
}

// The instruction set the fast step runs on ("WASM" with SIMD128, "EMU128"
// without) and how many threads it may use.
EMSCRIPTEN_KEEPALIVE const char* lv_field_target() {
    gTarget = fieldStepTarget();
    return gTarget.c_str();
}
EMSCRIPTEN_KEEPALIVE int lv_field_threads() { return particleControl.mFieldStep.mThreads; }

// The field's hash (16 hex digits) after the frames run: every build, on
// one thread or two, must reach the same one from the same start.
EMSCRIPTEN_KEEPALIVE const char* lv_bench_field_hash() {
    static char hash[24];
    std::snprintf(hash, sizeof hash, "%016llx", (unsigned long long)lvscenario::fieldHash());
    return hash;
}

}  // extern "C"
