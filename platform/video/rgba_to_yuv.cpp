// RGBA to YUV 4:2:0: the per-pixel reference and its vector form, compiled
// once per instruction set (Highway's foreach_target) and picked at run time.
//
// A 32-bit lane holds one pixel as two 16-bit pairs, (R, B) and (G, A),
// weighed by multiply-adds of pairs into the reference's integer sums;
// chroma sums the pairs of the two rows, then of neighbouring lanes. Every
// operation is exact, so each target writes the reference's bytes. The
// columns a whole vector step does not cover go through the reference's own
// code. The helpers are forced inline: as calls they pass their vectors
// through memory, which made the conversion several times slower.
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

// Rows 2 * pair and 2 * pair + 1 of the picture and their rows of the three
// planes. At an odd bottom edge the missing row is the last one again (and
// its luma is written twice, the same both times).
struct RowPair {
    const unsigned char *top, *bottom;
    unsigned char *luma0, *luma1, *cb, *cr;
    bool twoRows;

    RowPair(const RgbaPicture& in, const Yuv420Planes& out, int pair) {
        const int y0 = 2 * pair, y1 = std::min(y0 + 1, in.height - 1);
        top = rgbaRow(in, y0);
        bottom = rgbaRow(in, y1);
        luma0 = planeRow(out, 0, y0);
        luma1 = planeRow(out, 0, y1);
        cb = planeRow(out, 1, pair);
        cr = planeRow(out, 2, pair);
        twoRows = y1 != y0;
    }
};

// The reference for a row pair, columns x0 (even) on. At an odd edge the
// missing row or column is its neighbour again, which makes the four-pixel
// sum twice (or four times) the pixels that exist.
void convertRowPair(const RgbaPicture& in, const Yuv420Planes& out, int pair, int x0) {
    const RowPair rows(in, out, pair);
    const unsigned char *top = rows.top, *bottom = rows.bottom;
    unsigned char *luma0 = rows.luma0, *luma1 = rows.luma1, *cb = rows.cb, *cr = rows.cr;
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

// ReorderWidenMulAccumulate is x86's multiply-add of 16-bit pairs (madd)
// on the SSSE3 to AVX-512 targets, the pairing the code below relies on;
// elsewhere its lane order differs, and one lane makes no block: there the
// reference runs.
#if !HWY_ARCH_X86 || HWY_TARGET == HWY_SCALAR || HWY_TARGET == HWY_EMU128
void RgbaToYuv420(const RgbaPicture& in, const Yuv420Planes& out) {
    for (int pair = 0; pair < (in.height + 1) / 2; ++pair) convertRowPair(in, out, pair, 0);
}
#else
constexpr bool fitsPairs() {
    using namespace bt709;
    for (int c : {kYR, kYG, kYB, kCbR, kCbG, kCbB, kCrR, kCrG, kCrB})
        if (c < -32768 || c > 32767) return false;
    return true;
}
static_assert(fitsPairs(), "the multiply-add of pairs takes 16-bit coefficients");

using DI = hn::ScalableTag<int32_t>;
using VI = hn::Vec<DI>;
using DS = hn::Repartition<int16_t, DI>;
using VS = hn::Vec<DS>;

// Pixels p[0 .. Lanes(DI)) as 16-bit pairs, each pair one pixel's.
struct Pairs {
    VS rb, ga;
};

HWY_INLINE Pairs LoadPairs(const unsigned char* p) {
    const hn::RebindToUnsigned<DS> du;
    const auto v = hn::BitCast(du, hn::LoadU(hn::Repartition<uint8_t, DI>(), p));
    return {hn::BitCast(DS(), hn::And(v, hn::Set(du, 0xFF))), hn::BitCast(DS(), hn::ShiftRight<8>(v))};
}

// A 16-bit pair (low, high) in every 32-bit lane.
HWY_INLINE VS Pair(int low, int high) {
    return hn::BitCast(DS(), hn::Set(DI(), int32_t(uint32_t(high) << 16 | uint16_t(low))));
}

HWY_INLINE VI Weigh(const Pairs& c, int wr, int wg, int wb, int offset) {
    const DI di;
    VI unused = hn::Zero(di);
    const VI rb = hn::ReorderWidenMulAccumulate(di, c.rb, Pair(wr, wb), hn::Set(di, offset), unused);
    return hn::ReorderWidenMulAccumulate(di, c.ga, Pair(wg, 0), rb, unused);
}

// Every value is in 0..255 by the coefficients' construction: the
// saturating narrowing never clamps.
HWY_INLINE void StoreBytes(VI v, unsigned char* to) {
    const hn::Rebind<uint8_t, DI> d8;
    hn::StoreU(hn::DemoteTo(d8, v), d8, to);
}

HWY_INLINE void StoreLuma(const Pairs& c, unsigned char* to) {
    using namespace bt709;
    StoreBytes(hn::ShiftRight<kShift>(Weigh(c, kYR, kYG, kYB, kYOffset)), to);
}

// Each block's four pixels summed, pair by pair: the two rows, then the
// even and odd pixels.
HWY_INLINE VS BlockSum(VS top0, VS bottom0, VS top1, VS bottom1) {
    const DI di;
    const VI lo = hn::BitCast(di, hn::Add(top0, bottom0)), hi = hn::BitCast(di, hn::Add(top1, bottom1));
    return hn::Add(hn::BitCast(DS(), hn::ConcatEven(di, hi, lo)), hn::BitCast(DS(), hn::ConcatOdd(di, hi, lo)));
}

// Two vectors of pixels of one row pair: their luma, and the chroma of the
// Lanes(DI) blocks they make.
HWY_INLINE void ConvertStep(const unsigned char* top, const unsigned char* bottom, unsigned char* luma0, unsigned char* luma1,
                 unsigned char* cb, unsigned char* cr, bool twoRows) {
    const size_t n = hn::Lanes(DI());
    const Pairs t0 = LoadPairs(top), t1 = LoadPairs(top + 4 * n);
    const Pairs b0 = LoadPairs(bottom), b1 = LoadPairs(bottom + 4 * n);
    StoreLuma(t0, luma0);
    StoreLuma(t1, luma0 + n);
    if (twoRows) {
        StoreLuma(b0, luma1);
        StoreLuma(b1, luma1 + n);
    }
    const Pairs sum = {BlockSum(t0.rb, b0.rb, t1.rb, b1.rb), BlockSum(t0.ga, b0.ga, t1.ga, b1.ga)};
    using namespace bt709;
    StoreBytes(hn::ShiftRight<kShift + 2>(Weigh(sum, kCbR, kCbG, kCbB, kCOffset)), cb);
    StoreBytes(hn::ShiftRight<kShift + 2>(Weigh(sum, kCrR, kCrG, kCrB, kCOffset)), cr);
}

void RgbaToYuv420(const RgbaPicture& in, const Yuv420Planes& out) {
    const int step = 2 * int(hn::Lanes(DI()));
    for (int pair = 0; pair < (in.height + 1) / 2; ++pair) {
        const RowPair r(in, out, pair);
        int x = 0;
        for (; x + step <= in.width; x += step)
            ConvertStep(r.top + 4 * x, r.bottom + 4 * x, r.luma0 + x, r.luma1 + x, r.cb + x / 2, r.cr + x / 2,
                        r.twoRows);
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
