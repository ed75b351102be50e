// The headless GL test bed: a real Mesa context (EGL surfaceless platform,
// pbuffer, compatibility profile, RGBA8, 24-bit depth, 4x MSAA where the
// driver has it), made once per test binary on first use.
//
//   lvtest::requireGL(w, h)   makes the context current (once) and sets the
//                             viewport to a w x h canvas at the lower left of
//                             the 1280 x 800 pbuffer; fails the test if no
//                             context can be made
//   lvtest::pixel(x, y)       reads one RGBA pixel of that canvas, (0, 0) at
//                             the canvas's TOP left, as the kit draws
//   lvtest::readCanvas()      the whole canvas, row 0 at the top
//   lvtest::writePNG(...)     saves RGBA rows for a person to look at
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace lvtest {

struct RGBA {
    uint8_t r, g, b, a;
    bool operator==(const RGBA&) const = default;
};

constexpr int kPbufferWidth = 1280;
constexpr int kPbufferHeight = 800;

void requireGL(int canvasWidth = 640, int canvasHeight = 480);
bool glAvailable();
int canvasWidth();
int canvasHeight();
int glSamples();   // GL_SAMPLES of the context: 4 with MSAA, 0 without

RGBA pixel(int x, int yFromTop);
std::vector<uint8_t> readCanvas();

// Writes width x height RGBA rows (row 0 at the top) as an 8-bit RGBA PNG.
// Returns false when the file cannot be written.
bool writePNG(const std::string& path, const uint8_t* rgba, int width, int height);

// Where tests put images for people: $LV_BINARY_DIR/test-output (made on demand).
std::string outputDir();

}  // namespace lvtest
