// EGL contexts on LVPorts. See lv/gl_context.h for the life of a context.
//
// All drawing goes into a canvas framebuffer object rather than the surface:
// window systems here have no equivalent of a buffer rectangle, and the
// surfaceless platform has no surface at all. Presenting is a blit (window)
// or a read-back (offscreen) of the canvas at the rectangle.
//
// A host's current context (LV_PORT_CURRENT_CONTEXT) is none of this: the
// context, its framebuffer and its state are the host's. Such a Context only
// remembers the canvas rectangle and confines the drawing to it whenever the
// plug-in makes it "current", and it never releases the host's context.
//
// A pipelined read-back (the port's frameReady) reads each frame into a
// pixel buffer object and fences it; the buffer is mapped and handed over
// LV_PORT_FRAME_LAG swaps later, by which time the driver has long copied
// it, so the swap never waits for the copy and the host reads the mapped
// bytes in place, with no copy of its own.
#include "lv/gl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace lvgl {

struct PixelFormat {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLConfig config = nullptr;
    int kind = 0;
    int samples = 0;   // wanted for the canvas
    Api api = Api::DESKTOP_GL;
};

struct Context {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLConfig config = nullptr;
    EGLContext context = EGL_NO_CONTEXT;
    EGLSurface surface = EGL_NO_SURFACE;
    int kind = 0;
    int wantSamples = 0;
    Api api = Api::DESKTOP_GL;
    LVPort* port = nullptr;

    bool bufferRectEnabled = false;
    int bufferRect[4] = {0, 0, 0, 0};
    int canvasRect[4] = {0, 0, 0, 0};   // the rectangle the canvas was made for

    // Canvas: multisampled or not; resolve: single-sampled copy for presenting.
    GLuint canvasFbo = 0, canvasColor = 0, canvasDepth = 0;
    GLuint resolveFbo = 0, resolveColor = 0;
    int canvasWidth = 0, canvasHeight = 0, canvasSamples = 0;

    std::vector<unsigned char> readBack;

