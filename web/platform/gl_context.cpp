// GL contexts on a page's canvas: lv/gl_context.h over Emscripten's WebGL
// 2 contexts. The page's only client API is OpenGL ES 3.0 (WebGL 2); the
// plug-in asks for it because the web host picks the gles renderer before
// "show". The browser presents the default framebuffer when the frame
// callback returns, so the canvas is that framebuffer: no canvas object, no
// read-back, and a swap only counts the frame.
#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <GLES3/gl3.h>

#include <cstring>

#include "lv/gl_context.h"
#include "web_canvas.h"

extern "C" {
// web_platform.js: the unmasked renderer name (WEBGL_debug_renderer_info),
// or the masked one, into out; the screen's size in device pixels.
void lv_web_gl_renderer(char* out, int capacity);
void lv_web_screen_size(int* width, int* height);
}

namespace lvweb {
bool gCanvasAlpha = false;
}  // namespace lvweb

namespace lvgl {

struct PixelFormat {
    std::string selector;
    bool multisample = false;
};

struct Context {
    EMSCRIPTEN_WEBGL_CONTEXT_HANDLE handle = 0;
    std::string selector;
    bool multisample = false;
    LVPort* port = nullptr;
    bool bufferRectOn = false;
    int bufferRect[4] = {0, 0, 0, 0};
};

namespace {

bool fail(std::string& error, const std::string& message) {
    error = message;
    return false;
}

bool isCanvasPort(const LVPort* port) {
    return port && port->kind == LV_PORT_WEB_CANVAS && port->webCanvas && *port->webCanvas;
}

}  // namespace

bool portSize(const LVPort* port, int* width, int* height, std::string& error) {
    if (!isCanvasPort(port)) return fail(error, "not a page canvas: the page's port is LV_PORT_WEB_CANVAS");
    if (emscripten_get_canvas_element_size(port->webCanvas, width, height) != EMSCRIPTEN_RESULT_SUCCESS)
        return fail(error, std::string("no canvas ") + port->webCanvas + " in the page");
    return true;
}

bool screenInfo(const LVPort* port, int* width, int* height, int* depth, std::string& error) {
    (void)port;
    (void)error;
    lv_web_screen_size(width, height);
    *depth = 32;
    return *width > 0 && *height > 0;
}

PixelFormat* choosePixelFormat(const LVPort* port, bool multisample, std::string& error) {
    return choosePixelFormat(port, multisample, Api::GLES3, error);
}

PixelFormat* choosePixelFormat(const LVPort* port, bool multisample, Api api, std::string& error) {
    if (!isCanvasPort(port)) {
        fail(error, "not a page canvas: the page's port is LV_PORT_WEB_CANVAS");
        return nullptr;
    }
    if (api != Api::GLES3) {
        fail(error, "a page has no desktop OpenGL: pick the gles renderer (WebGL 2)");
        return nullptr;
    }
    return new PixelFormat{port->webCanvas, multisample};
}

void destroyPixelFormat(PixelFormat* format) { delete format; }

bool isSoftwareDevice(const DeviceInfo& device) { return device.drmFile.empty(); }
int chooseDevice(const std::vector<DeviceInfo>&, bool) { return -1; }

Context* createContext(const PixelFormat* format, std::string& error) {
    if (!format) {
        fail(error, "no pixel format: choose one first");
        return nullptr;
    }
    EmscriptenWebGLContextAttributes attrs;
    emscripten_webgl_init_context_attributes(&attrs);
    attrs.majorVersion = 2;
    attrs.minorVersion = 0;
    attrs.alpha = lvweb::gCanvasAlpha;
    attrs.depth = true;
    attrs.antialias = format->multisample;
    attrs.powerPreference = EM_WEBGL_POWER_PREFERENCE_HIGH_PERFORMANCE;
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE handle = emscripten_webgl_create_context(format->selector.c_str(), &attrs);
    if (handle <= 0) {
        fail(error, "the browser gives no WebGL 2 context for " + format->selector +
                        ": enable WebGL 2 (hardware acceleration) in the browser");
        return nullptr;
    }
    return new Context{handle, format->selector, format->multisample};
}

bool setDrawable(Context* c, LVPort* port, std::string& error) {
    if (!c) return fail(error, "no context: create one first");
    if (port && (!isCanvasPort(port) || c->selector != port->webCanvas))
        return fail(error, "the context was made for canvas " + c->selector + ", not this port");
    c->port = port;
    if (port) {
        makeCurrent(c, error);
        lv_web_gl_renderer(port->renderer, int(sizeof port->renderer));
    }
    return true;
}

bool makeCurrent(Context* c, std::string& error) {
    if (emscripten_webgl_make_context_current(c ? c->handle : 0) != EMSCRIPTEN_RESULT_SUCCESS)
        return fail(error, "the WebGL context is lost: reload the page");
    return true;
}

bool updateContext(Context* c, std::string& error) {
    if (!c || !c->port) return fail(error, "no port: attach the context to one first");
    int w = 0, h = 0;
    if (!portSize(c->port, &w, &h, error)) return false;
    if (w <= 0 || h <= 0) return fail(error, "the canvas is empty: give it a size");
    return true;
}

bool setSwapInterval(Context* c, int, std::string& error) {
    // The browser paces frames with the display; there is nothing to set.
    return c ? true : fail(error, "no context: create one first");
}

bool enableBufferRect(Context* c, std::string& error) {
    if (!c) return fail(error, "no context: create one first");
    c->bufferRectOn = true;
    return true;
}

bool setBufferRect(Context* c, const int rect[4], std::string& error) {
    if (!c) return fail(error, "no context: create one first");
    std::memcpy(c->bufferRect, rect, sizeof c->bufferRect);
    return true;
}

bool getBufferRect(const Context* c, int rect[4], std::string& error) {
    if (!c || !c->port) return fail(error, "no port: attach the context to one first");
    if (c->bufferRectOn) {
        std::memcpy(rect, c->bufferRect, sizeof c->bufferRect);
        return true;
    }
    rect[0] = rect[1] = 0;
    return portSize(c->port, &rect[2], &rect[3], error);
}

bool swapBuffers(Context* c, std::string& error) {
    if (!c || !c->port) return fail(error, "no port: attach the context to one first");
    ++c->port->frameCount;
    return true;
}

// The page shows its frames on the canvas: none goes to the host as pixels.
bool takesFramesInMemory(const Context*, int, int) { return false; }

bool swapBuffers(Context*, std::vector<unsigned char>*, std::string& error) {
    return fail(error, "the page's canvas takes no frames from memory: draw into the canvas and swap that");
}

void destroyContext(Context* c) {
    if (!c) return;
    if (emscripten_webgl_get_current_context() == c->handle) emscripten_webgl_make_context_current(0);
    emscripten_webgl_destroy_context(c->handle);
    delete c;
}

int canvasSamples(const Context* c) { return c && c->multisample ? 4 : 0; }
Api contextApi(const Context* c) { return c ? Api::GLES3 : Api::DESKTOP_GL; }

}  // namespace lvgl
