// lv-snapshot: renders one frame of a scripted run in each of the seven
// visual modes, headless, to PNG files a person can look at.
//
//   lv-snapshot OUTDIR [--frame N]     writes OUTDIR/mode-0.png .. mode-6.png
//
// Each mode gets a fresh scene, a virtual clock (frame n at n/60 s, from 1) and the
// same synthetic music: a drifting spectrum with bursts in the upper bands
// about once a second, loud enough that wells appear and particles glow. The
// GL context is Mesa's surfaceless EGL platform with a pbuffer, so no display
// is needed.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "lumenvortexApplet.h"
#include "lv/video_out.h"

namespace {

const int WIDTH = 1120;
const int HEIGHT = 700;
const int MODES = 7;

bool makeContext(std::string& error) {
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
        error = "EGL has no eglGetPlatformDisplayEXT: install libegl-mesa0";
        return false;
    }
    EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) {
        error = "cannot open Mesa's surfaceless EGL display: install libegl-mesa0 and libgl1-mesa-dri";
        return false;
    }
    EGLConfig config;
    EGLint found = 0;
    for (int samples : {4, 0}) {
        const EGLint attrs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8,
                                EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8, EGL_DEPTH_SIZE, 24,
                                EGL_SAMPLE_BUFFERS, samples ? 1 : 0, EGL_SAMPLES, samples,
                                EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
        if (eglChooseConfig(display, attrs, &config, 1, &found) && found > 0) break;
    }
    if (found == 0) {
        error = "no RGBA8 pbuffer configuration with a 24-bit depth buffer";
        return false;
    }
    eglBindAPI(EGL_OPENGL_API);
    const EGLint contextAttrs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                   EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttrs);
    const EGLint surfaceAttrs[] = {EGL_WIDTH, WIDTH, EGL_HEIGHT, HEIGHT, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(display, config, surfaceAttrs);
    if (context == EGL_NO_CONTEXT || surface == EGL_NO_SURFACE ||
        !eglMakeCurrent(display, surface, surface, context)) {
        error = "cannot make a compatibility-profile OpenGL context current";
        return false;
    }
    return true;
}

// A drifting spectrum: bass heavier than treble, each band breathing at its
// own rate, and every 66 frames (1.1 s, more than the 800 ms beat gap) a
// burst over the whole range so that every section can beat. Bin 255, the
// noise floor, stays silent.
void scriptedSpectrum(int frame, unsigned char out[2][512]) {
    std::memset(out, 0, 2 * 512);
    bool burst = frame % 66 < 3;
    for (int bin = 0; bin < 255; bin++) {
        double shape = 70.0 * std::exp(-bin / 90.0) + 12.0;
        double breath = 0.5 + 0.5 * std::sin(frame * 0.05 + bin * 0.31);
        double v = shape * (0.6 + 0.8 * breath);
        if (burst) v += bin >= 124 ? 60.0 : 35.0;
        int byte = (int)v;
        if (byte > 255) byte = 255;
        out[0][bin] = (unsigned char)byte;
        out[1][bin] = (unsigned char)(byte * 9 / 10);
    }
}

// The frame as a person sees it: opaque, row 0 at the top.
std::vector<unsigned char> readFrame() {
    std::vector<unsigned char> bottomUp((size_t)WIDTH * HEIGHT * 4), topDown(bottomUp.size());
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, WIDTH, HEIGHT, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    for (int row = 0; row < HEIGHT; row++) {
        std::memcpy(&topDown[(size_t)row * WIDTH * 4], &bottomUp[(size_t)(HEIGHT - 1 - row) * WIDTH * 4],
                    (size_t)WIDTH * 4);
    }
    for (size_t i = 3; i < topDown.size(); i += 4) topDown[i] = 255;
    return topDown;
}

int usage(const char* message) {
    if (message) std::fprintf(stderr, "lv-snapshot: %s\n", message);
    std::fprintf(stderr, "usage: lv-snapshot OUTDIR [--frame N]   (N from 1, default 300)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string outDir;
    long frame = 300;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--frame") {
            if (i + 1 >= argc) return usage("--frame needs a number");
            char* end = nullptr;
            frame = std::strtol(argv[++i], &end, 10);
            if (!end || *end || frame < 1 || frame > 100000) return usage("--frame takes a whole number from 1 to 100000");
        } else if (arg == "-h" || arg == "--help") {
            return usage(nullptr);
        } else if (outDir.empty() && arg[0] != '-') {
            outDir = arg;
        } else {
            return usage(("unexpected argument '" + arg + "'").c_str());
        }
    }
    if (outDir.empty()) return usage("give the folder to write the PNG files to");

    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) {
        std::fprintf(stderr, "lv-snapshot: cannot create %s: %s\n", outDir.c_str(), ec.message().c_str());
        return 1;
    }

    std::string error;
    if (!makeContext(error)) {
        std::fprintf(stderr, "lv-snapshot: no headless GL: %s\n", error.c_str());
        return 1;
    }

    VirtualClock clock;
    clock.install();
    LumenvortexApplet applet;
    applet.mWidth = WIDTH;
    applet.mHeight = HEIGHT;
    gApplet = &applet;
    SoundsSourceiTunes source;
    unsigned char spectrum[2][512];

    for (int mode = 0; mode < MODES; mode++) {
        clock.setMicros(0);
        resetScene();
        applet.setSoundsSource(&source);
        glViewport(0, 0, WIDTH, HEIGHT);
        applet.setupPostGL(false);
        for (int m = 0; m < mode; m++) applet.keyPressed('m');

        // The frames before the one kept only move the field: nothing needs
        // to reach the pixels, and llvmpipe's fill is most of the cost.
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, 0, 0);
        // Frame n at n / 60 s, from 1: the pacing's 16 ms floor is met on
        // every frame and never sleeps.
        for (long n = 1; n <= frame; n++) {
            if (n == frame) glDisable(GL_SCISSOR_TEST);
            clock.setMicros(n * 1000000LL / 60);
            scriptedSpectrum((int)n, spectrum);
            source.updateSpectrumData(spectrum);
            applet.draw();
        }

        std::string path = outDir + "/mode-" + std::to_string(mode) + ".png";
        std::string error;
        if (!lv::writePng(path, readFrame().data(), WIDTH, HEIGHT, error)) {
            std::fprintf(stderr, "lv-snapshot: %s: check the folder is writable\n", error.c_str());
            return 1;
        }
        std::printf("mode %d: frame %ld, %d particles, %d wells, noise flow %s -> %s\n", mode, frame,
                    particleControl.count, gravityControl.count, gMode.perlinFlow() ? "on" : "off", path.c_str());
    }
    setClockSource(nullptr);
    return 0;
}
