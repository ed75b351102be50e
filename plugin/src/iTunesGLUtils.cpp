// The GL context on the host's port: pixel format, context, buffer rectangle
// and viewport. The steps mirror the window system's; see iTunesGLUtils.h.
#include "iTunesGLUtils.h"

#include <GL/gl.h>

#include <cstdio>

AGLContext gGLContext = nullptr;
CGrafPtr gGraphicsPort = nullptr;
Rect gCanvasRect = {0, 0, 0, 0};
bool gFullscreen = false;
bool gAntialias = false;
int gCanvasXOriginOffset = 0;
int gCanvasYOriginOffset = 0;

int setupAGL(bool antialias) {
    lvgl::PixelFormat* format = nullptr;
    if (antialias) format = lvgl::choosePixelFormat(gGraphicsPort, true);
    if (!format) format = lvgl::choosePixelFormat(gGraphicsPort, false);
    if (!format) return 1;

    gGLContext = lvgl::createContext(format);
    if (!gGLContext) {
        lvgl::destroyPixelFormat(format);
        return 2;
    }
    int status = 0;
    if (!lvgl::setDrawable(gGLContext, gGraphicsPort))
        status = 3;
    else if (!lvgl::makeCurrent(gGLContext))
        status = 4;
    else if (!lvgl::updateContext(gGLContext))
        status = 5;
    else if (!lvgl::setSwapInterval(gGLContext, 1))   // swaps wait for the vertical retrace
        status = 6;
    lvgl::destroyPixelFormat(format);
    return status;
}

void setupViewport(bool /*fullscreen*/) {
    int portWidth = 0, portHeight = 0;
    if (!lvgl::portSize(gGraphicsPort, &portWidth, &portHeight)) return;
    gCanvasXOriginOffset = 0;
    gCanvasYOriginOffset = 0;

    // The window system counts y upwards from the bottom of the port.
    const int width = gCanvasRect.right - gCanvasRect.left;
    const int height = gCanvasRect.bottom - gCanvasRect.top;
    const int bufferRect[4] = {gCanvasRect.left, portHeight - gCanvasRect.bottom, width, height};
    if (!lvgl::enableBufferRect(gGLContext)) return;
    if (!lvgl::setBufferRect(gGLContext, bufferRect)) return;
    if (!lvgl::updateContext(gGLContext)) return;
    glViewport(gCanvasXOriginOffset, gCanvasYOriginOffset, width, height);
}

namespace {

// The host cannot see why its window stays black: a failed context set-up
// is the one thing the plug-in says out loud.
void reportSetupFailure(int status) {
    if (status != 0)
        std::fprintf(stderr, "Lumenvortex: no GL context on the host's port (set-up step %d failed): %s\n", status,
                     lvgl::lastError());
}

}  // namespace

void setupGraphics() {
    // A show without a hide before it would otherwise leave the old context
    // behind with no one to destroy it.
    if (gGLContext) disposeGraphics();
    reportSetupFailure(setupAGL(gAntialias));
    setupViewport(gFullscreen);
}

void reshapeGraphics(Rect /*drawRect*/) {
    if (!gGLContext) return;
    setupViewport(gFullscreen);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1, 1, -1, 1, 0, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void toggleAntialiasing() {
    gAntialias = !gAntialias;
    disposeGraphics();
    reportSetupFailure(setupAGL(gAntialias));
    setupViewport(gFullscreen);
}

void disposeGraphics() {
    lvgl::makeCurrent(nullptr);
    if (gGLContext) {
        lvgl::setDrawable(gGLContext, nullptr);
        lvgl::destroyContext(gGLContext);
    }
    gGLContext = nullptr;
}

bool setCurrentContext() { return !lvgl::makeCurrent(gGLContext); }

Rect getCanvasSurroundingRect() {
    Rect bounds = {0, 0, 0, 0};
    int width = 0, height = 0;
    if (lvgl::portSize(gGraphicsPort, &width, &height)) {
        bounds.bottom = SInt16(height);
        bounds.right = SInt16(width);
    }
    return bounds;
}
