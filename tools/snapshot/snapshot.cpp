// lv-snapshot: renders one frame of the scripted run in each of the seven
// visual modes, headless, to PNG files a person can look at.
//
//   lv-snapshot OUTDIR [--frame N] [--renderer reference|batched|gles]
//                                      writes OUTDIR/mode-0.png .. mode-6.png
//
// --renderer picks the drawing (core/include/renderer.h): the same scene
// state drawn by each, so that their pictures can be compared file by file.
//
// Each mode gets a fresh scene and the shared scenario's run
// (scenarios/field_scenario.h): a virtual clock (frame n at n/60 s, from 1)
// and the same synthetic music the determinism test plays, without its keys.
// The frames are drawn on the platform's offscreen port (OffscreenCanvas),
// whose swap copies each finished frame into host memory, so no display is
// needed.
#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "field_scenario.h"
#include "offscreen_canvas.h"
#include "renderer.h"
#include "lv/video_out.h"

namespace {

const int WIDTH = 1120;
const int HEIGHT = 700;
const int MODES = 7;

int usage(const char* message) {
    if (message) std::fprintf(stderr, "lv-snapshot: %s\n", message);
    std::fprintf(stderr,
                 "usage: lv-snapshot OUTDIR [--frame N] [--renderer reference|batched|gles]\n"
                 "       (N from 1, default 300; the renderer defaults to batched)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string outDir;
    long frame = 300;
    RendererKind renderer = RENDERER_BATCHED;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--frame") {
            if (i + 1 >= argc) return usage("--frame needs a number");
            char* end = nullptr;
            frame = std::strtol(argv[++i], &end, 10);
            if (!end || *end || frame < 1 || frame > 100000) return usage("--frame takes a whole number from 1 to 100000");
        } else if (arg == "--renderer") {
            if (i + 1 >= argc || !parseRenderer(argv[i + 1], &renderer))
                return usage("--renderer takes reference, batched or gles");
            i++;
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

    lvscenario::OffscreenCanvas screen;
    std::string error;
    const bool es = renderer == RENDERER_GLES;
    if (!screen.open(WIDTH, HEIGHT, true, error, es ? lvgl::Api::GLES3 : lvgl::Api::DESKTOP_GL)) {
        std::fprintf(stderr, "lv-snapshot: no headless %s: %s\n", es ? "OpenGL ES 3" : "GL", error.c_str());
        return 1;
    }
    useRenderer(renderer);

    for (int mode = 0; mode < MODES; mode++) {
        lvscenario::ScriptedRun run(WIDTH, HEIGHT);
        for (int m = 0; m < mode; m++) run.applet.keyPressed('m');

        // The frames before the one kept only move the field: nothing needs
        // to reach the pixels, and llvmpipe's fill is most of the cost.
        // (Scissor and viewport are the same calls in both APIs.)
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, 0, 0);
        for (long n = 1; n <= frame; n++) {
            if (n == frame) glDisable(GL_SCISSOR_TEST);
            run.frame((int)n);
        }
        if (!screen.present(error)) {
            std::fprintf(stderr, "lv-snapshot: %s\n", error.c_str());
            return 1;
        }

        for (size_t i = 3; i < screen.pixels.size(); i += 4) screen.pixels[i] = 255;   // as a person sees it: opaque
        std::string path = outDir + "/mode-" + std::to_string(mode) + ".png";
        if (!lv::writePng(path, screen.pixels.data(), WIDTH, HEIGHT, error)) {
            std::fprintf(stderr, "lv-snapshot: %s: check the folder is writable\n", error.c_str());
            return 1;
        }
        std::printf("mode %d: frame %ld, %d particles, %d wells, noise flow %s -> %s\n", mode, frame,
                    particleControl.count, gravityControl.count, gMode.perlinFlow() ? "on" : "off", path.c_str());
    }
    return 0;
}
