/* Host extensions of the Lumenvortex plug-in.
 *
 * The plug-in speaks the visual plug-in interface (iTunesAPI.h): the entry
 * point iTunesPluginMainMachO and the messages of its handler. A host that
 * loads Lumenvortex.so can also look up these C functions with dlsym.
 * Neither is needed for ordinary live use.
 *
 *   LumenvortexSetClock      supplies the plug-in's clock. Offline renderers
 *                            and tests pass a virtual clock so that frame n is
 *                            drawn at exactly the time they choose and the
 *                            frame pacing sleeps on that clock. Pass nulls to
 *                            go back to the wall clock. Call it before "show"
 *                            (the clock restarts at 0 on its next reading).
 *
 *   LumenvortexSetRenderer   picks how the scene reaches GL: "reference"
 *                            (fixed-function immediate mode, the literal
 *                            drawing), "batched" (vertex arrays, the default)
 *                            or "gles" (shaders on an OpenGL ES 3.0 context).
 *                            Best called before "show"; while shown, the
 *                            context is made again for it (as the `q` key
 *                            does). Returns 1, or 0 for an unknown name
 *                            (nothing changes).
 *
 *   LumenvortexSetBackground fixes the background to one colour, 0xRRGGBB,
 *                            in place of the palette's eased one; -1 gives
 *                            it back to the palette; LV_BACKGROUND_TRANSPARENT
 *                            clears to transparent black, for a host that
 *                            lays the frames over something else (the page
 *                            as a browser source in OBS; its context needs an
 *                            alpha channel). Takes effect from the next
 *                            frame. Returns 1, or 0 for a value out of range
 *                            (nothing changes).
 *
 *   LumenvortexSetTrackOverlay turns the track's overlay (name, artist and
 *                            cover for five seconds after a track change) on
 *                            (1, as at load) or off (0), for clean captures.
 *
 *   LumenvortexSetBackgroundImage puts a picture behind the field: width x
 *                            height RGBA bytes, row 0 at the top, copied, and
 *                            stretched over the canvas (the host crops it to
 *                            the canvas's shape). Null gives the background
 *                            back to the colour. Returns 1, or 0 for a size
 *                            out of range (nothing changes).
 *
 *   LumenvortexSetDrawing    with 0, the render messages that follow step
 *                            the scene without drawing it: every random draw,
 *                            clock step and GL state change a drawn frame
 *                            makes, but nothing rasterised and no frame
 *                            presented (the port's frame count stays). With 1
 *                            (the default) they draw again, from the scene
 *                            the stepped frames left. Offline renderers use
 *                            it to start a part of a render at its frame.
 *
 *   LumenvortexAttachCorvane connects a Corvane spectrum source on 127.0.0.1
 *                            at `port` and makes it the analyser's source in
 *                            place of the host's render data. Returns 1 when
 *                            connected, 0 when not (the visualizer then runs
 *                            on silence until the host source is attached
 *                            again by calling it with port 0).
 */
#ifndef LUMENVORTEX_HOST_H
#define LUMENVORTEX_HOST_H

#ifdef __cplusplus
extern "C" {
#endif

typedef long long (*LVClockNowMicros)(void* user);
typedef void (*LVClockSleepMicros)(void* user, long long micros);

void LumenvortexSetClock(LVClockNowMicros nowMicros, LVClockSleepMicros sleepMicros, void* user);
int LumenvortexAttachCorvane(int port);
int LumenvortexSetRenderer(const char* name);
#define LV_BACKGROUND_TRANSPARENT (-2L)
int LumenvortexSetBackground(long rgb);
void LumenvortexSetTrackOverlay(int on);
int LumenvortexSetBackgroundImage(const unsigned char* rgba, int width, int height);
void LumenvortexSetDrawing(int on);

typedef void (*LumenvortexSetClockFn)(LVClockNowMicros, LVClockSleepMicros, void*);
typedef int (*LumenvortexAttachCorvaneFn)(int);
typedef int (*LumenvortexSetRendererFn)(const char*);
typedef int (*LumenvortexSetBackgroundFn)(long);
typedef int (*LumenvortexSetBackgroundImageFn)(const unsigned char*, int, int);
typedef void (*LumenvortexSetDrawingFn)(int);

#ifdef __cplusplus
}
#endif

#endif