    // The pipelined read-back's ring, in the order the frames were read.
    struct Slot {
        enum State { FREE, READING, OUT };   // OUT: mapped, with the host
        State state = FREE;
        GLuint buffer = 0;
        size_t bytes = 0;
        GLsync fence = nullptr;
        unsigned long index = 0;
        int width = 0, height = 0;
        // A frame handed over in memory (swapBuffers with a frame) instead
        // of read into `buffer`.
        bool inMemory = false;
        std::vector<unsigned char> memory;
    };
    Slot slots[LV_PORT_FRAMES_IN_FLIGHT];
    int nextSlot = 0;
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

// Pixel buffer objects and fences (OpenGL 3.2), for the pipelined read-back.
struct BufferApi {
    bool tried = false, loaded = false;
    PFNGLGENBUFFERSPROC genBuffers = nullptr;
    PFNGLDELETEBUFFERSPROC deleteBuffers = nullptr;
    PFNGLBINDBUFFERPROC bindBuffer = nullptr;
    PFNGLBUFFERDATAPROC bufferData = nullptr;
    PFNGLMAPBUFFERRANGEPROC mapBufferRange = nullptr;
    PFNGLUNMAPBUFFERPROC unmapBuffer = nullptr;
    PFNGLFENCESYNCPROC fenceSync = nullptr;
    PFNGLCLIENTWAITSYNCPROC clientWaitSync = nullptr;
    PFNGLDELETESYNCPROC deleteSync = nullptr;
};

BufferApi gBuf;

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

bool loadBufferApi() {
    if (gBuf.tried) return gBuf.loaded;
    gBuf.tried = true;
    load(gBuf.genBuffers, "glGenBuffers");
    load(gBuf.deleteBuffers, "glDeleteBuffers");
    load(gBuf.bindBuffer, "glBindBuffer");
    load(gBuf.bufferData, "glBufferData");
    load(gBuf.mapBufferRange, "glMapBufferRange");
    load(gBuf.unmapBuffer, "glUnmapBuffer");
    load(gBuf.fenceSync, "glFenceSync");
    load(gBuf.clientWaitSync, "glClientWaitSync");
    load(gBuf.deleteSync, "glDeleteSync");
    gBuf.loaded = gBuf.genBuffers && gBuf.deleteBuffers && gBuf.bindBuffer && gBuf.bufferData &&
                  gBuf.mapBufferRange && gBuf.unmapBuffer && gBuf.fenceSync && gBuf.clientWaitSync &&
                  gBuf.deleteSync;
    return gBuf.loaded;
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

bool chooseConfig(EGLDisplay display, EGLint surfaceType, int samples, VisualID visual, EGLConfig* out,
                  EGLint renderable = EGL_OPENGL_BIT);

bool hasExtension(const char* list, const char* name) {
    if (!list) return false;
    const std::string padded = std::string(" ") + list + " ";
    return padded.find(std::string(" ") + name + " ") != std::string::npos;
}

// The hardware device offscreen contexts draw on, initialised; none when the
// machine has only Mesa's software renderer (or EGL cannot list devices).
EGLDisplay openHardwareDevice(PFNEGLGETPLATFORMDISPLAYEXTPROC getPlatformDisplay) {
    const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!hasExtension(client, "EGL_EXT_device_enumeration") || !hasExtension(client, "EGL_EXT_platform_device"))
        return EGL_NO_DISPLAY;
    auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    auto queryString =
        reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(eglGetProcAddress("eglQueryDeviceStringEXT"));
    EGLint count = 0;
    if (!queryDevices || !queryString || !queryDevices(0, nullptr, &count) || count <= 0) return EGL_NO_DISPLAY;
    std::vector<EGLDeviceEXT> devices(count);
    if (!queryDevices(count, devices.data(), &count)) return EGL_NO_DISPLAY;
    std::vector<DeviceInfo> infos;
    for (EGLint i = 0; i < count; ++i) {
        DeviceInfo info;
        const char* extensions = queryString(devices[i], EGL_EXTENSIONS);
        if (extensions) info.extensions = extensions;
        if (hasExtension(extensions, "EGL_EXT_device_query_name")) {
            const char* name = queryString(devices[i], EGL_RENDERER_EXT);
            if (name) info.name = name;
        }
        const char* file = hasExtension(extensions, "EGL_EXT_device_drm_render_node")
                               ? queryString(devices[i], EGL_DRM_RENDER_NODE_FILE_EXT)
                               : nullptr;
        if (!file && hasExtension(extensions, "EGL_EXT_device_drm"))
            file = queryString(devices[i], EGL_DRM_DEVICE_FILE_EXT);
        if (file) info.drmFile = file;
        infos.push_back(info);
    }
    const char* softwareOnly = std::getenv("LIBGL_ALWAYS_SOFTWARE");
    const int chosen = chooseDevice(infos, softwareOnly && *softwareOnly && std::strcmp(softwareOnly, "0") != 0);
    if (chosen < 0) return EGL_NO_DISPLAY;
    EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[chosen], nullptr);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) return EGL_NO_DISPLAY;
    // Offscreen contexts live without a surface; a device that cannot do
    // that, or has no format here, leaves the work to the software renderer.
    EGLConfig probe;
    if (!hasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context") ||
        !chooseConfig(display, EGL_PBUFFER_BIT, 0, 0, &probe))
        return EGL_NO_DISPLAY;
    return display;
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
        display = openHardwareDevice(getPlatformDisplay);
        if (display != EGL_NO_DISPLAY) return display;
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

