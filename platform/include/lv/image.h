/* Image decoding: JPEG (libjpeg-turbo) and PNG (libpng) bytes in memory to
 * RGBA pixels.
 *
 * What it does. Recognises the format from the bytes themselves
 * (lv::sniffImageFormat, not a name or a type code), decodes the whole
 * picture (a JPEG longer than 1024 pixels on a side comes out scaled down by
 * 1/2 to 1/8, as far as it takes to fit, which costs far less; a PNG by the
 * whole factor that fits it, read a row at a time) and returns it as straight
 * (not premultiplied) RGBA, one byte per channel, row 0 at the top, rows
 * tightly packed. Grey, palette, CMYK and 16-bit sources are converted;
 * pictures without alpha come out opaque.
 *
 * Who calls it. The plug-in's cover-art texture (plugin/src/
 * iTunesUtilities.cpp) and tests.
 *
 * Failure. decodeImage returns false, with `out` emptied and `error`
 * naming the cause ("corrupt PNG: ..."), when the bytes are not a JPEG or
 * PNG, are corrupt or truncated, hold progressive JPEG scans far beyond what a picture needs
 * (more than 500, more than 8 M block passes, or more than 128 MB of
 * coefficients: decoding-time bombs), or describe a picture larger than
 * kMaxSide on a side or kMaxPixels in all (kMaxFullSizePixels for an
 * interlaced PNG, which cannot be read scaled); such sizes are refused before
 * any pixel memory is taken. A PNG's chunks other than its pixels (text,
 * colour profiles) are skipped unread. Nothing is printed, nothing is left
 * allocated.
 */
#ifndef LV_IMAGE_H
#define LV_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "lv/image_format.h"

namespace lvimage {

constexpr int kMaxSide = 32767;              // what a signed 16-bit size can describe
constexpr size_t kMaxPixels = size_t(1) << 26;   // 64 megapixels, 256 MB of RGBA
// Pictures that cannot be decoded scaled down (interlaced PNGs, and the
// formats FFmpeg re-encodes for covers) are refused above this: 64 MB of RGBA.
constexpr size_t kMaxFullSizePixels = size_t(4096) * 4096;

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;   // width * height * 4
};

bool decodeImage(const uint8_t* data, size_t size, Image* out, std::string& error);

}  // namespace lvimage

#endif
