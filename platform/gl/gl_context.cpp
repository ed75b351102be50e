// EGL contexts on LVPorts. See lv/gl_context.h for the life of a context.
//
// All drawing goes into a canvas framebuffer object rather than the surface:
// window systems here have no equivalent of a buffer rectangle, and the
// surfaceless platform has no surface at all. Presenting is a blit (window)
// or a read-back (offscreen) of the canvas at the rectangle.
#include "lv/gl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace lvgl {

struct PixelFormat {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLConfig config = nullptr;
    int kind = 0;
    int samples = 0;   // wanted for the canvas
};

struct Context {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLConfig config = nullptr;
    EGLContext context = EGL_NO_CONTEXT;
    EGLSurface surface = EGL_NO_SURFACE;
    int kind = 0;
    int wantSamples = 0;
    LVPort* port = nullptr;

    bool bufferRectEnabled = false;
    int bufferRect[4] = {0, 0, 0, 0};
    int canvasRect[4] = {0, 0, 0, 0};   // the rectangle the canvas was made for

    // Canvas: multisampled or not; resolve: single-sampled copy for presenting.
    GLuint canvasFbo = 0, canvasColor = 0, canvasDepth = 0;
    GLuint resolveFbo = 0, resolveColor = 0;
    int canvasWidth = 0, canvasHeight = 0, canvasSamples = 0;

    std::vector<unsigned char> readBack;
};

namespace {

bool fail(std::string& error, const char* message) {
    error = message;
    return false;
}

// Framebuffer-object entry points; fetched once, they are the same for every
// context of the process.
struct FboApi {
    bool loaded = false;
    PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
    PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers = nullptr;
    PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
    PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
    PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers = nullptr;
    PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
    PFNGLRENDERBUFFERSTORAGEMULTISAMPLEPROC renderbufferStorageMultisample = nullptr;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;
    PFNGLBLITFRAMEBUFFERPROC blitFramebuffer = nullptr;
};

FboApi gFbo;

template <typename T>
void load(T& fn, const char* name) {
    fn = reinterpret_cast<T>(eglGetProcAddress(name));
}

bool loadFboApi() {
    if (gFbo.loaded) return true;
    load(gFbo.genFramebuffers, "glGenFramebuffers");
    load(gFbo.deleteFramebuffers, "glDeleteFramebuffers");
    load(gFbo.bindFramebuffer, "glBindFramebuffer");
    load(gFbo.genRenderbuffers, "glGenRenderbuffers");
    load(gFbo.deleteRenderbuffers, "glDeleteRenderbuffers");
    load(gFbo.bindRenderbuffer, "glBindRenderbuffer");
    load(gFbo.renderbufferStorageMultisample, "glRenderbufferStorageMultisample");
    load(gFbo.framebufferRenderbuffer, "glFramebufferRenderbuffer");
    load(gFbo.checkFramebufferStatus, "glCheckFramebufferStatus");
    load(gFbo.blitFramebuffer, "glBlitFramebuffer");
    gFbo.loaded = gFbo.genFramebuffers && gFbo.deleteFramebuffers && gFbo.bindFramebuffer &&
                  gFbo.genRenderbuffers && gFbo.deleteRenderbuffers && gFbo.bindRenderbuffer &&
                  gFbo.renderbufferStorageMultisample && gFbo.framebufferRenderbuffer &&
                  gFbo.checkFramebufferStatus && gFbo.blitFramebuffer;
    return gFbo.loaded;
}

// X errors (a window that went away) must not end the host's process through
// the default handler; they are caught around the few requests made here.
bool gXErrorSeen = false;
int catchXError(Display*, XErrorEvent*) {
    gXErrorSeen = true;
    return 0;
}

bool windowAttributes(const LVPort* port, XWindowAttributes* attrs) {
    Display* dpy = static_cast<Display*>(port->x11Display);
    if (!dpy || !port->x11Window) return false;
    XSync(dpy, False);
    gXErrorSeen = false;
    auto previous = XSetErrorHandler(catchXError);
    Status ok = XGetWindowAttributes(dpy, port->x11Window, attrs);
    XSync(dpy, False);
    XSetErrorHandler(previous);
    return ok && !gXErrorSeen;
}

EGLDisplay openDisplay(const LVPort* port, std::string& error) {
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
        fail(error, "EGL lacks eglGetPlatformDisplayEXT: install libegl-mesa0");
        return EGL_NO_DISPLAY;
    }
    EGLDisplay display = EGL_NO_DISPLAY;
    if (port->kind == LV_PORT_X11_WINDOW) {
        if (!port->x11Display) {
            fail(error, "X11 window port without a Display: open the display before show");
            return EGL_NO_DISPLAY;
        }
        display = getPlatformDisplay(EGL_PLATFORM_X11_KHR, port->x11Display, nullptr);
    } else {
        display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    }
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) {
        fail(error, port->kind == LV_PORT_X11_WINDOW
                 ? "cannot start EGL on the X11 display: check DISPLAY and install libegl-mesa0"
                 : "cannot open Mesa's surfaceless EGL display: install libegl-mesa0 and libgl1-mesa-dri");
        return EGL_NO_DISPLAY;
    }
    return display;
}

