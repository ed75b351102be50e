// The field's frame step without drawing: the wells' step, then the
// particles' (colour, level, the wells' pull or the noise drift, the pair
// repulsion, integration, trail). One benchmark iteration is one frame.
//
//   time per frame (default), pairs/s = n(n-1)/2 per frame, items/s = particles
//
// No GL context: mode 0 draws no proximity lines, so the simulation makes no
// GL calls. The scene is the real global one, put back to its load state and
// grown to the size asked for, then run for a while so that the particles
// have spread out and the wells have levels before the clock starts.
#include <benchmark/benchmark.h>

#include <cmath>

#include "lumenvortexApplet.h"

namespace {

const int WELLS = 4;
const int WARM_UP_FRAMES = 60;

// A steady, moderately loud spectrum: levels around 5 to 25 in the bands the
// wells and particles listen to.
void steadySound() {
    for (int band = 0; band < Sounds::numBands; band++) {
        float level = 25.0f * std::exp(-band / 80.0f) + 5.0f + 3.0f * std::sin(band * 0.7f);
        sounds.levels[band] = level / sounds.multi;
    }
}

void simulateFrame() {
    gravityControl.baseSize = 50;
    for (Gravity& g : gravityControl.myList) g.step();
    particleControl.simulate();
}

void setUpScene(int particles, bool flow) {
    resetScene();
    gMode.setPerlinFlow(flow);
    steadySound();
    gravityControl.total = WELLS;
    while (gravityControl.count < WELLS) gravityControl.adjustAmount();
    gravityControl.repositionAll();
    particleControl.total = particles;
    while (particleControl.count < particles) particleControl.adjustAmount();
    for (int i = 0; i < WARM_UP_FRAMES; i++) simulateFrame();
}

void BM_FieldFrame(benchmark::State& state) {
    const int n = (int)state.range(0);
    const bool flow = state.range(1) != 0;
    setUpScene(n, flow);
    gFrameStartTime = 1.0f;
    for (auto _ : state) {
        simulateFrame();
        gFrameStartTime += 1.0f / 60;   // the noise flow moves on with time
        benchmark::ClobberMemory();
    }
    const double pairs = (double)n * (n - 1) / 2;
    state.counters["pairs"] = benchmark::Counter(pairs * (double)state.iterations(), benchmark::Counter::kIsRate);
    state.SetItemsProcessed((int64_t)state.iterations() * n);
    state.SetLabel(flow ? "noise flow on" : "noise flow off");
}

BENCHMARK(BM_FieldFrame)
    ->ArgNames({"particles", "flow"})
    ->ArgsProduct({{525, 2000, 5000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