bool chooseConfig(EGLDisplay display, EGLint surfaceType, int samples, VisualID visual, EGLConfig* out,
                  EGLint renderable) {
    const EGLint attrs[] = {EGL_SURFACE_TYPE,    surfaceType,     EGL_RED_SIZE,       8,
                            EGL_GREEN_SIZE,      8,               EGL_BLUE_SIZE,      8,
                            EGL_DEPTH_SIZE,      24,              EGL_SAMPLE_BUFFERS, samples ? 1 : 0,
                            EGL_SAMPLES,         samples,         EGL_RENDERABLE_TYPE, renderable,
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

// What the canvas's clear and the swap change of the drawing's state, put
// back when they are done. Desktop contexts keep it on GL's attribute stacks;
// ES has none, so there it is read and set again one item at a time.
class SavedState {
public:
    explicit SavedState(Api api) : mApi(api) {
        if (mApi == Api::DESKTOP_GL) {
            glPushAttrib(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_SCISSOR_BIT);
            glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
            return;
        }
        mScissor = glIsEnabled(GL_SCISSOR_TEST);
        glGetBooleanv(GL_COLOR_WRITEMASK, mColorMask);
        glGetBooleanv(GL_DEPTH_WRITEMASK, &mDepthMask);
        glGetFloatv(GL_COLOR_CLEAR_VALUE, mClearColor);
        for (int i = 0; i < 4; ++i) glGetIntegerv(kPack[i], &mPack[i]);
    }
    ~SavedState() {
        if (mApi == Api::DESKTOP_GL) {
            glPopClientAttrib();
            glPopAttrib();
            return;
        }
        if (mScissor) glEnable(GL_SCISSOR_TEST); else glDisable(GL_SCISSOR_TEST);
        glColorMask(mColorMask[0], mColorMask[1], mColorMask[2], mColorMask[3]);
        glDepthMask(mDepthMask);
        glClearColor(mClearColor[0], mClearColor[1], mClearColor[2], mClearColor[3]);
        for (int i = 0; i < 4; ++i) glPixelStorei(kPack[i], mPack[i]);
    }
    SavedState(const SavedState&) = delete;
    SavedState& operator=(const SavedState&) = delete;

private:
    static constexpr GLenum kPack[4] = {GL_PACK_ALIGNMENT, GL_PACK_ROW_LENGTH, GL_PACK_SKIP_ROWS, GL_PACK_SKIP_PIXELS};
    Api mApi;
    GLboolean mScissor = GL_FALSE, mColorMask[4] = {}, mDepthMask = GL_TRUE;
    GLfloat mClearColor[4] = {};
    GLint mPack[4] = {};
};

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
    // (The clear depth is GL's default, 1, in either API: nothing here sets it.)
    SavedState saved(c->api);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    return true;
}

// Frame `s` to the host: waits for its copy (finished by now, frames later),
// maps it and hands the mapped rows over, top row first; a frame in memory
// goes as it is.
void deliver(Context* c, Context::Slot& s) {
    LVPort* port = c->port;
    const long stride = long(s.width) * 4;
    if (s.inMemory) {
        s.state = Context::Slot::FREE;
        if (!port || !port->frameReady) return;
        s.state = Context::Slot::OUT;
        port->frameReady(port->frameUser, s.memory.data() + (s.height - 1) * stride, s.width, s.height, -stride,
                         s.index);
        return;
    }
    GLenum waited = gBuf.clientWaitSync(s.fence, GL_SYNC_FLUSH_COMMANDS_BIT, 10000000000ull);   // 10 s
    gBuf.deleteSync(s.fence);
    s.fence = nullptr;
    s.state = Context::Slot::FREE;
    if (waited == GL_TIMEOUT_EXPIRED || waited == GL_WAIT_FAILED || !port || !port->frameReady) return;
    gBuf.bindBuffer(GL_PIXEL_PACK_BUFFER, s.buffer);
    auto* bytes = static_cast<const unsigned char*>(
        gBuf.mapBufferRange(GL_PIXEL_PACK_BUFFER, 0, GLsizeiptr(s.bytes), GL_MAP_READ_BIT));
    gBuf.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    if (!bytes) return;
    s.state = Context::Slot::OUT;
    port->frameReady(port->frameUser, bytes + (s.height - 1) * stride, s.width, s.height, -stride, s.index);
}

// Takes frame `s` back from the host once it is done with it.
void release(Context* c, Context::Slot& s) {
    if (s.state != Context::Slot::OUT) return;
    if (c->port && c->port->frameWait) c->port->frameWait(c->port->frameUser, s.index);
    if (!s.inMemory) {
        gBuf.bindBuffer(GL_PIXEL_PACK_BUFFER, s.buffer);
        gBuf.unmapBuffer(GL_PIXEL_PACK_BUFFER);
        gBuf.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    }
    s.state = Context::Slot::FREE;
}

// Every frame still on its way goes to the host, and comes back; with
// `free`, the buffers go too. The context is current.
// (Without the buffer API only frames in memory can be in the ring, and
// they need none of it.)
void drainReadBack(Context* c, bool free) {
    for (int i = 0; i < LV_PORT_FRAMES_IN_FLIGHT; ++i) {
        Context::Slot& s = c->slots[(c->nextSlot + i) % LV_PORT_FRAMES_IN_FLIGHT];
        if (s.state == Context::Slot::READING) deliver(c, s);
    }
    for (int i = 0; i < LV_PORT_FRAMES_IN_FLIGHT; ++i)
        release(c, c->slots[(c->nextSlot + i) % LV_PORT_FRAMES_IN_FLIGHT]);
    if (!free) return;
    for (Context::Slot& s : c->slots) {
        if (s.buffer) gBuf.deleteBuffers(1, &s.buffer);
        s = Context::Slot();
    }
}

// The next slot of the ring, free for a frame: the one it held goes to the
// host first if it has not yet, and comes back.
Context::Slot& freeSlot(Context* c) {
    Context::Slot& s = c->slots[c->nextSlot];
    if (s.state == Context::Slot::READING) deliver(c, s);
    release(c, s);
    return s;
}

// Slot `s`, just filled with this frame, joins the ring; frames filled
// LV_PORT_FRAME_LAG swaps ago go to the host.
void queueSlot(Context* c, Context::Slot& s, int w, int h) {
    s.state = Context::Slot::READING;
    s.index = c->port->frameCount;
    s.width = w;
    s.height = h;
    c->nextSlot = (c->nextSlot + 1) % LV_PORT_FRAMES_IN_FLIGHT;
    for (int i = 0; i < LV_PORT_FRAMES_IN_FLIGHT; ++i) {
        Context::Slot& old = c->slots[(c->nextSlot + i) % LV_PORT_FRAMES_IN_FLIGHT];
        if (old.state == Context::Slot::READING && old.index + LV_PORT_FRAME_LAG <= s.index) deliver(c, old);
    }
}

// Starts reading the resolved canvas (bound for reading) into the next
// buffer of the ring, and hands over the frame read LV_PORT_FRAME_LAG swaps
// ago. False when the driver lacks pixel buffers.
bool readBackPipelined(Context* c, int w, int h) {
    if (!loadBufferApi()) return false;
    Context::Slot& s = freeSlot(c);
    const size_t bytes = size_t(w) * h * 4;
    if (!s.buffer) gBuf.genBuffers(1, &s.buffer);
    gBuf.bindBuffer(GL_PIXEL_PACK_BUFFER, s.buffer);
    if (s.bytes != bytes) gBuf.bufferData(GL_PIXEL_PACK_BUFFER, GLsizeiptr(bytes), nullptr, GL_STREAM_READ);
    s.bytes = bytes;
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    gBuf.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    s.fence = gBuf.fenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    s.inMemory = false;
    queueSlot(c, s, w, h);
    return true;
}

// Without pixel buffers: the same hand-over, at once.
void handOverAtOnce(Context* c, LVPort* port, int w, int h) {
    c->readBack.resize(size_t(w) * h * 4);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, c->readBack.data());
    const long stride = long(w) * 4;
    port->frameReady(port->frameUser, c->readBack.data() + (h - 1) * stride, w, h, -stride, port->frameCount);
    if (port->frameWait) port->frameWait(port->frameUser, port->frameCount);
}