bool chooseConfig(EGLDisplay display, EGLint surfaceType, int samples, VisualID visual, EGLConfig* out) {
    const EGLint attrs[] = {EGL_SURFACE_TYPE,    surfaceType,     EGL_RED_SIZE,       8,
                            EGL_GREEN_SIZE,      8,               EGL_BLUE_SIZE,      8,
                            EGL_DEPTH_SIZE,      24,              EGL_SAMPLE_BUFFERS, samples ? 1 : 0,
                            EGL_SAMPLES,         samples,         EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                            EGL_NONE};
    EGLint count = 0;
    if (!eglChooseConfig(display, attrs, nullptr, 0, &count) || count <= 0) return false;
    std::vector<EGLConfig> configs(count);
    if (!eglChooseConfig(display, attrs, configs.data(), count, &count) || count <= 0) return false;
    if (!visual) {
        *out = configs[0];
        return true;
    }
    // A window surface must use the window's own visual.
    for (EGLint i = 0; i < count; ++i) {
        EGLint id = 0;
        if (eglGetConfigAttrib(display, configs[i], EGL_NATIVE_VISUAL_ID, &id) && VisualID(id) == visual) {
            *out = configs[i];
            return true;
        }
    }
    return false;
}

void deleteCanvas(Context* c) {
    if (!gFbo.loaded) return;
    if (c->canvasFbo) gFbo.deleteFramebuffers(1, &c->canvasFbo);
    if (c->resolveFbo) gFbo.deleteFramebuffers(1, &c->resolveFbo);
    GLuint rbs[3] = {c->canvasColor, c->canvasDepth, c->resolveColor};
    for (GLuint rb : rbs)
        if (rb) gFbo.deleteRenderbuffers(1, &rb);
    c->canvasFbo = c->resolveFbo = c->canvasColor = c->canvasDepth = c->resolveColor = 0;
    c->canvasWidth = c->canvasHeight = c->canvasSamples = 0;
}

GLuint makeRenderbuffer(int samples, GLenum format, int w, int h) {
    GLuint rb = 0;
    gFbo.genRenderbuffers(1, &rb);
    gFbo.bindRenderbuffer(GL_RENDERBUFFER, rb);
    gFbo.renderbufferStorageMultisample(GL_RENDERBUFFER, samples, format, w, h);
    return rb;
}

bool makeCanvas(Context* c, int w, int h, int samples) {
    while (glGetError() != GL_NO_ERROR) {}
    gFbo.genFramebuffers(1, &c->canvasFbo);
    gFbo.bindFramebuffer(GL_FRAMEBUFFER, c->canvasFbo);
    c->canvasColor = makeRenderbuffer(samples, GL_RGBA8, w, h);
    gFbo.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, c->canvasColor);
    c->canvasDepth = makeRenderbuffer(samples, GL_DEPTH_COMPONENT24, w, h);
    gFbo.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, c->canvasDepth);
    bool ok = gFbo.checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (ok && samples > 0) {
        gFbo.genFramebuffers(1, &c->resolveFbo);
        gFbo.bindFramebuffer(GL_FRAMEBUFFER, c->resolveFbo);
        c->resolveColor = makeRenderbuffer(0, GL_RGBA8, w, h);
        gFbo.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, c->resolveColor);
        ok = gFbo.checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    }
    ok = ok && glGetError() == GL_NO_ERROR;
    if (!ok) {
        deleteCanvas(c);
        return false;
    }
    c->canvasWidth = w;
    c->canvasHeight = h;
    c->canvasSamples = samples;
    gFbo.bindFramebuffer(GL_FRAMEBUFFER, c->canvasFbo);
    // A new canvas starts transparent black rather than with whatever memory held.
    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_SCISSOR_BIT);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glClearColor(0, 0, 0, 0);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPopAttrib();
    return true;
}

