// The shared scripted run (scenarios/field_scenario.h) in the page, for the
// page's tests: the field's determinism hash after the run the native
// determinism test pins, and lv-snapshot's frames, drawn with the ES
// renderer on a WebGL 2 canvas, to compare with the native ones. The page
// calls these instead of starting the plug-in when its address asks for
// ?scripted (web/shell/app.js).
#include <emscripten/emscripten.h>

#include <GLES3/gl3.h>

#include <cstdio>
#include <string>

#include "field_scenario.h"
#include "lv/gl_context.h"
#include "renderer.h"

namespace {

lvgl::Context* gContext = nullptr;
LVPort gPort{};
std::string gSelector;
char gHash[24];

}  // namespace

extern "C" {

// A WebGL 2 context on the canvas, the ES renderer chosen. 0 on success.
EMSCRIPTEN_KEEPALIVE int lv_scripted_start(const char* selector, int multisample) {
    if (gContext) return 0;
    gSelector = selector;
    gPort.kind = LV_PORT_WEB_CANVAS;
    gPort.webCanvas = gSelector.c_str();
    std::string error;
    lvgl::PixelFormat* format = lvgl::choosePixelFormat(&gPort, multisample != 0, lvgl::Api::GLES3, error);
    if (format) gContext = lvgl::createContext(format, error);
    lvgl::destroyPixelFormat(format);
    if (!gContext || !lvgl::setDrawable(gContext, &gPort, error)) {
        std::fprintf(stderr, "lumenvortex: %s\n", error.c_str());
        return 1;
    }
    useRenderer(RENDERER_GLES);
    return 0;
}

// The determinism test's run: `frames` frames with the scripted keys on a
// width x height canvas; the field's hash as 16 hex digits.
EMSCRIPTEN_KEEPALIVE const char* lv_scripted_hash(int fastStep, int frames, int width, int height) {
    lvscenario::ScriptedRun run(width, height, fastStep != 0);
    for (int n = 1; n <= frames; n++) run.frame(n, lvscenario::scriptedKey(n));
    std::snprintf(gHash, sizeof gHash, "%016llx", (unsigned long long)lvscenario::fieldHash());
    return gHash;
}

// lv-snapshot's frame `frame` of mode `mode`: a fresh scene, the scripted
// music without keys, only the last frame reaching the pixels.
EMSCRIPTEN_KEEPALIVE void lv_scripted_snapshot(int mode, int frame, int width, int height) {
    lvscenario::ScriptedRun run(width, height);
    for (int m = 0; m < mode; m++) run.applet.keyPressed('m');
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 0, 0);
    for (int n = 1; n <= frame; n++) {
        if (n == frame) glDisable(GL_SCISSOR_TEST);
        run.frame(n);
    }
    glFinish();
}

}  // extern "C"