// Canvas row r (from the bottom) lands on port row height-1-(y0+r), clipped
// to the port as it is now: the host may have shrunk it.
void readBackInto(Context* c, LVPort* port, int w, int h) {
    const int x0 = c->canvasRect[0], y0 = c->canvasRect[1];
    c->readBack.resize(size_t(w) * h * 4);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, c->readBack.data());
    const int colStart = std::max(0, -x0), colEnd = std::min(w, port->width - x0);
    for (int r = 0; r < h && colEnd > colStart; ++r) {
        const int portRow = port->height - 1 - (y0 + r);
        if (portRow < 0 || portRow >= port->height) continue;
        std::memcpy(port->pixels + (size_t(portRow) * port->width + x0 + colStart) * 4,
                    c->readBack.data() + (size_t(r) * w + colStart) * 4, size_t(colEnd - colStart) * 4);
    }
}

void noteRenderer(Context* c) {
    const char* name = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    if (!c->port || !name) return;
    std::strncpy(c->port->renderer, name, sizeof c->port->renderer - 1);
    c->port->renderer[sizeof c->port->renderer - 1] = 0;
}

// The last context made current here was a host's own (LV_PORT_CURRENT_CONTEXT):
// releasing "the current context" must then leave it alone.
bool gHostContextInUse = false;

