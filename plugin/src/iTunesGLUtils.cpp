// The GL context on the host's port: pixel format, context, buffer rectangle
// and viewport. The steps mirror the window system's; see iTunesGLUtils.h.
#include "iTunesGLUtils.h"

#include <GL/gl.h>

#include <cstdio>
#include <string>

#include "renderer.h"

AGLContext gGLContext = nullptr;
CGrafPtr gGraphicsPort = nullptr;
Rect gCanvasRect = {0, 0, 0, 0};
bool gFullscreen = false;
bool gAntialias = false;
int gCanvasXOriginOffset = 0;
int gCanvasYOriginOffset = 0;

// The platform layer says what went wrong in words; the window system's
// set-up counted steps. This is the one place where one becomes the other.
int setupAGL(bool antialias, std::string& error) {
    const lvgl::Api api = rendererIsGles() ? lvgl::Api::GLES3 : lvgl::Api::DESKTOP_GL;
    lvgl::PixelFormat* format = nullptr;
    if (antialias) format = lvgl::choosePixelFormat(gGraphicsPort, true, api, error);
    if (!format) format = lvgl::choosePixelFormat(gGraphicsPort, false, api, error);
    if (!format) return 1;

    gGLContext = lvgl::createContext(format, error);
    if (!gGLContext) {
        lvgl::destroyPixelFormat(format);
        return 2;
    }
    int status = 0;
    if (!lvgl::setDrawable(gGLContext, gGraphicsPort, error))
        status = 3;
    else if (!lvgl::makeCurrent(gGLContext, error))
        status = 4;
    else if (!lvgl::updateContext(gGLContext, error))
        status = 5;
    else if (!lvgl::setSwapInterval(gGLContext, 1, error))   // swaps wait for the vertical retrace
        status = 6;
    lvgl::destroyPixelFormat(format);
    return status;
}

int setupAGL(bool antialias) {
    std::string error;
    return setupAGL(antialias, error);
}

void setupViewport(bool /*fullscreen*/) {
    // Each step that fails leaves the previous viewport; the frame still draws.
    std::string error;
    int portWidth = 0, portHeight = 0;
    if (!lvgl::portSize(gGraphicsPort, &portWidth, &portHeight, error)) return;
    gCanvasXOriginOffset = 0;
    gCanvasYOriginOffset = 0;

    // The window system counts y upwards from the bottom of the port.
    const int width = gCanvasRect.right - gCanvasRect.left;
    const int height = gCanvasRect.bottom - gCanvasRect.top;
    const int bufferRect[4] = {gCanvasRect.left, portHeight - gCanvasRect.bottom, width, height};
    if (!lvgl::enableBufferRect(gGLContext, error)) return;
    if (!lvgl::setBufferRect(gGLContext, bufferRect, error)) return;
    if (!lvgl::updateContext(gGLContext, error)) return;
    glViewport(gCanvasXOriginOffset, gCanvasYOriginOffset, width, height);
}

namespace {

// The host cannot see why its window stays black: a failed context set-up
// is the one thing the plug-in says out loud.
void setupAndReport(bool antialias) {
    std::string error;
    int status = setupAGL(antialias, error);
    if (status != 0 && rendererIsGles()) {
        // A driver without ES 3 still shows the visualizer: the batched
        // drawing on desktop GL draws the same picture.
        std::fprintf(stderr, "Lumenvortex: no OpenGL ES 3 context (%s); drawing with the batched renderer instead\n",
                     error.c_str());
        disposeGraphics();
        useRenderer(RENDERER_BATCHED);
        error.clear();
        status = setupAGL(antialias, error);
    }
    if (status != 0)
        std::fprintf(stderr, "Lumenvortex: no GL context on the host's port (set-up step %d failed): %s\n", status,
                     error.c_str());
}

}  // namespace

void setupGraphics() {
    // A show without a hide before it would otherwise leave the old context
    // behind with no one to destroy it.
    if (gGLContext) disposeGraphics();
    setupAndReport(gAntialias);
    setupViewport(gFullscreen);
}

void reshapeGraphics(Rect /*drawRect*/) {
    if (!gGLContext) return;
    setupViewport(gFullscreen);
    // (The ES renderer's matrices are the applet's alone: every frame sets them.)
    if (rendererIsGles()) return;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, 0, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void toggleAntialiasing() {
    gAntialias = !gAntialias;
    disposeGraphics();
    setupAndReport(gAntialias);
    setupViewport(gFullscreen);
}

void disposeGraphics() {
    std::string ignored;   // releasing nothing cannot fail
    lvgl::makeCurrent(nullptr, ignored);
    if (gGLContext) {
        lvgl::setDrawable(gGLContext, nullptr, ignored);
        lvgl::destroyContext(gGLContext);
    }
    gGLContext = nullptr;
}

bool setCurrentContext() {
    std::string ignored;   // callers only need to know whether it worked
    return !lvgl::makeCurrent(gGLContext, ignored);
}

Rect getCanvasSurroundingRect() {
    Rect bounds = {0, 0, 0, 0};
    int width = 0, height = 0;
    std::string ignored;   // no port: the empty rectangle says it
    if (lvgl::portSize(gGraphicsPort, &width, &height, ignored)) {
        bounds.bottom = SInt16(height);
        bounds.right = SInt16(width);
    }
    return bounds;
}