bool isCurrent(const Context* c) { return eglGetCurrentContext() == c->context; }

bool ensureCurrent(Context* c, std::string& error) { return isCurrent(c) || makeCurrent(c, error); }

}  // namespace

bool portSize(const LVPort* port, int* width, int* height, std::string& error) {
    if (!port) return fail(error, "no port: the host must pass an LVPort with show");
    int w = 0, h = 0;
    if (port->kind == LV_PORT_OFFSCREEN) {
        w = port->width;
        h = port->height;
    } else if (port->kind == LV_PORT_X11_WINDOW) {
        XWindowAttributes attrs;
        if (!windowAttributes(port, &attrs)) return fail(error, "the port's X11 window cannot be queried: it may be gone");
        w = attrs.width;
        h = attrs.height;
    } else {
        return fail(error, "unknown port kind: use LV_PORT_X11_WINDOW or LV_PORT_OFFSCREEN");
    }
    if (w <= 0 || h <= 0) return fail(error, "the port is empty: give it a positive width and height");
    *width = w;
    *height = h;
    return true;
}

bool screenInfo(const LVPort* port, int* width, int* height, int* depth, std::string& error) {
    if (port && port->kind == LV_PORT_OFFSCREEN) {
        if (port->width <= 0 || port->height <= 0) return fail(error, "the port is empty: give it a positive width and height");
        *width = port->width;
        *height = port->height;
        *depth = 32;
        return true;
    }
    if (port && port->kind != LV_PORT_X11_WINDOW)
        return fail(error, "unknown port kind: use LV_PORT_X11_WINDOW or LV_PORT_OFFSCREEN");
    Display* dpy = port ? static_cast<Display*>(port->x11Display) : XOpenDisplay(nullptr);
    if (!dpy) return fail(error, "no X display: set DISPLAY or use an offscreen port");
    const int screen = DefaultScreen(dpy);
    *width = DisplayWidth(dpy, screen);
    *height = DisplayHeight(dpy, screen);
    *depth = DefaultDepth(dpy, screen);
    if (!port) XCloseDisplay(dpy);
    return true;
}

PixelFormat* choosePixelFormat(const LVPort* port, bool multisample, std::string& error) {
    if (!port) {
        fail(error, "no port: the host must pass an LVPort with show");
        return nullptr;
    }
    if (port->kind != LV_PORT_X11_WINDOW && port->kind != LV_PORT_OFFSCREEN) {
        fail(error, "unknown port kind: use LV_PORT_X11_WINDOW or LV_PORT_OFFSCREEN");
        return nullptr;
    }
    EGLDisplay display = openDisplay(port, error);
    if (display == EGL_NO_DISPLAY) return nullptr;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        fail(error, "EGL cannot bind desktop OpenGL: install libgl1-mesa-dri");
        return nullptr;
    }
    EGLint surfaceType = EGL_PBUFFER_BIT;
    VisualID visual = 0;
    if (port->kind == LV_PORT_X11_WINDOW) {
        XWindowAttributes attrs;
        if (!windowAttributes(port, &attrs)) {
            fail(error, "the port's X11 window cannot be queried: it may be gone");
            return nullptr;
        }
        surfaceType = EGL_WINDOW_BIT;
        visual = XVisualIDFromVisual(attrs.visual);
    }
    // The surface itself is never multisampled (drawing goes to the canvas);
    // a multisampled configuration only tells that the driver can do it.
    EGLConfig probe;
    if (multisample && !chooseConfig(display, EGL_PBUFFER_BIT, 4, 0, &probe) &&
        !chooseConfig(display, EGL_WINDOW_BIT, 4, 0, &probe)) {
        fail(error, "the driver has no 4-sample formats: antialiasing is not available");
        return nullptr;
    }
    EGLConfig config;
    if (!chooseConfig(display, surfaceType, 0, visual, &config)) {
        fail(error, "no RGBA / depth-24 OpenGL format for this port: install libgl1-mesa-dri");
        return nullptr;
    }
    auto* f = new PixelFormat;
    f->display = display;
    f->config = config;
    f->kind = port->kind;
    f->samples = multisample ? 4 : 0;
    return f;
}

void destroyPixelFormat(PixelFormat* format) { delete format; }

