// The export's colour conversion of one 1280 x 720 RGBA frame to YUV 4:2:0:
// libswscale as the exporter had it (bicubic, accurate rounding, BT.709),
// the per-pixel reference, and the Highway code on each instruction set the
// CPU runs (the first listed is the one the exporter picks).
#include <benchmark/benchmark.h>
#include <hwy/targets.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "lv/rgba_to_yuv.h"
#include "median_reporter.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

constexpr int kWidth = 1280, kHeight = 720;

// A noisy frame (the conversion's cost does not depend on the colours) and
// planes laid out as av_frame_get_buffer lays them out for this size.
struct Frame {
    std::vector<unsigned char> rgba = std::vector<unsigned char>(size_t(kWidth) * kHeight * 4);
    std::vector<unsigned char> planes[3] = {std::vector<unsigned char>(size_t(kWidth) * kHeight),
                                            std::vector<unsigned char>(size_t(kWidth / 2) * kHeight / 2),
                                            std::vector<unsigned char>(size_t(kWidth / 2) * kHeight / 2)};

    Frame() {
        std::mt19937 random(1);
        for (unsigned char& b : rgba) b = static_cast<unsigned char>(random());
    }
    lv::RgbaPicture in() const { return {rgba.data(), kWidth * 4, kWidth, kHeight}; }
    lv::Yuv420Planes out() {
        return {{planes[0].data(), planes[1].data(), planes[2].data()}, {kWidth, kWidth / 2, kWidth / 2}};
    }
};

void setPixels(benchmark::State& state) { state.SetItemsProcessed(state.iterations() * kWidth * kHeight); }

void Swscale(benchmark::State& state) {
    Frame frame;
    SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_RGBA, kWidth, kHeight, AV_PIX_FMT_YUV420P,
                                     SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (!sws) return state.SkipWithError("libswscale has no RGBA to YUV 4:2:0 conversion");
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(sws, coefficients, 1, coefficients, 0, 0, 1 << 16, 1 << 16);
    const uint8_t* src[1] = {frame.rgba.data()};
    const int srcStride[1] = {kWidth * 4};
    lv::Yuv420Planes out = frame.out();
    for (auto _ : state) {
        sws_scale(sws, src, srcStride, 0, kHeight, out.data, out.linesize);
        benchmark::ClobberMemory();
    }
    sws_freeContext(sws);
    setPixels(state);
}

void Reference(benchmark::State& state) {
    Frame frame;
    for (auto _ : state) {
        lv::rgbaToYuv420Reference(frame.in(), frame.out());
        benchmark::ClobberMemory();
    }
    setPixels(state);
}

void Highway(benchmark::State& state, int64_t target) {
    Frame frame;
    hwy::SetSupportedTargetsForTest(target);
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
    for (auto _ : state) {
        lv::rgbaToYuv420(frame.in(), frame.out());
        benchmark::ClobberMemory();
    }
    hwy::SetSupportedTargetsForTest(0);
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
    setPixels(state);
}

std::vector<std::string> gNames;   // in registration order, for the table

void registerAll() {
    auto add = [](const std::string& name, auto fn) {
        benchmark::RegisterBenchmark(name.c_str(), fn)->Unit(benchmark::kMicrosecond);
        gNames.push_back(name);
    };
    add("Swscale", Swscale);
    add("Reference", Reference);
    hwy::SetSupportedTargetsForTest(0);
    for (int64_t t : hwy::SupportedAndGeneratedTargets())
        add(std::string("Highway/") + hwy::TargetName(t), [t](benchmark::State& s) { Highway(s, t); });
}

class SideBySide : public lvbench::MedianReporter {
public:
    void table() const {
        if (!cpuMs.count("Swscale")) return;
        const double base = cpuMs.at("Swscale");
        std::printf("\n%-18s %12s %12s\n", "1280x720 frame", "cpu us", "vs swscale");
        for (const std::string& name : gNames)
            if (cpuMs.count(name))
                std::printf("%-18s %12.1f %11.1fx\n", name.c_str(), cpuMs.at(name), base / cpuMs.at(name));
    }
};

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SideBySide reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.table();
    benchmark::Shutdown();
    return 0;
}
