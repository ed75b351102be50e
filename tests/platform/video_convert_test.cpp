// The export's colour conversion, RGBA to YUV 4:2:0: the vector code writes
// the reference's bytes on every instruction set this machine runs, at odd
// and even sizes, padded and bottom-up rows, and nothing outside the
// picture; the reference agrees with libswscale's BT.709 conversion (the
// one the exporter used before) and puts known colours on their BT.709
// limited-range values.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "lv/rgba_to_yuv.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

constexpr unsigned char kUntouched = 0xA5;

// An RGBA picture with `pad` spare bytes after each row.
struct Picture {
    int width, height;
    long stride;
    std::vector<unsigned char> bytes;

    Picture(int w, int h, int pad) : width(w), height(h), stride(long(w) * 4 + pad), bytes(size_t(stride) * h) {}
    // Each pixel from fill(x, y, its four bytes).
    template <class Fill>
    Picture(int w, int h, int pad, Fill fill) : Picture(w, h, pad) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) fill(x, y, at(x, y));
    }
    unsigned char* at(int x, int y) { return &bytes[size_t(y) * stride + size_t(x) * 4]; }
    lv::RgbaPicture view() const { return {bytes.data(), stride, width, height}; }
    // The same rows, bottom up in memory.
    lv::RgbaPicture flipped(std::vector<unsigned char>& store) const {
        store.assign(bytes.size(), 0);
        for (int y = 0; y < height; ++y)
            std::copy_n(&bytes[size_t(y) * stride], stride, &store[size_t(height - 1 - y) * stride]);
        return {&store[size_t(height - 1) * stride], -stride, width, height};
    }
};

Picture noise(int width, int height, int pad, unsigned seed) {
    std::mt19937 random(seed);
    Picture p(width, height, pad);
    for (unsigned char& b : p.bytes) b = static_cast<unsigned char>(random());
    return p;
}

// Planes with spare bytes after each row, all bytes preset to kUntouched.
struct Planes {
    int width[3], height[3], linesize[3];
    std::vector<unsigned char> plane[3];

    Planes(int w, int h, int pad) {
        for (int i = 0; i < 3; ++i) {
            width[i] = i ? (w + 1) / 2 : w;
            height[i] = i ? (h + 1) / 2 : h;
            linesize[i] = width[i] + pad;
            plane[i].assign(size_t(linesize[i]) * height[i], kUntouched);
        }
    }
    lv::Yuv420Planes view() {
        return {{plane[0].data(), plane[1].data(), plane[2].data()}, {linesize[0], linesize[1], linesize[2]}};
    }
    int at(int i, int x, int y) const { return plane[i][size_t(y) * linesize[i] + x]; }
};

Planes convert(const lv::RgbaPicture& in, bool reference, int pad = 0) {
    Planes out(in.width, in.height, pad);
    (reference ? lv::rgbaToYuv420Reference : lv::rgbaToYuv420)(in, out.view());
    return out;
}

