// Pictures made in memory for tests (JPEG with libjpeg, PNG with libpng), and
// what decoding one costs in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "gl_test_env.h"

namespace lvtest {

using PixelFn = std::function<RGBA(int x, int y)>;

// Alpha is ignored. cmykAdobe writes the inverted CMYK of the colour (no
// black ink) with an Adobe marker, as Photoshop saves print pictures.
// progressive writes the usual ten-scan progression.
std::vector<uint8_t> makeJPEG(int width, int height, const PixelFn& pixel, bool cmykAdobe = false,
                              bool progressive = false);
// 8-bit RGBA.
std::vector<uint8_t> makePNG(int width, int height, const PixelFn& pixel);

// Resident memory `body` adds at its peak, in MB; -1 when the kernel's
// high-water mark cannot be reset (no /proc/self/clear_refs).
long peakGrowthMb(const std::function<void()>& body);

inline PixelFn solid(RGBA colour) {
    return [colour](int, int) { return colour; };
}

// Red top left, green top right, blue bottom left, white bottom right: a
// picture that shows its orientation.
inline RGBA quadrant(int x, int y, int width, int height) {
    const bool right = x >= width / 2, bottom = y >= height / 2;
    return !bottom ? (right ? RGBA{0, 255, 0, 255} : RGBA{255, 0, 0, 255})
                   : (right ? RGBA{255, 255, 255, 255} : RGBA{0, 0, 255, 255});
}

}  // namespace lvtest