bool isHostContext(const Context* c) { return c->kind == LV_PORT_CURRENT_CONTEXT; }

bool isCurrent(const Context* c) { return isHostContext(c) || eglGetCurrentContext() == c->context; }

// The canvas of a host's context is the rectangle of its framebuffer: the
// viewport, and the scissor so that clears stay inside it too.
void confineToCanvas(const Context* c) {
    if (c->canvasWidth <= 0 || c->canvasHeight <= 0) return;
    glViewport(c->canvasRect[0], c->canvasRect[1], c->canvasWidth, c->canvasHeight);
    glScissor(c->canvasRect[0], c->canvasRect[1], c->canvasWidth, c->canvasHeight);
    glEnable(GL_SCISSOR_TEST);
}

bool makeHostContextCurrent(Context* c, std::string& error) {
    // GL answers nothing without a current context, whichever window system made it.
    if (!glGetString(GL_VERSION))
        return fail(error, "no GL context is current: the host must make its own current before each message");
    gHostContextInUse = true;
    confineToCanvas(c);
    return true;
}

bool updateHostCanvas(Context* c, const int rect[4], std::string& error) {
    GLint maxDims[2] = {0, 0};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, maxDims);
    if (rect[2] > maxDims[0] || rect[3] > maxDims[1])
        return fail(error, "the canvas is larger than the driver can draw: make the host's viewport smaller");
    std::copy_n(rect, 4, c->canvasRect);
    c->canvasWidth = rect[2];
    c->canvasHeight = rect[3];
    noteRenderer(c);
    confineToCanvas(c);
    return true;
}

bool ensureCurrent(Context* c, std::string& error) { return isCurrent(c) || makeCurrent(c, error); }

}  // namespace

bool portSize(const LVPort* port, int* width, int* height, std::string& error) {
    if (!port) return fail(error, "no port: the host must pass an LVPort with show");
    int w = 0, h = 0;
    if (port->kind == LV_PORT_OFFSCREEN || port->kind == LV_PORT_CURRENT_CONTEXT) {
        w = port->width;
        h = port->height;
    } else if (port->kind == LV_PORT_X11_WINDOW) {
        XWindowAttributes attrs;
        if (!windowAttributes(port, &attrs)) return fail(error, "the port's X11 window cannot be queried: it may be gone");
        w = attrs.width;
        h = attrs.height;
    } else {
        return fail(error, "unknown port kind: use LV_PORT_X11_WINDOW, LV_PORT_OFFSCREEN or LV_PORT_CURRENT_CONTEXT");
    }
    if (w <= 0 || h <= 0) return fail(error, "the port is empty: give it a positive width and height");
    *width = w;
    *height = h;
    return true;
}