Context* createContext(const PixelFormat* format, std::string& error) {
    if (!format) {
        fail(error, "no pixel format: choose one first");
        return nullptr;
    }
    eglBindAPI(EGL_OPENGL_API);
    const EGLint attrs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                            EGL_NONE};
    EGLContext ctx = eglCreateContext(format->display, format->config, EGL_NO_CONTEXT, attrs);
    if (ctx == EGL_NO_CONTEXT) {
        fail(error, "EGL cannot create a compatibility-profile OpenGL context");
        return nullptr;
    }
    auto* c = new Context;
    c->display = format->display;
    c->config = format->config;
    c->context = ctx;
    c->kind = format->kind;
    c->wantSamples = format->samples;
    return c;
}

bool setDrawable(Context* c, LVPort* port, std::string& error) {
    if (!c) return fail(error, "no context: create one first");
    if (c->surface != EGL_NO_SURFACE) {
        if (isCurrent(c)) eglMakeCurrent(c->display, EGL_NO_SURFACE, EGL_NO_SURFACE, c->context);
        eglDestroySurface(c->display, c->surface);
        c->surface = EGL_NO_SURFACE;
    }
    c->port = nullptr;
    if (!port) return true;
    if (port->kind != c->kind) return fail(error, "the port is not of the kind the pixel format was chosen for");
    int w, h;
    if (!portSize(port, &w, &h, error)) return false;
    if (port->kind == LV_PORT_X11_WINDOW) {
        EGLNativeWindowType window = static_cast<EGLNativeWindowType>(port->x11Window);
        c->surface = eglCreateWindowSurface(c->display, c->config, window, nullptr);
        if (c->surface == EGL_NO_SURFACE) return fail(error, "EGL cannot make a surface on the X11 window");
    }
    c->port = port;
    return true;
}

bool makeCurrent(Context* c, std::string& error) {
    if (!c) {
        EGLDisplay current = eglGetCurrentDisplay();
        if (current != EGL_NO_DISPLAY) eglMakeCurrent(current, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        return true;
    }
    // Offscreen contexts, and any context not yet attached, live without a
    // surface: everything they draw goes to the canvas.
    if (!eglMakeCurrent(c->display, c->surface, c->surface, c->context))
        return fail(error, "EGL cannot make the context current");
    if (!loadFboApi()) return fail(error, "the driver has no framebuffer objects (OpenGL 3.0): install libgl1-mesa-dri");
    if (c->canvasFbo) gFbo.bindFramebuffer(GL_FRAMEBUFFER, c->canvasFbo);
    return true;
}

bool updateContext(Context* c, std::string& error) {
    if (!c) return fail(error, "no context: create one first");
    if (!c->port) return fail(error, "the context has no port: attach it first");
    int pw, ph;
    if (!portSize(c->port, &pw, &ph, error)) return false;
    int rect[4] = {0, 0, pw, ph};
    if (c->bufferRectEnabled) std::copy_n(c->bufferRect, 4, rect);
    if (rect[2] <= 0 || rect[3] <= 0) return fail(error, "the canvas rectangle is empty: give the canvas a positive size");
    if (!ensureCurrent(c, error)) return false;
    GLint maxSize = 0, maxDims[2] = {0, 0}, maxSamples = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxSize);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, maxDims);
    glGetIntegerv(GL_MAX_SAMPLES, &maxSamples);
    if (rect[2] > std::min(maxSize, maxDims[0]) || rect[3] > std::min(maxSize, maxDims[1]))
        return fail(error, "the canvas is larger than the driver can draw: make the window smaller");
    int samples = std::min(c->wantSamples, int(maxSamples));
    if (c->canvasFbo && c->canvasWidth == rect[2] && c->canvasHeight == rect[3] &&
        c->canvasSamples == samples) {
        std::copy_n(rect, 4, c->canvasRect);
        gFbo.bindFramebuffer(GL_FRAMEBUFFER, c->canvasFbo);
        return true;
    }
    deleteCanvas(c);
    // Multisampling falls back to a plain canvas where the driver refuses it.
    if (!makeCanvas(c, rect[2], rect[3], samples) && (samples == 0 || !makeCanvas(c, rect[2], rect[3], 0)))
        return fail(error, "the driver cannot make a canvas framebuffer of this size");
    std::copy_n(rect, 4, c->canvasRect);
    return true;
}

