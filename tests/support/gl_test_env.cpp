#include "gl_test_env.h"

#include "lv/video_out.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace lvtest {
namespace {

struct Context {
    bool tried = false;
    bool ok = false;
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLSurface surface = EGL_NO_SURFACE;
    EGLContext context = EGL_NO_CONTEXT;
    int samples = 0;
    int width = 640;
    int height = 480;
    std::string error;
};

Context& ctx() {
    static Context c;
    return c;
}

bool chooseConfig(EGLDisplay d, int samples, EGLConfig* out) {
    const EGLint attrs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,  EGL_RED_SIZE,   8, EGL_GREEN_SIZE, 8,
                            EGL_BLUE_SIZE,    8,                EGL_ALPHA_SIZE, 8, EGL_DEPTH_SIZE, 24,
                            EGL_SAMPLE_BUFFERS, samples ? 1 : 0, EGL_SAMPLES, samples,
                            EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLint n = 0;
    return eglChooseConfig(d, attrs, out, 1, &n) && n > 0;
}

void create() {
    Context& c = ctx();
    c.tried = true;
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
        c.error = "EGL has no eglGetPlatformDisplayEXT: install libegl-mesa0";
        return;
    }
    c.display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (c.display == EGL_NO_DISPLAY || !eglInitialize(c.display, nullptr, nullptr)) {
        c.error = "cannot open Mesa's surfaceless EGL display: install libegl-mesa0 and libgl1-mesa-dri";
        return;
    }
    EGLConfig config;
    c.samples = 4;
    if (!chooseConfig(c.display, 4, &config)) {
        c.samples = 0;
        if (!chooseConfig(c.display, 0, &config)) {
            c.error = "no RGBA8 / depth-24 pbuffer config";
            return;
        }
    }
    eglBindAPI(EGL_OPENGL_API);
    const EGLint ctxAttrs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                               EGL_NONE};
    c.context = eglCreateContext(c.display, config, EGL_NO_CONTEXT, ctxAttrs);
    const EGLint pbAttrs[] = {EGL_WIDTH, kPbufferWidth, EGL_HEIGHT, kPbufferHeight, EGL_NONE};
    c.surface = eglCreatePbufferSurface(c.display, config, pbAttrs);
    if (c.context == EGL_NO_CONTEXT || c.surface == EGL_NO_SURFACE ||
        !eglMakeCurrent(c.display, c.surface, c.surface, c.context)) {
        c.error = "cannot make a compatibility-profile GL context current";
        return;
    }
    GLint s = 0;
    glGetIntegerv(GL_SAMPLES, &s);
    c.samples = s;
    c.ok = true;
}

}  // namespace

bool glAvailable() {
    if (!ctx().tried) create();
    return ctx().ok;
}

void requireGL(int canvasWidth, int canvasHeight) {
    if (!glAvailable()) {
        FAIL() << "no headless GL: " << ctx().error;
    }
    Context& c = ctx();
    eglMakeCurrent(c.display, c.surface, c.surface, c.context);
    c.width = canvasWidth;
    c.height = canvasHeight;
    glViewport(0, 0, canvasWidth, canvasHeight);
}

int canvasWidth() { return ctx().width; }
int canvasHeight() { return ctx().height; }
int glSamples() { return ctx().samples; }

RGBA pixel(int x, int yFromTop) {
    RGBA p{};
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, ctx().height - 1 - yFromTop, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &p);
    return p;
}

std::vector<uint8_t> readCanvas() {
    const int w = ctx().width, h = ctx().height;
    std::vector<uint8_t> bottomUp(size_t(w) * h * 4), topDown(size_t(w) * h * 4);
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    for (int row = 0; row < h; ++row)
        std::copy_n(&bottomUp[size_t(h - 1 - row) * w * 4], size_t(w) * 4, &topDown[size_t(row) * w * 4]);
    return topDown;
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
