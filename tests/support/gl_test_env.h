// The headless GL test bed: the platform's context on an offscreen port
// (Mesa, compatibility profile, RGBA8, 24-bit depth), made once per test
// binary on first use.
//
//   lvtest::requireGL(w, h)   makes the context current (once), sizes the
//                             port and its canvas to w x h and sets the
//                             viewport to it; fails the test if no context
//                             can be made. With `es`, the same for a second
//                             context of OpenGL ES 3 (the ES renderer's);
//                             the calls below read whichever was required
//                             last
//   lvtest::psnr(a, b)        peak signal-to-noise ratio of two canvases over
//                             their RGB channels, in dB (99 when equal)
//   lvtest::pixel(x, y)       reads one RGBA pixel of that canvas, (0, 0) at
//                             the canvas's TOP left, as the kit draws
//   lvtest::readCanvas()      the whole canvas, row 0 at the top
//   lvtest::writePNG(...)     saves RGBA rows for a person to look at
//   lvtest::readPNG(path)     a PNG file as RGBA, for pictures other programs wrote
//   lvtest::OffscreenPort     a port of RGBA pixels in memory, for contexts of
//                             the tests' own
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lv/image.h"
#include "lv/port.h"

namespace lvtest {

struct RGBA {
    uint8_t r, g, b, a;
    bool operator==(const RGBA&) const = default;
};

void requireGL(int canvasWidth = 640, int canvasHeight = 480, bool es = false);
double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
int canvasWidth();
int canvasHeight();

RGBA pixel(int x, int yFromTop);
std::vector<uint8_t> readCanvas();

// Writes width x height RGBA rows (row 0 at the top) as an 8-bit RGBA PNG.
// Returns false when the file cannot be written.
// A PNG file as RGBA (a test failure when it does not decode).
lvimage::Image readPNG(const std::string& path);
bool writePNG(const std::string& path, const uint8_t* rgba, int width, int height);

// Where tests put images for people: $LV_BINARY_DIR/test-output (made on demand).
std::string outputDir();

// An offscreen port of width x height pixels, each preset to `fill`.
struct OffscreenPort {
    LVPort port{};
    std::vector<RGBA> pixels;
    OffscreenPort(int width, int height, RGBA fill = {}) : pixels(size_t(width) * height, fill) {
        port.kind = LV_PORT_OFFSCREEN;
        port.width = width;
        port.height = height;
        port.pixels = reinterpret_cast<unsigned char*>(pixels.data());
    }
    RGBA at(int x, int y) const { return pixels[size_t(y) * port.width + x]; }
};

}  // namespace lvtest