bool setSwapInterval(Context* c, int interval, std::string& error) {
    if (!c) return fail(error, "no context: create one first");
    if (c->kind != LV_PORT_X11_WINDOW) return true;
    if (!ensureCurrent(c, error)) return false;
    if (!eglSwapInterval(c->display, interval)) return fail(error, "EGL refuses the swap interval");
    return true;
}

bool enableBufferRect(Context* c, std::string& error) {
    if (!c) return fail(error, "no context: create one first");
    c->bufferRectEnabled = true;
    return true;
}

bool setBufferRect(Context* c, const int rect[4], std::string& error) {
    if (!c) return fail(error, "no context: create one first");
    if (rect[2] <= 0 || rect[3] <= 0) return fail(error, "the buffer rectangle is empty: give the canvas a positive size");
    std::copy_n(rect, 4, c->bufferRect);
    return true;
}

bool getBufferRect(const Context* c, int rect[4], std::string& error) {
    if (!c || !c->port) return fail(error, "the context has no port: attach it first");
    if (c->bufferRectEnabled) {
        std::copy_n(c->bufferRect, 4, rect);
        return true;
    }
    int w, h;
    if (!portSize(c->port, &w, &h, error)) return false;
    rect[0] = rect[1] = 0;
    rect[2] = w;
    rect[3] = h;
    return true;
}

int canvasSamples(const Context* c) { return c ? c->canvasSamples : 0; }

bool swapBuffers(Context* c, std::string& error) {
    if (!c) return fail(error, "no context: send show first");
    if (!c->port || !c->canvasFbo) return fail(error, "the context has no canvas: attach it to a port and update it");
    if (!ensureCurrent(c, error)) return false;
    const int w = c->canvasWidth, h = c->canvasHeight;
    const int x0 = c->canvasRect[0], y0 = c->canvasRect[1];

    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_SCISSOR_BIT);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);

    GLuint source = c->canvasFbo;
    if (c->canvasSamples > 0) {
        gFbo.bindFramebuffer(GL_READ_FRAMEBUFFER, c->canvasFbo);
        gFbo.bindFramebuffer(GL_DRAW_FRAMEBUFFER, c->resolveFbo);
        gFbo.blitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        source = c->resolveFbo;
    }

    bool ok = true;
    if (c->kind == LV_PORT_X11_WINDOW) {
        // The window outside the canvas belongs to no one here: keep it black
        // rather than showing stale back-buffer memory.
        gFbo.bindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        glDrawBuffer(GL_BACK);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        gFbo.bindFramebuffer(GL_READ_FRAMEBUFFER, source);
        gFbo.blitFramebuffer(0, 0, w, h, x0, y0, x0 + w, y0 + h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        ok = eglSwapBuffers(c->display, c->surface) || fail(error, "EGL cannot present the frame to the window");
    } else {
        LVPort* port = c->port;
        if (port->pixels && port->width > 0 && port->height > 0) {
            c->readBack.resize(size_t(w) * h * 4);
            gFbo.bindFramebuffer(GL_READ_FRAMEBUFFER, source);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glPixelStorei(GL_PACK_ROW_LENGTH, 0);
            glPixelStorei(GL_PACK_SKIP_ROWS, 0);
            glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
            glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, c->readBack.data());
            // Canvas row r (from the bottom) lands on port row height-1-(y0+r),
            // clipped to the port as it is now: the host may have shrunk it.
            const int colStart = std::max(0, -x0), colEnd = std::min(w, port->width - x0);
            for (int r = 0; r < h && colEnd > colStart; ++r) {
                const int portRow = port->height - 1 - (y0 + r);
                if (portRow < 0 || portRow >= port->height) continue;
                std::memcpy(port->pixels + (size_t(portRow) * port->width + x0 + colStart) * 4,
                            c->readBack.data() + (size_t(r) * w + colStart) * 4, size_t(colEnd - colStart) * 4);
            }
        }
        ++port->frameCount;
    }

    gFbo.bindFramebuffer(GL_FRAMEBUFFER, c->canvasFbo);
    glPopClientAttrib();
    glPopAttrib();
    return ok;
}

void destroyContext(Context* c) {
    if (!c) return;
    std::string ignored;   // a canvas that cannot be reached goes with the context
    if (c->canvasFbo && ensureCurrent(c, ignored)) deleteCanvas(c);
    if (isCurrent(c)) eglMakeCurrent(c->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (c->surface != EGL_NO_SURFACE) eglDestroySurface(c->display, c->surface);
    eglDestroyContext(c->display, c->context);
    delete c;
}

}  // namespace lvgl
