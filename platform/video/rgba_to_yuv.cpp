// RGBA to YUV 4:2:0: the per-pixel reference and its vector form, compiled
// once per instruction set (Highway's foreach_target) and picked at run time.
//
// A vector lane holds one pixel as a 32-bit integer and does the reference's
// integer arithmetic for it; chroma sums the two rows, then neighbouring
// lanes. Every operation is exact, so each target writes the reference's
// bytes. The columns a whole vector step does not cover go through the
// reference's own code.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "rgba_to_yuv.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <bit>

#include "lv/rgba_to_yuv.h"

#ifndef LV_RGBA_TO_YUV_REFERENCE
#define LV_RGBA_TO_YUV_REFERENCE
namespace lv {
namespace {

// The vector code takes a pixel's four bytes as one little-endian word.
static_assert(std::endian::native == std::endian::little, "RGBA words are read little-endian");

const unsigned char* rgbaRow(const RgbaPicture& in, int y) { return in.pixels + long(y) * in.stride; }

unsigned char* planeRow(const Yuv420Planes& out, int plane, int y) {
    return out.data[plane] + long(y) * out.linesize[plane];
}

unsigned char luma(const unsigned char* p) {
    using namespace bt709;
    return static_cast<unsigned char>((kYR * p[0] + kYG * p[1] + kYB * p[2] + kYOffset) >> kShift);
}

// One chroma sample from the channel sums of a 2x2 block.
unsigned char chroma(int cr, int cg, int cb, int r, int g, int b) {
    using namespace bt709;
    return static_cast<unsigned char>((cr * r + cg * g + cb * b + kCOffset) >> (kShift + 2));
}

// The reference for rows 2 * pair and 2 * pair + 1, columns x0 (even) on.
// At an odd edge the missing row or column is its neighbour again, which
// makes the four-pixel sum twice (or four times) the pixels that exist.
void convertRowPair(const RgbaPicture& in, const Yuv420Planes& out, int pair, int x0) {
    const int y0 = 2 * pair, y1 = std::min(y0 + 1, in.height - 1);
    const unsigned char* top = rgbaRow(in, y0);
    const unsigned char* bottom = rgbaRow(in, y1);
    unsigned char* luma0 = planeRow(out, 0, y0);
    unsigned char* luma1 = planeRow(out, 0, y1);
    unsigned char* cb = planeRow(out, 1, pair);
    unsigned char* cr = planeRow(out, 2, pair);
    for (int x = x0; x < in.width; x += 2) {
        const int x1 = std::min(x + 1, in.width - 1);
        const unsigned char* block[4] = {top + 4 * x, top + 4 * x1, bottom + 4 * x, bottom + 4 * x1};
        luma0[x] = luma(block[0]);
        luma0[x1] = luma(block[1]);
        luma1[x] = luma(block[2]);
        luma1[x1] = luma(block[3]);
        int sum[3] = {0, 0, 0};
        for (const unsigned char* p : block)
            for (int c = 0; c < 3; ++c) sum[c] += p[c];
        using namespace bt709;
        cb[x / 2] = chroma(kCbR, kCbG, kCbB, sum[0], sum[1], sum[2]);
        cr[x / 2] = chroma(kCrR, kCrG, kCrB, sum[0], sum[1], sum[2]);
    }
}

}  // namespace
}  // namespace lv
#endif  // LV_RGBA_TO_YUV_REFERENCE

