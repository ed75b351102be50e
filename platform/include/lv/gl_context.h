/* GL contexts on a host's drawing port (lv/port.h), over EGL on Mesa.
 *
 * What it does. Makes a fixed-function (compatibility profile) OpenGL context
 * for an LVPort and presents its frames:
 *   - an X11 window port gets an EGL window surface (X11 platform), double
 *     buffered, presented with eglSwapBuffers at the chosen swap interval;
 *   - an offscreen port needs no window system (an EGL device, or Mesa's
 *     surfaceless platform): every swap copies the finished frame into the
 *     port's pixels, row 0 at the top, and increments the port's
 *     frameCount; with the port's frameReady set, the copy goes through a
 *     ring of pixel buffers instead and reaches the host a couple of swaps
 *     later (lv/port.h), so that no swap waits for the driver.
 *   - a current-context port (a media centre's add-on) gets no context of its
 *     own: the host's is current whenever the plug-in draws, and the canvas
 *     is the port's rectangle of the framebuffer the host has bound
 *     (viewport and scissor, set again by each makeCurrent); the swap
 *     presents nothing, and releasing the current context leaves the host's.
 * Offscreen contexts draw on a hardware device when the machine has one
 * (chooseDevice), else on Mesa's software renderer. Either way the port's
 * `renderer` names the driver once the context is attached.
 * In both cases the context draws into a canvas framebuffer object (RGBA8,
 * 24-bit depth, 4x multisampled when asked and the driver can) the size of
 * the buffer rectangle, so the viewport is (0, 0, width, height) of the canvas
 * and the swap blits the canvas into the port at the rectangle: nothing
 * outside it is drawn. Without a buffer rectangle the canvas is the whole port.
 *
 * The calls follow a context's life one step at a time, so that the caller
 * can report which step failed:
 *   choosePixelFormat -> createContext -> setDrawable -> makeCurrent ->
 *   updateContext -> setSwapInterval,  then per frame makeCurrent and
 *   swapBuffers; enableBufferRect / setBufferRect + updateContext whenever
 *   the canvas moves; destroyContext at the end.
 *
 * Who calls it. The plug-in's context code (plugin/src/iTunesGLUtils.cpp)
 * and tests; all on one thread, the host's.
 *
 * Failure. Every step that can fail takes `error` last and returns null or
 * false with `error` saying what went wrong and what to do about it ("no
 * context: create one first"); nothing else changes. On success `error` is
 * left as it was. Nothing is printed. EGL displays are opened once and kept
 * for the life of the process: hosts and other contexts may share them, so
 * they are never terminated here.
 */
#ifndef LV_GL_CONTEXT_H
#define LV_GL_CONTEXT_H

#include <string>
#include <vector>

#include "lv/port.h"

namespace lvgl {

struct PixelFormat;
struct Context;

// A format for `port`'s kind: RGBA, 24-bit depth, double buffered, and with
// `multisample` four samples per pixel. Null when the port is missing or of
// an unknown kind, when its window system cannot be reached, or when no such
// format exists (for `multisample`: when the driver cannot multisample).
PixelFormat* choosePixelFormat(const LVPort* port, bool multisample, std::string& error);

// The client API a context speaks: desktop OpenGL in the compatibility
// profile (fixed function, what the scene's reference drawing needs), or
// OpenGL ES 3.0 (the WebGL 2 subset: shaders, buffer objects, framebuffer
// objects). An ES 3 context gets the same canvas, swap and read-back; its
// drawing code must stay within ES 3.0.
enum class Api { DESKTOP_GL, GLES3 };
// The same choice for a context of `api`. Fails, saying so, when the
// driver offers no such context for this port.
PixelFormat* choosePixelFormat(const LVPort* port, bool multisample, Api api, std::string& error);
void destroyPixelFormat(PixelFormat* format);

// A new unshared context in that format. Null on failure.
Context* createContext(const PixelFormat* format, std::string& error);

// Attaches the context to a port (null detaches). The port must be of the
// kind the format was chosen for, with a positive size. The port stays the
// host's; it must outlive the attachment.
bool setDrawable(Context* context, LVPort* port, std::string& error);

// Makes the context current on this thread (null: none) and binds its canvas.
bool makeCurrent(Context* context, std::string& error);

// Takes over the port's current size and the buffer rectangle: (re)makes the
// canvas framebuffer. The context must be attached. Fails when the canvas
// cannot be made (too large for the driver, or empty).
bool updateContext(Context* context, std::string& error);

// Buffer swaps wait for `interval` vertical retraces (windows only; offscreen
// ports have nothing to wait for and accept any value).
bool setSwapInterval(Context* context, int interval, std::string& error);

// The buffer rectangle: x, y from the port's BOTTOM left, width, height, as
// window systems count. Takes effect at the next updateContext.
bool enableBufferRect(Context* context, std::string& error);
bool setBufferRect(Context* context, const int rect[4], std::string& error);
// The rectangle in effect (the whole port without one). False without a port.
bool getBufferRect(const Context* context, int rect[4], std::string& error);

// Presents the canvas (see above). False when nothing could be presented.
bool swapBuffers(Context* context, std::string& error);

// Whether the context's frames go to the host as pixels through frameReady
// (an offscreen port with frameReady set) at this canvas size: then a frame
// the caller already holds in memory may be handed over with the swap below
// instead of being drawn into the canvas and read back.
bool takesFramesInMemory(const Context* context, int width, int height);
// Presents `frame` (RGBA, the canvas's size, row 0 at the BOTTOM as GL reads
// it) in place of the canvas, in turn with the frames before it. The vector
// is taken: it comes back holding a buffer of the ring (of any size and
// content), for the caller to draw the next frame into. False, leaving
// `frame` alone and presenting nothing, when takesFramesInMemory is false.
bool swapBuffers(Context* context, std::vector<unsigned char>* frame, std::string& error);

// Releases the context and everything it made. Safe with null.
void destroyContext(Context* context);

// Samples per pixel of the canvas: 4 when multisampled, 0 otherwise.
int canvasSamples(const Context* context);
// The client API the context speaks (desktop GL for null).
Api contextApi(const Context* context);

// The port's bounds: width and height in pixels (offscreen: the struct's
// fields; window: the window's current size). False for a bad port.
bool portSize(const LVPort* port, int* width, int* height, std::string& error);

// The screen a port shows on: its size in pixels and its depth in bits per
// pixel. With a null port: the default screen of the X display named by
// DISPLAY, false when there is none. An X11 window port: its display's
// default screen. An offscreen port: the port's own size and 32.
bool screenInfo(const LVPort* port, int* width, int* height, int* depth, std::string& error);

// An EGL device as the driver describes it: its name where the driver tells
// it (EGL_EXT_device_query_name), its extensions, and its DRM device file
// (empty for a device without one).
struct DeviceInfo {
    std::string name;
    std::string extensions;
    std::string drmFile;
};

// Mesa's software renderers (llvmpipe, softpipe, swrast), and any device
// without a DRM file, draw on the CPU.
bool isSoftwareDevice(const DeviceInfo& device);
// The device offscreen contexts should draw on: the first hardware device,
// or -1 for none (software rendering), also when `softwareOnly`
// (LIBGL_ALWAYS_SOFTWARE is set).
int chooseDevice(const std::vector<DeviceInfo>& devices, bool softwareOnly);

}  // namespace lvgl

#endif
