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
 *
 * The port's bounds are (0, 0, width, height) for an offscreen port and the
 * window's size for a window. The canvas rectangle that comes with "show"
 * lies inside them; drawing is confined to it.
 */
#ifndef LV_PORT_H
#define LV_PORT_H

#ifdef __cplusplus
extern "C" {
#endif

enum { LV_PORT_X11_WINDOW = 1, LV_PORT_OFFSCREEN = 2 };

typedef struct LVPort {
    int kind;
    /* LV_PORT_X11_WINDOW */
    void* x11Display;
    unsigned long x11Window;
    /* LV_PORT_OFFSCREEN */
    int width;
    int height;
    unsigned char* pixels;
    unsigned long frameCount;
} LVPort;

#ifdef __cplusplus
}
#endif

#endif