HWY_BEFORE_NAMESPACE();
namespace lv {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET == HWY_SCALAR
// One lane makes no block: the scalar target is the reference.
void RgbaToYuv420(const RgbaPicture& in, const Yuv420Planes& out) {
    for (int pair = 0; pair < (in.height + 1) / 2; ++pair) convertRowPair(in, out, pair, 0);
}
#else
using DI = hn::ScalableTag<int32_t>;
using VI = hn::Vec<DI>;

struct Rgb {
    VI r, g, b;
};

// Pixels p[0 .. Lanes) as 32-bit channel values.
Rgb LoadRgb(const unsigned char* p) {
    const DI di;
    const VI word = hn::BitCast(di, hn::LoadU(hn::Repartition<uint8_t, DI>(), p));
    const VI byte = hn::Set(di, 0xFF);
    return {hn::And(word, byte), hn::And(hn::ShiftRight<8>(word), byte), hn::And(hn::ShiftRight<16>(word), byte)};
}

VI Weigh(const Rgb& c, int wr, int wg, int wb, int offset) {
    const DI di;
    return hn::Add(hn::Add(hn::Mul(c.r, hn::Set(di, wr)), hn::Mul(c.g, hn::Set(di, wg))),
                   hn::Add(hn::Mul(c.b, hn::Set(di, wb)), hn::Set(di, offset)));
}

// Every value is in 0..255 by the coefficients' construction: the
// saturating narrowing never clamps.
void StoreBytes(VI v, unsigned char* to) {
    const hn::Rebind<uint8_t, DI> d8;
    hn::StoreU(hn::DemoteTo(d8, v), d8, to);
}

void StoreLuma(const Rgb& c, unsigned char* to) {
    using namespace bt709;
    StoreBytes(hn::ShiftRight<kShift>(Weigh(c, kYR, kYG, kYB, kYOffset)), to);
}

// Two vectors of pixels of one row pair: their luma, and the chroma of the
// Lanes blocks they make.
void ConvertStep(const unsigned char* top, const unsigned char* bottom, unsigned char* luma0, unsigned char* luma1,
                 unsigned char* cb, unsigned char* cr, bool twoRows) {
    const DI di;
    const size_t n = hn::Lanes(di);
    const Rgb t0 = LoadRgb(top), t1 = LoadRgb(top + 4 * n);
    const Rgb b0 = LoadRgb(bottom), b1 = LoadRgb(bottom + 4 * n);
    StoreLuma(t0, luma0);
    StoreLuma(t1, luma0 + n);
    if (twoRows) {
        StoreLuma(b0, luma1);
        StoreLuma(b1, luma1 + n);
    }
    auto blockSum = [&](VI top0, VI bottom0, VI top1, VI bottom1) {
        const VI lo = hn::Add(top0, bottom0), hi = hn::Add(top1, bottom1);
        return hn::Add(hn::ConcatEven(di, hi, lo), hn::ConcatOdd(di, hi, lo));
    };
    const Rgb sum = {blockSum(t0.r, b0.r, t1.r, b1.r), blockSum(t0.g, b0.g, t1.g, b1.g),
                     blockSum(t0.b, b0.b, t1.b, b1.b)};
    using namespace bt709;
    StoreBytes(hn::ShiftRight<kShift + 2>(Weigh(sum, kCbR, kCbG, kCbB, kCOffset)), cb);
    StoreBytes(hn::ShiftRight<kShift + 2>(Weigh(sum, kCrR, kCrG, kCrB, kCOffset)), cr);
}

void RgbaToYuv420(const RgbaPicture& in, const Yuv420Planes& out) {
    const int step = 2 * int(hn::Lanes(DI()));
    for (int pair = 0; pair < (in.height + 1) / 2; ++pair) {
        const int y0 = 2 * pair, y1 = std::min(y0 + 1, in.height - 1);
        const unsigned char* top = rgbaRow(in, y0);
        const unsigned char* bottom = rgbaRow(in, y1);
        unsigned char* luma0 = planeRow(out, 0, y0);
        unsigned char* luma1 = planeRow(out, 0, y1);
        unsigned char* cb = planeRow(out, 1, pair);
        unsigned char* cr = planeRow(out, 2, pair);
        int x = 0;
        for (; x + step <= in.width; x += step)
            ConvertStep(top + 4 * x, bottom + 4 * x, luma0 + x, luma1 + x, cb + x / 2, cr + x / 2, y1 != y0);
        convertRowPair(in, out, pair, x);
    }
}
#endif

}  // namespace HWY_NAMESPACE
}  // namespace lv
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lv {
HWY_EXPORT(RgbaToYuv420);

void rgbaToYuv420(const RgbaPicture& in, const Yuv420Planes& out) { HWY_DYNAMIC_DISPATCH(RgbaToYuv420)(in, out); }

// The literal conversion, kept as the definition the vector code is tested
// against.
void rgbaToYuv420Reference(const RgbaPicture& in, const Yuv420Planes& out) {
    for (int pair = 0; pair < (in.height + 1) / 2; ++pair) convertRowPair(in, out, pair, 0);
}
}  // namespace lv
#endif
