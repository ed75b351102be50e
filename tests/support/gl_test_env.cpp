#include "gl_test_env.h"

#include "lv/gl_context.h"
#include "lv/video_out.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace lvtest {
namespace {

// The platform's own offscreen port and context, so the tests draw exactly as
// the plug-in does. The canvas is single-sampled: the tests read colour and
// depth straight from it, which a multisampled framebuffer object refuses.
struct Bed {
    bool tried = false;
    bool ok = false;
    LVPort port{};
    std::vector<uint8_t> pixels;
    lvgl::PixelFormat* format = nullptr;
    lvgl::Context* context = nullptr;
    std::string error;
};

// Desktop GL (compatibility profile) and OpenGL ES 3, each made on first use.
Bed gBeds[2];
bool gEsCurrent = false;

Bed& bed() { return gBeds[gEsCurrent ? 1 : 0]; }

// Sizes the port (and so the canvas) to width x height; the canvas is remade.
bool resize(Bed& b, int width, int height) {
    b.pixels.assign(size_t(width) * height * 4, 0);
    b.port.width = width;
    b.port.height = height;
    b.port.pixels = b.pixels.data();
    return lvgl::updateContext(b.context, b.error);
}

void create(bool es) {
    Bed& b = bed();
    b.tried = true;
    b.port.kind = LV_PORT_OFFSCREEN;
    b.port.width = 640;
    b.port.height = 480;
    const lvgl::Api api = es ? lvgl::Api::GLES3 : lvgl::Api::DESKTOP_GL;
    b.ok = (b.format = lvgl::choosePixelFormat(&b.port, false, api, b.error)) &&
           (b.context = lvgl::createContext(b.format, b.error)) && lvgl::setDrawable(b.context, &b.port, b.error) &&
           lvgl::makeCurrent(b.context, b.error) && resize(b, 640, 480);
}

}  // namespace

void requireGL(int canvasWidth, int canvasHeight, bool es) {
    gEsCurrent = es;
    Bed& b = bed();
    if (!b.tried) create(es);
    if (!b.ok) FAIL() << (es ? "no headless OpenGL ES 3: " : "no headless GL: ") << b.error;
    ASSERT_TRUE(lvgl::makeCurrent(b.context, b.error)) << b.error;
    if (canvasWidth != b.port.width || canvasHeight != b.port.height) {
        ASSERT_TRUE(resize(b, canvasWidth, canvasHeight)) << b.error;
    }
    glViewport(0, 0, canvasWidth, canvasHeight);   // the canvas is the whole port
}

int canvasWidth() { return bed().port.width; }
int canvasHeight() { return bed().port.height; }

std::vector<uint8_t> readCanvas() {
    if (!lvgl::swapBuffers(bed().context, bed().error)) ADD_FAILURE() << bed().error;
    return bed().pixels;
}

RGBA pixel(int x, int yFromTop) {
    RGBA p{};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, canvasHeight() - 1 - yFromTop, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &p);
    return p;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.size() < 3) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); i++)
        if (i % 4 != 3) sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    const double mse = sum / double(a.size() - a.size() / 4);   // the alpha bytes left out
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

lvimage::Image readPNG(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    lvimage::Image image;
    std::string error;
    EXPECT_TRUE(lvimage::decodeImage(bytes.data(), bytes.size(), &image, error)) << path << ": " << error;
    return image;
}

bool writePNG(const std::string& path, const uint8_t* rgba, int width, int height) {
    std::string error;
    return lv::writePng(path, rgba, width, height, error);
}

std::string outputDir() {
    const char* bin = std::getenv("LV_BINARY_DIR");
    std::string dir = std::string(bin ? bin : ".") + "/test-output";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return dir;
}

}  // namespace lvtest
