// The plug-in's GL context on the host's port, and the canvas inside it.
//
// The show message stores the canvas rectangle and port here and calls
// setupGraphics(); set-window calls reshapeGraphics(); the q key calls
// toggleAntialiasing(); hide calls disposeGraphics(). Every frame starts with
// setCurrentContext(). Contexts come from lv/gl_context.h (EGL); its steps
// stand in one for one for the window system's steps counted by setupAGL.
#pragma once

#include <string>

#include "iTunesAPI.h"
#include "lv/gl_context.h"
#include "lv/port.h"

typedef lvgl::Context* AGLContext;
typedef LVPort* CGrafPtr;

extern AGLContext gGLContext;          // null when no context exists
extern CGrafPtr gGraphicsPort;         // the port of the last show message
extern Rect gCanvasRect;               // port coordinates, y down
extern bool gFullscreen;
extern bool gAntialias;                // multisampling wanted; flipped by q
extern int gCanvasXOriginOffset;
extern int gCanvasYOriginOffset;
// gWidescreen (full screen and stretched) belongs to the core: lumenvortexApplet.h.

// Makes gGLContext on gGraphicsPort. 0 on success, else the step that failed:
// 1 no pixel format, 2 no context, 3 cannot attach to the port, 4 cannot make
// it current, 5 cannot take over the port's size, 6 swap interval refused.
// After failures 3 to 6 the new context stays in gGLContext. The second
// form also says, in `error`, what the failing step ran into.
int setupAGL(bool antialias);
int setupAGL(bool antialias, std::string& error);
// Confines drawing to gCanvasRect inside the port and sets the viewport to
// (0, 0, canvas width, canvas height). Stops quietly at a failing step.
void setupViewport(bool fullscreen);
void setupGraphics();
void reshapeGraphics(Rect drawRect);
void toggleAntialiasing();
void disposeGraphics();
// True when the context could not be made current.
bool setCurrentContext();
// The port's bounds: (0, 0, height, width); all zero without a port.
Rect getCanvasSurroundingRect();