// libswscale as the exporter set it up before.
Planes swscale(const Picture& in) {
    Planes out(in.width, in.height, 0);
    SwsContext* sws = sws_getContext(in.width, in.height, AV_PIX_FMT_RGBA, in.width, in.height, AV_PIX_FMT_YUV420P,
                                     SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    EXPECT_NE(sws, nullptr);
    if (!sws) return out;
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(sws, coefficients, 1, coefficients, 0, 0, 1 << 16, 1 << 16);
    const uint8_t* src[1] = {in.bytes.data()};
    const int srcStride[1] = {int(in.stride)};
    lv::Yuv420Planes planes = out.view();
    sws_scale(sws, src, srcStride, 0, in.height, planes.data, planes.linesize);
    sws_freeContext(sws);
    return out;
}

// Of planes without padding.
double psnr(const Planes& a, const Planes& b, int i) {
    const double mse = std::transform_reduce(a.plane[i].begin(), a.plane[i].end(), b.plane[i].begin(), 0.0,
                                             std::plus<>(), [](int p, int q) { return double(p - q) * (p - q); }) /
                       double(a.plane[i].size());
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

::testing::AssertionResult samePlanes(const Planes& a, const Planes& b) {
    for (int i = 0; i < 3; ++i)
        for (size_t k = 0; k < a.plane[i].size(); ++k)
            if (a.plane[i][k] != b.plane[i][k])
                return ::testing::AssertionFailure()
                       << "plane " << i << " row " << k / a.linesize[i] << " column " << k % a.linesize[i] << ": "
                       << int(a.plane[i][k]) << " against " << int(b.plane[i][k]);
    return ::testing::AssertionSuccess();
}

void useTarget(int64_t target) {
    hwy::SetSupportedTargetsForTest(target);
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
}

TEST(VideoConvert, EveryTargetWritesTheReferenceBytes) {
    // Every instruction set this build has code for and this CPU runs, best first.
    hwy::SetSupportedTargetsForTest(0);
    const std::vector<int64_t> all = hwy::SupportedAndGeneratedTargets();
    ASSERT_FALSE(all.empty());
    for (int64_t t : all) std::printf("target %s\n", hwy::TargetName(t));
    // Below, at and beyond one vector step (up to 32 pixels), odd and even
    // sides, rows padded by a few bytes.
    const int sizes[][3] = {{1, 1, 0},  {2, 2, 0},   {3, 5, 4},    {7, 2, 12},  {16, 3, 0},
                            {33, 9, 8}, {64, 17, 0}, {131, 67, 20}, {320, 180, 0}};
    unsigned seed = 1;
    for (const auto& [width, height, pad] : sizes) {
        const Picture in = noise(width, height, pad, seed++);
        std::vector<unsigned char> store;
        const lv::RgbaPicture upsideDown = in.flipped(store);
        const Planes reference = convert(in.view(), true, 5);
        EXPECT_TRUE(samePlanes(reference, convert(upsideDown, true, 5))) << width << "x" << height << " bottom up";
        for (int i = 0; i < 3; ++i)   // the padding keeps its bytes
            for (int y = 0; y < reference.height[i]; ++y)
                for (int x = reference.width[i]; x < reference.linesize[i]; ++x)
                    ASSERT_EQ(kUntouched, reference.at(i, x, y)) << "plane " << i << " row " << y;
        for (int64_t target : all) {
            useTarget(target);
            for (const lv::RgbaPicture& view : {in.view(), upsideDown})
                EXPECT_TRUE(samePlanes(reference, convert(view, false, 5)))
                    << width << "x" << height << (view.stride < 0 ? " bottom up" : "") << " on "
                    << hwy::TargetName(target);
        }
    }
    useTarget(0);
}

// libswscale takes chroma through a bicubic filter over more rows than the
// 2x2 block: on smooth pictures the two agree closely, on noise the chroma
// parts the more the larger the noise (white noise over the whole range:
// about 33 dB), while luma stays the same arithmetic.
TEST(VideoConvert, MatchesSwscaleOnGradientsAndNoiseAndPutsKnownColoursOnTheirBt709Values) {
    const int w = 320, h = 180;
    std::mt19937 random(7);
    auto gradientWithNoise = [&](int amplitude) {
        return Picture(w, h, 0, [&](int x, int y, unsigned char* p) {
            const int base[3] = {x * 255 / (w - 1), y * 255 / (h - 1), (w - 1 - x + y) * 255 / (w + h - 2)};
            for (int c = 0; c < 3; ++c) {
                const int n = amplitude ? int(random() % (2 * amplitude + 1)) - amplitude : 0;
                p[c] = static_cast<unsigned char>(std::clamp(base[c] + n, 0, 255));
            }
            p[3] = 255;
        });
    };
    for (int amplitude : {0, 16}) {
        const Picture in = gradientWithNoise(amplitude);
        const Planes ours = convert(in.view(), false), theirs = swscale(in);
        for (int i = 0; i < 3; ++i)
            EXPECT_GE(psnr(ours, theirs, i), 45.0) << "gradient with noise +-" << amplitude << ", plane " << i;
    }
    const Picture noisy = noise(w, h, 0, 8);
    EXPECT_GE(psnr(convert(noisy.view(), false), swscale(noisy), 0), 45.0) << "white noise, luma";

    struct Known {
        const char* name;
        unsigned char rgb[3];
        int yuv[3];
    };
    // Y = 16 + 219 E'y, Cb = 128 + 224 (E'b - E'y) / 1.8556, Cr = 128 + 224 (E'r - E'y) / 1.5748.
    const Known colours[] = {{"black", {0, 0, 0}, {16, 128, 128}},          {"white", {255, 255, 255}, {235, 128, 128}},
                             {"red", {255, 0, 0}, {63, 102, 240}},          {"green", {0, 255, 0}, {173, 42, 26}},
                             {"blue", {0, 0, 255}, {32, 240, 118}},         {"mid grey", {128, 128, 128}, {126, 128, 128}}};
    for (const Known& c : colours) {
        const Picture in(6, 4, 0, [&](int, int, unsigned char* p) {
            std::copy_n(c.rgb, 3, p);
            p[3] = 0;   // alpha plays no part
        });
        const Planes ours = convert(in.view(), false), theirs = swscale(in);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(c.yuv[i], ours.at(i, 1, 1), 1) << c.name << " plane " << i;
            EXPECT_NEAR(c.yuv[i], theirs.at(i, 1, 1), 1) << c.name << " plane " << i << " (libswscale)";
        }
    }
}

}  // namespace
