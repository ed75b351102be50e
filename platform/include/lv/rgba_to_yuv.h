/* RGBA pictures to the encoder's YUV 4:2:0 (BT.709, limited range: Y in
 * 16..235, Cb and Cr in 16..240), for VideoWriter::convert, which feeds the
 * H.264 encoder of an export from it.
 *
 * Luma per pixel; chroma per 2x2 block from the block's average colour (a
 * block cut by an odd width or height averages the pixels it has). Alpha is
 * ignored. Integer arithmetic only, rounded to nearest, so the output is the
 * same bytes on every instruction set.
 *
 * rgbaToYuv420() runs the vector code for the best instruction set the CPU
 * has (Highway, picked at run time: SSSE3 to AVX-512 on x86-64, the
 * reference elsewhere); rgbaToYuv420Reference() is the plain
 * per-pixel code it must match byte for byte, kept for the tests and as the
 * definition of the conversion.
 *
 * Nothing here fails: no memory is allocated and nothing is kept between
 * calls. The caller hands over valid sizes and buffers (VideoWriter::convert
 * checks them); any number of calls may run at once on different pictures.
 */
#pragma once

#include <cstdint>

namespace lv {

struct RgbaPicture {
    const unsigned char* pixels;   // row 0, at the top of the picture
    long stride;                   // bytes from one row to the next (negative: rows bottom up in memory)
    int width;                     // > 0
    int height;                    // > 0
};

// The three planes of a YUV 4:2:0 picture (AVFrame's data and linesize):
// Y width x height, Cb and Cr (width + 1) / 2 x (height + 1) / 2.
struct Yuv420Planes {
    unsigned char* data[3];   // Y, Cb, Cr
    int linesize[3];
};

void rgbaToYuv420(const RgbaPicture& in, const Yuv420Planes& out);
void rgbaToYuv420Reference(const RgbaPicture& in, const Yuv420Planes& out);

// The conversion's fixed-point coefficients: the BT.709 matrix (Kr 0.2126,
// Kb 0.0722) scaled to the limited ranges, in units of 2^-kShift. Each
// row is rounded so that its sum is exact: white gives Y 235 and every grey
// gives Cb = Cr = 128.
namespace bt709 {
constexpr int kShift = 15;   // every coefficient fits 16 signed bits
constexpr double kKr = 0.2126, kKb = 0.0722;
constexpr double kLumaScale = 219.0 / 255.0, kChromaScale = 224.0 / 255.0;

constexpr int fixedPoint(double v) { return int(v * (1 << kShift) + (v < 0 ? -0.5 : 0.5)); }

constexpr int kYR = fixedPoint(kKr * kLumaScale);
constexpr int kYB = fixedPoint(kKb * kLumaScale);
constexpr int kYG = fixedPoint(kLumaScale) - kYR - kYB;
constexpr int kCbB = fixedPoint(0.5 * kChromaScale);
constexpr int kCbR = fixedPoint(-0.5 * kChromaScale * kKr / (1 - kKb));
constexpr int kCbG = -kCbB - kCbR;
constexpr int kCrR = kCbB;
constexpr int kCrB = fixedPoint(-0.5 * kChromaScale * kKb / (1 - kKr));
constexpr int kCrG = -kCrR - kCrB;
// The offsets with the half for rounding; chroma is computed from the sum of
// four pixels, two bits further up.
constexpr int kYOffset = (16 << kShift) + (1 << (kShift - 1));
constexpr int kCOffset = (128 << (kShift + 2)) + (1 << (kShift + 1));
}  // namespace bt709

}  // namespace lv