bool screenInfo(const LVPort* port, int* width, int* height, int* depth, std::string& error) {
    if (port && (port->kind == LV_PORT_OFFSCREEN || port->kind == LV_PORT_CURRENT_CONTEXT)) {
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
    return choosePixelFormat(port, multisample, Api::DESKTOP_GL, error);
}

PixelFormat* choosePixelFormat(const LVPort* port, bool multisample, Api api, std::string& error) {
    if (!port) {
        fail(error, "no port: the host must pass an LVPort with show");
        return nullptr;
    }
    if (port->kind == LV_PORT_CURRENT_CONTEXT) {
        // The host's context has the samples it was made with.
        if (multisample) {
            fail(error, "the host's own context decides its antialiasing: none can be asked for");
            return nullptr;
        }
        auto* f = new PixelFormat;
        f->kind = port->kind;
        f->api = api;
        return f;
    }
    if (port->kind != LV_PORT_X11_WINDOW && port->kind != LV_PORT_OFFSCREEN) {
        fail(error, "unknown port kind: use LV_PORT_X11_WINDOW, LV_PORT_OFFSCREEN or LV_PORT_CURRENT_CONTEXT");
        return nullptr;
    }
    EGLDisplay display = openDisplay(port, error);
    if (display == EGL_NO_DISPLAY) return nullptr;
    const bool es = api == Api::GLES3;
    if (!eglBindAPI(es ? EGL_OPENGL_ES_API : EGL_OPENGL_API)) {
        fail(error, es ? "EGL cannot bind OpenGL ES: install libgles2 and libgl1-mesa-dri"
                       : "EGL cannot bind desktop OpenGL: install libgl1-mesa-dri");
        return nullptr;
    }
    const EGLint renderable = es ? EGL_OPENGL_ES3_BIT_KHR : EGL_OPENGL_BIT;
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
    if (multisample && !chooseConfig(display, EGL_PBUFFER_BIT, 4, 0, &probe, renderable) &&
        !chooseConfig(display, EGL_WINDOW_BIT, 4, 0, &probe, renderable)) {
        fail(error, "the driver has no 4-sample formats: antialiasing is not available");
        return nullptr;
    }
    EGLConfig config;
    if (!chooseConfig(display, surfaceType, 0, visual, &config, renderable)) {
        fail(error, es ? "no RGBA / depth-24 OpenGL ES 3 format for this port: install libgl1-mesa-dri"
                       : "no RGBA / depth-24 OpenGL format for this port: install libgl1-mesa-dri");
        return nullptr;
    }
    auto* f = new PixelFormat;
    f->display = display;
    f->config = config;
    f->kind = port->kind;
    f->samples = multisample ? 4 : 0;
    f->api = api;
    return f;
}

void destroyPixelFormat(PixelFormat* format) { delete format; }

bool isSoftwareDevice(const DeviceInfo& device) {
    if (device.drmFile.empty() || hasExtension(device.extensions.c_str(), "EGL_MESA_device_software")) return true;
    for (const char* name : {"llvmpipe", "softpipe", "swrast"})
        if (device.name.find(name) != std::string::npos) return true;
    return false;
}

int chooseDevice(const std::vector<DeviceInfo>& devices, bool softwareOnly) {
    if (softwareOnly) return -1;
    for (size_t i = 0; i < devices.size(); ++i)
        if (!isSoftwareDevice(devices[i])) return int(i);
    return -1;
}

Context* createContext(const PixelFormat* format, std::string& error) {
    if (!format) {
        fail(error, "no pixel format: choose one first");
        return nullptr;
    }
    if (format->kind == LV_PORT_CURRENT_CONTEXT) {
        auto* c = new Context;
        c->kind = format->kind;
        c->api = format->api;
        return c;
    }
    const bool es = format->api == Api::GLES3;
    eglBindAPI(es ? EGL_OPENGL_ES_API : EGL_OPENGL_API);
    const EGLint desktopAttrs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                   EGL_NONE};
    const EGLint esAttrs[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0, EGL_NONE};
    EGLContext ctx = eglCreateContext(format->display, format->config, EGL_NO_CONTEXT, es ? esAttrs : desktopAttrs);
    if (ctx == EGL_NO_CONTEXT) {
        fail(error, es ? "EGL cannot create an OpenGL ES 3.0 context: install libgl1-mesa-dri (Mesa 20 or later)"
                       : "EGL cannot create a compatibility-profile OpenGL context");
        return nullptr;
    }
    auto* c = new Context;
    c->display = format->display;
    c->config = format->config;
    c->context = ctx;
    c->kind = format->kind;
    c->wantSamples = format->samples;
    c->api = format->api;
    return c;
}

