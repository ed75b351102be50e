// The field's frame step without drawing, literal and fast side by side: the
// wells' step, then the particles' (colour, level, the wells' pull or the
// noise drift, the pair repulsion, integration, trail). One benchmark
// iteration is one frame.
//
//   Literal/particles:N/flow:F            the reference pass, one pair at a time
//   Fast/particles:N/flow:F/threads:T     packed arrays, vectorised pair pass
//
// Time is wall-clock per frame (real time: with two threads the calling
// thread's CPU time would flatter the fast step); the CPU column is the
// calling thread's, which on a busy machine is the better measure of the
// one-thread steps. pairs/s counts n(n-1)/2 pairs per frame. The field is the shared scenario's (scenarios/), grown to
// the size asked for and run for a while with the fast step before the clock
// starts, so both steps start from the same state. At the end a table puts
// the two steps side by side.
//
// JSON for comparing machines: scripts/bench-field writes
// bench/core/results-<host>.json beside RESULTS.md.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <tuple>

#include "median_reporter.h"
#include "field_scenario.h"

namespace {

const int WELLS = 4;
const int WARM_UP_FRAMES = 60;
const int SIZES[] = {525, 2000, 5000};

void frameLoop(benchmark::State& state, int n, bool flow, bool fast, int threads) {
    lvscenario::growField(n, WELLS, flow, true, WARM_UP_FRAMES);
    particleControl.mFastStep = fast;
    particleControl.mFieldStep.mThreads = threads;
    gFrameStartTime = 1.0f;
    for (auto _ : state) {
        lvscenario::simulateFrame();
        gFrameStartTime += 1.0f / 60;   // the noise flow moves on with time
        benchmark::ClobberMemory();
    }
    const double pairs = (double)n * (n - 1) / 2;
    state.counters["pairs"] = benchmark::Counter(pairs * (double)state.iterations(), benchmark::Counter::kIsRate);
    state.SetItemsProcessed((int64_t)state.iterations() * n);
    state.SetLabel(fast ? fieldStepTarget() : std::string("reference"));
}

// Interleaved, so each size and flow reads literal, fast on one thread, fast
// on two.
void registerAll() {
    for (int flow = 0; flow < 2; flow++) {
        for (int n : SIZES) {
            std::string tail = "/particles:" + std::to_string(n) + "/flow:" + (flow ? "on" : "off");
            benchmark::RegisterBenchmark(("Literal" + tail).c_str(),
                                         [=](benchmark::State& s) { frameLoop(s, n, flow, false, 1); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            for (int threads : {1, 2}) {
                benchmark::RegisterBenchmark(("Fast" + tail + "/threads:" + std::to_string(threads)).c_str(),
                                             [=](benchmark::State& s) { frameLoop(s, n, flow, true, threads); })
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
            }
        }
    }
}

// The console report, plus the times kept for the closing table (medians
// when repeated, else the single run).
class SideBySide : public lvbench::MedianReporter {
public:
    // Milliseconds per frame: wall clock (and CPU) for the literal step and
    // the fast one on one thread, wall clock for two threads; the gain is
    // literal over fast on one thread, in CPU time.
    void table() const {
        std::printf("\n%9s %4s %19s %19s %10s %6s\n", "particles", "flow", "literal wall (cpu)", "fast 1T wall (cpu)",
                    "fast 2T", "gain");
        auto get = [](const std::map<std::string, double>& m, const std::string& name) {
            auto it = m.find(name);
            return it == m.end() ? 0.0 : it->second;
        };
        for (int flow = 0; flow < 2; flow++) {
            for (int n : SIZES) {
                std::string tail = "/particles:" + std::to_string(n) + "/flow:" + (flow ? "on" : "off");
                std::string lit = "Literal" + tail, f1 = "Fast" + tail + "/threads:1", f2 = "Fast" + tail + "/threads:2";
                if (!ms.count(lit) && !ms.count(f1) && !ms.count(f2)) continue;
                double f1cpu = get(cpuMs, f1);
                std::printf("%9d %4s %9.3f (%7.3f) %9.3f (%7.3f) %10.3f %5.1fx\n", n, flow ? "on" : "off", get(ms, lit),
                            get(cpuMs, lit), get(ms, f1), f1cpu, get(ms, f2), f1cpu > 0 ? get(cpuMs, lit) / f1cpu : 0.0);
            }
        }
    }
};

}  // namespace

// --field_target=NAME runs the fast step on that instruction set (AVX3,
// AVX2, SSE4, SSSE3, SCALAR; see fieldStepTargets()) instead of the best.
int main(int argc, char** argv) {
    const std::string flag = "--field_target=";
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg.rfind(flag, 0) != 0) continue;
        if (!forceFieldStepTarget(arg.substr(flag.size()))) {
            std::fprintf(stderr, "core_field_bench: this CPU offers no %s; choose one of:", arg.c_str() + flag.size());
            for (const std::string& t : fieldStepTargets()) std::fprintf(stderr, " %s", t.c_str());
            std::fprintf(stderr, "\n");
            return 2;
        }
        for (int k = i; k < argc - 1; k++) argv[k] = argv[k + 1];
        argc--;
        i--;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    registerAll();
    SideBySide reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.table();
    benchmark::Shutdown();
    return 0;
}
