// Pictures made in memory for tests: JPEG with libjpeg, PNG with libpng.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "gl_test_env.h"

namespace lvtest {

using PixelFn = std::function<RGBA(int x, int y)>;

enum class JpegKind { RGB, Grey, CMYKAdobe };
enum class PngKind { RGBA8, Grey16, PaletteWithTransparency };

// Alpha is ignored for JPEG. Grey takes the red channel. CMYKAdobe writes
// the inverted CMYK of the colour (no black ink) with an Adobe marker.
std::vector<uint8_t> makeJPEG(int width, int height, const PixelFn& pixel, int quality = 95,
                              JpegKind kind = JpegKind::RGB);
// Grey16 takes the red channel; PaletteWithTransparency uses up to 256
// distinct colours of the picture, alpha included.
std::vector<uint8_t> makePNG(int width, int height, const PixelFn& pixel, PngKind kind = PngKind::RGBA8);

// Colours of four quadrants: red top left, green top right, blue bottom
// left, white bottom right: a picture that shows its orientation.
RGBA quadrant(int x, int y, int width, int height);

}  // namespace lvtest
