/* The drawing port: what a host hands the plug-in with "show" in place of a
 * window-system port. The host owns the struct and keeps it alive while the
 * plug-in is shown.
 *
 *   LV_PORT_X11_WINDOW  an X11 window: x11Display (Display*) and x11Window.
 *                       Frames go to the window, double-buffered, swap
 *                       interval 1.
 *   LV_PORT_OFFSCREEN   no window system: width x height pixels. Every swap
 *                       copies the finished frame into `pixels` (host memory,
 *                       width * height * 4 bytes RGBA, row 0 at the top) and
 *                       increments frameCount. pixels may be null: the frame
 *                       is then drawn and dropped.
 *   LV_PORT_WEB_CANVAS  a page's canvas (the WebAssembly build, web/):
 *                       webCanvas is its CSS selector ("#canvas"). Frames go
 *                       to the browser when the page's frame callback
 *                       returns; each swap increments frameCount.
 *   LV_PORT_CURRENT_CONTEXT  the host's own GL context, current on the
 *                       calling thread whenever it sends a message (a media
 *                       centre's add-on host): no context is made and none
 *                       is released, nothing is swapped. width x height is
 *                       the framebuffer the host has bound, as far as the
 *                       canvas rectangle reaches; frames are drawn into that
 *                       framebuffer inside the rectangle (viewport and
 *                       scissor), and each swap only increments frameCount.
 *                       The host saves and puts back its own GL state around
 *                       its calls.
 *
 * Pipelined read-back (offscreen, optional). With frameReady set, a swap
 * only starts reading the frame back and `pixels` is not written; the frame
 * reaches frameReady LV_PORT_FRAME_LAG swaps later, in order, on the
 * drawing thread, so that neither the drawing nor the copy waits for the
 * other. It is the canvas: width x height pixels RGBA, row r at
 * rgba + r * stride, row 0 at the top (stride is negative: GL keeps its rows
 * bottom up, and no one turns them). The bytes are the GL layer's and stay
 * valid and unchanged until frameWait(frameUser, index) returns, which the
 * layer calls before it reuses them; at most LV_PORT_FRAMES_IN_FLIGHT
 * frames are out at once. Frames still on their way are handed over when
 * the context lets go of the port (hide). frameWait may be null when the
 * host is done with a frame before frameReady returns.
 *
 * renderer: the GL layer writes the name of the driver drawing for the port
 * (GL_RENDERER, like "llvmpipe (LLVM 15.0.6, 256 bits)") once it has a
 * context, for the host to show.
 *
 * The port's bounds are (0, 0, width, height) for an offscreen or a current-
 * context port and the window's size for a window. The canvas rectangle that
 * comes with "show" lies inside them; drawing is confined to it.
 */
#ifndef LV_PORT_H
#define LV_PORT_H

#ifdef __cplusplus
extern "C" {
#endif

enum { LV_PORT_X11_WINDOW = 1, LV_PORT_OFFSCREEN = 2, LV_PORT_WEB_CANVAS = 3, LV_PORT_CURRENT_CONTEXT = 4 };
enum { LV_PORT_FRAME_LAG = 2, LV_PORT_FRAMES_IN_FLIGHT = 4 };

typedef struct LVPort {
    int kind;
    /* LV_PORT_X11_WINDOW */
    void* x11Display;
    unsigned long x11Window;
    /* LV_PORT_OFFSCREEN, LV_PORT_CURRENT_CONTEXT */
    int width;
    int height;
    unsigned char* pixels;
    unsigned long frameCount;
    /* LV_PORT_OFFSCREEN, pipelined read-back */
    void (*frameReady)(void* user, const unsigned char* rgba, int width, int height, long stride,
                       unsigned long index);
    void (*frameWait)(void* user, unsigned long index);
    void* frameUser;
    /* any kind: written by the GL layer */
    char renderer[96];
    /* LV_PORT_WEB_CANVAS */
    const char* webCanvas;
} LVPort;

#ifdef __cplusplus
}
#endif

#endif