bool setDrawable(Context* c, LVPort* port, std::string& error) {
    if (!c) return fail(error, "no context: create one first");
    std::string unreachable;   // a context that cannot be made current has nothing left to hand over
    if (c->port && ensureCurrent(c, unreachable)) drainReadBack(c, false);
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
    if (!c && gHostContextInUse) {
        gHostContextInUse = false;   // the host's context stays current: it is the host's to release
        return true;
    }
    if (!c) {
        EGLDisplay current = eglGetCurrentDisplay();
        if (current != EGL_NO_DISPLAY) eglMakeCurrent(current, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        return true;
    }
    // Offscreen contexts, and any context not yet attached, live without a
    // surface: everything they draw goes to the canvas.
    if (isHostContext(c)) return makeHostContextCurrent(c, error);
    gHostContextInUse = false;
    // EGL keeps a current context per client API: the call goes to this one's.
    eglBindAPI(c->api == Api::GLES3 ? EGL_OPENGL_ES_API : EGL_OPENGL_API);
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
    if (isHostContext(c)) return updateHostCanvas(c, rect, error);
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
        noteRenderer(c);
        return true;
    }
    noteRenderer(c);
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

Api contextApi(const Context* c) { return c ? c->api : Api::DESKTOP_GL; }

bool swapBuffers(Context* c, std::string& error) {
    if (!c) return fail(error, "no context: send show first");
    if (isHostContext(c)) {
        // The host presents its framebuffer when its own frame is done.
        if (!c->port) return fail(error, "the context has no port: attach it first");
        ++c->port->frameCount;
        return true;
    }
    if (!c->port || !c->canvasFbo) return fail(error, "the context has no canvas: attach it to a port and update it");
    if (!ensureCurrent(c, error)) return false;
    const int w = c->canvasWidth, h = c->canvasHeight;
    const int x0 = c->canvasRect[0], y0 = c->canvasRect[1];

    bool ok = true;
    SavedState saved(c->api);   // put back on the way out
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);

    GLuint source = c->canvasFbo;
    if (c->canvasSamples > 0) {
        gFbo.bindFramebuffer(GL_READ_FRAMEBUFFER, c->canvasFbo);
        gFbo.bindFramebuffer(GL_DRAW_FRAMEBUFFER, c->resolveFbo);
        gFbo.blitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        source = c->resolveFbo;
    }

    if (c->kind == LV_PORT_X11_WINDOW) {
        // The window outside the canvas belongs to no one here: keep it black
        // rather than showing stale back-buffer memory.
        gFbo.bindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        // (ES draws to the back buffer of a default framebuffer already.)
        if (c->api == Api::DESKTOP_GL) glDrawBuffer(GL_BACK);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        gFbo.bindFramebuffer(GL_READ_FRAMEBUFFER, source);
        gFbo.blitFramebuffer(0, 0, w, h, x0, y0, x0 + w, y0 + h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        ok = eglSwapBuffers(c->display, c->surface) || fail(error, "EGL cannot present the frame to the window");
    } else {
        LVPort* port = c->port;
        gFbo.bindFramebuffer(GL_READ_FRAMEBUFFER, source);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glPixelStorei(GL_PACK_ROW_LENGTH, 0);
        glPixelStorei(GL_PACK_SKIP_ROWS, 0);
        glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
        if (port->frameReady) {
            if (!readBackPipelined(c, w, h)) handOverAtOnce(c, port, w, h);
        } else if (port->pixels && port->width > 0 && port->height > 0) {
            readBackInto(c, port, w, h);
        }
        ++port->frameCount;
    }

    gFbo.bindFramebuffer(GL_FRAMEBUFFER, c->canvasFbo);
    return ok;
}

bool takesFramesInMemory(const Context* c, int width, int height) {
    return c && !isHostContext(c) && c->kind != LV_PORT_X11_WINDOW && c->port && c->port->frameReady &&
           c->canvasFbo && width > 0 && height > 0 && c->canvasWidth == width && c->canvasHeight == height;
}

bool swapBuffers(Context* c, std::vector<unsigned char>* frame, std::string& error) {
    const int w = c ? c->canvasWidth : 0, h = c ? c->canvasHeight : 0;
    if (!frame || frame->size() != size_t(w) * h * 4 || !takesFramesInMemory(c, w, h))
        return fail(error, "this frame cannot go to the host from memory: draw it into the canvas and swap that");
    if (!ensureCurrent(c, error)) return false;   // the ring's buffers belong to the context
    Context::Slot& s = freeSlot(c);
    s.memory.swap(*frame);
    s.inMemory = true;
    queueSlot(c, s, w, h);
    ++c->port->frameCount;
    return true;
}

void destroyContext(Context* c) {
    if (!c) return;
    if (isHostContext(c)) {
        delete c;   // nothing of the host's context was made here
        return;
    }
    std::string ignored;   // a canvas that cannot be reached goes with the context
    const bool holdsBuffers = std::any_of(std::begin(c->slots), std::end(c->slots),
                                          [](const Context::Slot& s) { return s.buffer != 0; });
    if ((c->canvasFbo || holdsBuffers) && ensureCurrent(c, ignored)) {
        drainReadBack(c, true);
        deleteCanvas(c);
    }
    if (isCurrent(c)) eglMakeCurrent(c->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (c->surface != EGL_NO_SURFACE) eglDestroySurface(c->display, c->surface);
    eglDestroyContext(c->display, c->context);
    delete c;
}

}  // namespace lvgl
