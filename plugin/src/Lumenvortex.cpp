// The plug-in's entry point and message handler: registration with the host,
// window messages (context and canvas), render messages (spectrum in, one
// applet frame, the track overlay, the buffer swap), track changes and keys.
// Also the host extensions of LumenvortexHost.h.
#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "LumenvortexHost.h"
#include "iTunesAPI.h"
#include "iTunesGLUtils.h"
#include "iTunesUtilities.h"
#include "lumenvortexApplet.h"
#include "lv/gl_context.h"
#include "glesRenderer.h"
#include "renderer.h"

#define LV_EXPORT extern "C" __attribute__((visibility("default")))

// ---------------------------------------------------------------- globals

bool gAppletInitialized = false;
SoundsSourceiTunes* gSoundsSourceiTunes = nullptr;
ITTrackInfo gLastTrackInfo;
bool gLastTrackInfoIsValid = false;
PaddedTexture gTrackNameTexture;
PaddedTexture gAlbumCoverTexture;
ITAppProcPtr gITunesAppProc = nullptr;
void* gITunesAppCookie = nullptr;
const char* kTVisualPluginName = "Lumenvortex";

namespace {

constexpr OSType kTVisualPluginCreator = FourCC("hook");
constexpr UInt32 kVisualWantsIdleMessages = 8;
constexpr long kOverlayMillis = 5000;
constexpr long kOverlayFadeStartMillis = 3000;
bool gTrackOverlay = true;   // LumenvortexSetTrackOverlay
// LV_FRAME_IN_MEMORY=0 reads every frame back from GL, even one the light
// layer drew whole: the two must give the same pixels.
const bool gFramesInMemory = [] {
    const char* value = std::getenv("LV_FRAME_IN_MEMORY");
    return !value || std::strcmp(value, "0") != 0;
}();

// The full-screen options go to the host once, as soon as a screen is known.
bool gFullScreenOptionsSent = false;

// Attached through LumenvortexAttachCorvane in place of the host source.
SoundsSourceCorvane* gCorvaneSource = nullptr;

void SendFullScreenOptions(const LVPort* port) {
    int width = 0, height = 0, depth = 0;
    std::string notYet;   // no screen to tell of yet: the next show tries again
    if (gFullScreenOptionsSent || !lvgl::screenInfo(port, &width, &height, &depth, notYet)) return;
    gFullScreenOptionsSent = true;
    PlayerSetFullScreenOptions(gITunesAppCookie, gITunesAppProc, 8, 32, SInt16(depth), SInt16(width),
                               SInt16(height));
}

// After a new context: the overlay's texture ids named textures of the
// context just destroyed, so they are dropped (not deleted) and, when a play
// or track change left a track record, built again. Ids kept from the old
// context would bind empty textures here and draw the overlay as white boxes.
void RebuildTrackTextures() {
    gTrackNameTexture = PaddedTexture();
    gAlbumCoverTexture = PaddedTexture();
    if (!gLastTrackInfoIsValid || !gGLContext) return;
    setCurrentContext();
    gTrackNameTexture = CreateTrackNameTexture(gLastTrackInfo.name, gLastTrackInfo.artist, gLastTrackInfo.album);
    gAlbumCoverTexture = CreateCoverArtTexture(gITunesAppCookie, gITunesAppProc);
}

// ---------------------------------------------------------------- overlay

void Quad(float x0, float y0, float x1, float y1, float u0, float v0, float u1, float v1) {
    glBegin(GL_QUADS);
    glTexCoord2f(u0, v0);
    glVertex2f(x0, y0);
    glTexCoord2f(u1, v0);
    glVertex2f(x1, y0);
    glTexCoord2f(u1, v1);
    glVertex2f(x1, y1);
    glTexCoord2f(u0, v1);
    glVertex2f(x0, y1);
    glEnd();
}

// Cover art, name shadow and name in the lower left, fading out over the
// last two of their five seconds. The pass sets every piece of state it
// draws with and puts back what it changed; the mode's own depth and blend
// state is then set again for the next frame.
// Where the overlay's pieces go: the cover's square (if any) and the name's
// top left, from the canvas size and the name texture's height. On a
// portrait frame too narrow for the panel everything shrinks by `scale`.
struct OverlayLayout {
    float scale;
    float coverLeft, coverTop, coverSize;
    float nameX, nameY, nameWidth, nameHeight;
};

OverlayLayout LayOutOverlay() {
    const float width = float(gApplet->mWidth), height = float(gApplet->mHeight);
    // Short-video apps lay their buttons and captions over the bottom fifth
    // and the right edge of a portrait frame: the panel keeps clear of them.
    const bool portrait = height > width;
    const float bottom = portrait ? std::floor(height * 0.8f) : height;
    const float right = std::floor(width * 0.85f);
    const bool cover = gAlbumCoverTexture.texID != 0;
    const int nameHeight = int(gTrackNameTexture.actualHeight);
    OverlayLayout l;
    l.scale = portrait ? std::min(1.0f, right / float((cover ? 94 : 20) + gTrackNameTexture.paddedWidth)) : 1.0f;
    l.coverLeft = 20 * l.scale;
    l.coverTop = bottom - 84 * l.scale;
    l.coverSize = 64 * l.scale;
    if (cover) {
        l.nameX = 94 * l.scale;
        l.nameY = bottom + float(-84 + (64 - nameHeight) / 2 - 2) * l.scale;
    } else {
        l.nameX = 20 * l.scale;
        l.nameY = bottom - float(nameHeight + 20) * l.scale;
    }
    l.nameWidth = float(gTrackNameTexture.paddedWidth) * l.scale;
    l.nameHeight = float(gTrackNameTexture.paddedHeight) * l.scale;
    return l;
}

// The ES renderer's overlay: the same quads and colours, the state set and
// put back by its 2-D pass.
void DrawTrackOverlayGles(float fade, float canvasWidth, float canvasHeight) {
    const OverlayLayout l = LayOutOverlay();
    glesRenderer.begin2D(canvasWidth, canvasHeight);
    if (gAlbumCoverTexture.texID != 0) {
        const PaddedTexture& cover = gAlbumCoverTexture;
        const float tint[4] = {1.0f, 1.0f, 1.0f, 0.9f * fade};
        glesRenderer.drawImage(cover.texID, l.coverLeft, l.coverTop, l.coverLeft + l.coverSize,
                               l.coverTop + l.coverSize, cover.GetLeftU(), cover.GetTopV(), cover.GetRightU(),
                               cover.GetBottomV(), tint);
    }
    if (gTrackNameTexture.texID != 0) {
        const float w = l.nameWidth, h = l.nameHeight;
        const float shadow[4] = {0.0f, 0.0f, 0.0f, 0.8f * fade}, ink[4] = {1.0f, 1.0f, 1.0f, fade};
        glesRenderer.drawImage(gTrackNameTexture.texID, l.nameX + 1, l.nameY + 1, l.nameX + 1 + w, l.nameY + 1 + h,
                               0, 0, 1, 1, shadow);
        glesRenderer.drawImage(gTrackNameTexture.texID, l.nameX, l.nameY, l.nameX + w, l.nameY + h, 0, 0, 1, 1, ink);
    }
    glesRenderer.end2D();
}

void DrawTrackOverlay(long elapsed) {
    float fade = 1.0f;
    if (elapsed > kOverlayFadeStartMillis) fade = 1.0f - float(elapsed - kOverlayFadeStartMillis) / 2000.0f;

    const float canvasWidth = float(gCanvasRect.right - gCanvasRect.left);
    const float canvasHeight = float(gCanvasRect.bottom - gCanvasRect.top);
    if (rendererIsGles()) {
        DrawTrackOverlayGles(fade, canvasWidth, canvasHeight);
        return;
    }

    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_POLYGON_BIT | GL_CURRENT_BIT |
                 GL_TEXTURE_BIT);
    glMatrixMode(GL_TEXTURE);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluOrtho2D(0, canvasWidth, canvasHeight, 0);   // one unit per pixel, y down
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    for (GLenum cap : {GL_LIGHTING, GL_CULL_FACE, GL_ALPHA_TEST, GL_FOG, GL_SCISSOR_TEST, GL_STENCIL_TEST,
                       GL_COLOR_LOGIC_OP, GL_TEXTURE_1D, GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T})
        glDisable(cap);

    const OverlayLayout l = LayOutOverlay();
    const float nameX = l.nameX, nameY = l.nameY;
    if (gAlbumCoverTexture.texID != 0) {
        const PaddedTexture& cover = gAlbumCoverTexture;
        glBindTexture(GL_TEXTURE_2D, cover.texID);
        glColor4f(1.0f, 1.0f, 1.0f, 0.9f * fade);
        Quad(l.coverLeft, l.coverTop, l.coverLeft + l.coverSize, l.coverTop + l.coverSize, cover.GetLeftU(),
             cover.GetTopV(), cover.GetRightU(), cover.GetBottomV());
    }

    if (gTrackNameTexture.texID != 0) {
        const float w = l.nameWidth, h = l.nameHeight;
        glBindTexture(GL_TEXTURE_2D, gTrackNameTexture.texID);
        glColor4f(0.0f, 0.0f, 0.0f, 0.8f * fade);
        Quad(nameX + 1, nameY + 1, nameX + 1 + w, nameY + 1 + h, 0, 0, 1, 1);
        glColor4f(1.0f, 1.0f, 1.0f, fade);
        Quad(nameX, nameY, nameX + w, nameY + h, 0, 0, 1, 1);
    }

    glMatrixMode(GL_TEXTURE);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();

    gMode.setupGL();
}

// The pixels the overlay may draw on, from the viewport's lower left as GL
// counts (x, y, width, height), with a pixel to spare all round; false when
// there is no viewport.
bool OverlayBox(int box[4]) {
    const OverlayLayout l = LayOutOverlay();
    float left = l.nameX, top = l.nameY, right = l.nameX + 1 + l.nameWidth, bottom = l.nameY + 1 + l.nameHeight;
    if (gAlbumCoverTexture.texID != 0) {
        left = std::min(left, l.coverLeft), top = std::min(top, l.coverTop);
        right = std::max(right, l.coverLeft + l.coverSize), bottom = std::max(bottom, l.coverTop + l.coverSize);
    }
    // The overlay's units are the canvas's pixels, y down.
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    const float canvasWidth = float(gCanvasRect.right - gCanvasRect.left);
    const float canvasHeight = float(gCanvasRect.bottom - gCanvasRect.top);
    if (viewport[2] <= 0 || viewport[3] <= 0 || canvasWidth <= 0 || canvasHeight <= 0) return false;
    const float sx = float(viewport[2]) / canvasWidth, sy = float(viewport[3]) / canvasHeight;
    const int x0 = std::max(0, int(std::floor(left * sx)) - 1);
    const int x1 = std::min(int(viewport[2]), int(std::ceil(right * sx)) + 1);
    const int y0 = std::max(0, int(viewport[3]) - int(std::ceil(bottom * sy)) - 1);
    const int y1 = std::min(int(viewport[3]), int(viewport[3]) - int(std::floor(top * sy)) + 1);
    box[0] = x0, box[1] = y0, box[2] = x1 - x0, box[3] = y1 - y0;
    return box[2] > 0 && box[3] > 0;
}

// ---------------------------------------------------------------- frames and tracks

// Frames only stepped (LumenvortexSetDrawing(0)) run the whole frame, every
// random draw and clock step of it, with the GL state it sets, but GL drops
// the primitives before rasterising, the CPU light layer stays out and
// nothing is presented: the state a later drawn frame starts from is the one
// the drawn frames would have left.
bool gDrawing = true;

struct SteppedFrame {
    const bool stepped = !gDrawing;
    const bool layer = lightLayer.enabled;
    SteppedFrame() {
        if (!stepped) return;
        lightLayer.enabled = false;
        glEnable(GL_RASTERIZER_DISCARD);
    }
    ~SteppedFrame() {
        if (!stepped) return;
        glDisable(GL_RASTERIZER_DISCARD);
        lightLayer.enabled = layer;
    }
};

void ProcessRenderData(const RenderVisualData* renderData) {
    if (renderData) gSoundsSourceiTunes->updateSpectrumData(renderData->spectrumData);
    // A render message before the first show, or while hidden, has nothing
    // to draw with: the applet's textures and the context do not exist yet.
    if (!gAppletInitialized || !gGLContext) return;
    setCurrentContext();
    SteppedFrame frame;
    lightLayer.holdFrame = gFramesInMemory && lvgl::takesFramesInMemory(gGLContext, gCanvasRect.right - gCanvasRect.left,
                                                                        gCanvasRect.bottom - gCanvasRect.top);
    gApplet->draw();

    const long elapsed = millis() - gMillisSinceTrackChange;
    if (gTrackOverlay && elapsed <= kOverlayMillis) {
        // Over a held frame only the overlay's box goes through GL and back.
        int box[4];
        const bool lent = lightLayer.heldFrame() && OverlayBox(box) && lightLayer.lendBox(box);
        if (!lent) lightLayer.putOnGL();
        DrawTrackOverlay(elapsed);
        if (lent) lightLayer.takeBox(box);
    }
    if (frame.stepped) return;

    std::string lost;   // a frame that cannot be presented is dropped; the next one tries again
    // A frame the light layer drew whole goes to the host as it is: GL
    // holds nothing of it and has nothing to finish.
    if (std::vector<uint8_t>* held = lightLayer.heldFrame()) {
        if (lvgl::swapBuffers(gGLContext, held, lost)) {
            lightLayer.frameTaken();
            return;
        }
        lightLayer.putOnGL();
    }
    glFinish();
    glFlush();
    lvgl::swapBuffers(gGLContext, lost);   // the one place a frame is presented
}

void ProcessTrackChange(const ITTrackInfo* trackInfo) {
    // Textures go into the plug-in's context whatever the host made current.
    setCurrentContext();
    gTrackNameTexture.DeleteTexture();
    gTrackNameTexture = CreateTrackNameTexture(trackInfo->name, trackInfo->artist, trackInfo->album);
    gAlbumCoverTexture.DeleteTexture();
    gAlbumCoverTexture = CreateCoverArtTexture(gITunesAppCookie, gITunesAppProc);
    gMillisSinceTrackChange = millis();
    gApplet->iTunesTrackChanged();
}

// ---------------------------------------------------------------- messages

void ShowWindow(const VisualPluginShowWindowMessage& show) {
    gCanvasRect = show.drawRect;
    gFullscreen = (show.options & kWindowIsFullScreen) != 0;
    gWidescreen = gFullscreen && (show.options & kWindowIsStretched) != 0;
    gApplet->mWidth = gCanvasRect.right - gCanvasRect.left;
    gApplet->mHeight = gCanvasRect.bottom - gCanvasRect.top;
    gGraphicsPort = static_cast<CGrafPtr>(show.port);
    SendFullScreenOptions(gGraphicsPort);

    setupGraphics();

    if (!gAppletInitialized) {
        gAppletInitialized = true;
        gApplet->setup();
        gApplet->setupPostGL(gWidescreen);
        gMillisSinceTrackChange = millis();
    } else {
        gApplet->setupPostGL(gWidescreen);
        gApplet->resized();
    }
    RebuildTrackTextures();
}

void SetWindow(const VisualPluginSetWindowMessage& set) {
    gCanvasRect = set.drawRect;
    reshapeGraphics(set.drawRect);
    gApplet->mWidth = gCanvasRect.right - gCanvasRect.left;
    gApplet->mHeight = gCanvasRect.bottom - gCanvasRect.top;
}

// Every event is reported as not handled, including keys acted on: the host
// stays free to act on them too.
OSStatus HandleEvent(const EventRecord* event) {
    if (!event || (event->what != keyDown && event->what != autoKey)) return unimpErr;
    char theChar = char(event->message & 0xFF);
    if (theChar >= 'A' && theChar <= 'Z') theChar = char(theChar + 32);
    if (theChar == 'q') {
        // Hidden, the port may be gone with the window: the choice waits for
        // the next show, which makes its context with it.
        if (!gGLContext) {
            gAntialias = !gAntialias;
            return unimpErr;
        }
        toggleAntialiasing();
        gApplet->setupPostGL(gWidescreen);
        gApplet->resized();
        RebuildTrackTextures();
        return unimpErr;
    }
    gApplet->keyPressed(theChar);
    return unimpErr;
}

OSStatus VisualPluginHandler(OSType message, VisualPluginMessageInfo* messageInfo, void* /*refCon*/) {
    // Messages that carry a record are refused without one.
    const bool noRecord = messageInfo == nullptr;
    switch (message) {
    case FourCC("init"):
        if (noRecord) return paramErr;
        gITunesAppCookie = messageInfo->u.initMessage.appCookie;
        gITunesAppProc = messageInfo->u.initMessage.appProc;
        // Without a port yet, only an X display can tell the screen's size;
        // otherwise the first show tells it.
        SendFullScreenOptions(nullptr);
        return noErr;
    case FourCC("show"):
        if (noRecord) return paramErr;
        ShowWindow(messageInfo->u.showWindowMessage);
        return noErr;
    case FourCC("hide"):
        disposeGraphics();
        return noErr;
    case FourCC("swin"):
        if (noRecord) return paramErr;
        SetWindow(messageInfo->u.setWindowMessage);
        return noErr;
    case FourCC("vrnd"):
        if (noRecord) return paramErr;
        ProcessRenderData(messageInfo->u.renderMessage.renderData);
        return noErr;
    case FourCC("vupd"):
    case FourCC("null"):
        if (gAppletInitialized && gGLContext) ProcessRenderData(nullptr);
        return noErr;
    case FourCC("vply"): {
        if (noRecord) return paramErr;
        const ITTrackInfo* trackInfo = messageInfo->u.playMessage.trackInfoUnicode;
        if (!trackInfo) return paramErr;
        std::memcpy(&gLastTrackInfo, trackInfo, sizeof gLastTrackInfo);
        gLastTrackInfoIsValid = true;
        if (gAppletInitialized && gGLContext) ProcessTrackChange(trackInfo);
        return noErr;
    }
    case FourCC("ctrk"): {
        if (noRecord) return paramErr;
        const ITTrackInfo* trackInfo = messageInfo->u.changeTrackMessage.trackInfoUnicode;
        if (!trackInfo) return paramErr;
        // Kept as a play's is: every later context shows this track's name.
        std::memcpy(&gLastTrackInfo, trackInfo, sizeof gLastTrackInfo);
        gLastTrackInfoIsValid = true;
        if (gAppletInitialized && gGLContext) ProcessTrackChange(trackInfo);
        return noErr;
    }
    case FourCC("vevt"):
        return HandleEvent(messageInfo ? messageInfo->u.eventMessage.event : nullptr);
    case FourCC("clr "):
    case FourCC("cnfg"):
    case FourCC("setp"):
    case FourCC("von "):
    case FourCC("voff"):
    case FourCC("vpau"):
    case FourCC("vunp"):
    case FourCC("vstp"):
        return noErr;
    default:
        return unimpErr;
    }
}

OSStatus RegisterVisualPlugin(PluginMessageInfo* messageInfo) {
    PlayerMessageInfo playerMessageInfo;
    std::memset(&playerMessageInfo, 0, sizeof playerMessageInfo);
    PlayerRegisterVisualPluginMessage& reg = playerMessageInfo.u.registerVisualPluginMessage;

    const size_t nameLength = std::strlen(kTVisualPluginName);
    reg.name[0] = UInt8(nameLength);
    std::memcpy(&reg.name[1], kTVisualPluginName, nameLength);
    reg.options = kVisualWantsIdleMessages;
    reg.creator = kTVisualPluginCreator;
    SetNumVersion(&reg.pluginVersion, 1, 0, 0, 0);
    reg.handler = VisualPluginHandler;
    reg.registerRefCon = nullptr;
    reg.timeBetweenDataInMS = 16;   // the applet's frame floor
    reg.numWaveformChannels = 2;
    reg.numSpectrumChannels = 2;
    reg.minWidth = 64;
    reg.minHeight = 64;
    reg.maxWidth = 32767;
    reg.maxHeight = 32767;
    reg.minFullScreenBitDepth = 0;
    reg.maxFullScreenBitDepth = 0;
    reg.windowAlignmentInBytes = 0;

    const OSStatus status = PlayerRegisterVisualPlugin(messageInfo->u.initMessage.appCookie,
                                                       messageInfo->u.initMessage.appProc, &playerMessageInfo);
    // The visualizer exists whatever the host said; a second "init" finds it.
    if (!gSoundsSourceiTunes) gSoundsSourceiTunes = new SoundsSourceiTunes();
    if (!gApplet) {
        gApplet = new LumenvortexApplet();
        gApplet->setSoundsSource(gSoundsSourceiTunes);
    }
    return status;
}

void WallClockSleep(void*, long long micros) {
    if (micros > 0) usleep(useconds_t(micros));
}

// The applet, the sources and the scene live until the plug-in is unloaded.
// The GL context is not touched here: at process exit the driver may already
// be gone, and hosts send hide before unloading.
struct UnloadCleaner {
    ~UnloadCleaner() {
        delete gCorvaneSource;
        gCorvaneSource = nullptr;
        delete gApplet;
        gApplet = nullptr;
        delete gSoundsSourceiTunes;
        gSoundsSourceiTunes = nullptr;
    }
} gUnloadCleaner;

}  // namespace

// ---------------------------------------------------------------- exports

LV_EXPORT OSStatus iTunesPluginMainMachO(OSType message, PluginMessageInfo* messageInfo, void* /*refCon*/) {
    switch (message) {
    case FourCC("init"):
        if (!messageInfo) return paramErr;
        return RegisterVisualPlugin(messageInfo);
    case FourCC("clr "):
        return noErr;
    default:
        return unimpErr;
    }
}

LV_EXPORT void LumenvortexSetClock(LVClockNowMicros nowMicros, LVClockSleepMicros sleepMicros, void* user) {
    if (!nowMicros) {
        setClockSource(nullptr);
        return;
    }
    // A clock without a sleep of its own moves by itself: sleep on the wall.
    const ClockSource source{nowMicros, sleepMicros ? sleepMicros : WallClockSleep, user};
    setClockSource(&source);
}

LV_EXPORT int LumenvortexSetRenderer(const char* name) {
    RendererKind kind;
    if (!parseRenderer(name, &kind)) return 0;
    if (kind == gRenderer) return 1;
    useRenderer(kind);
    // Shown: a context of the new renderer's API and every GL object again
    // in it, as the antialiasing key does.
    if (gAppletInitialized && gGLContext) {
        setupGraphics();
        gApplet->setupPostGL(gWidescreen);
        gApplet->resized();
        RebuildTrackTextures();
    }
    return 1;
}

LV_EXPORT void LumenvortexSetDrawing(int on) { gDrawing = on != 0; }

LV_EXPORT int LumenvortexSetBackground(long rgb) {
    if ((rgb < -1 && rgb != LV_BACKGROUND_TRANSPARENT) || rgb > 0xffffff) return 0;
    bgControl.mFixedRgb = rgb == LV_BACKGROUND_TRANSPARENT ? BGControl::TRANSPARENT : rgb;
    return 1;
}

LV_EXPORT void LumenvortexSetTrackOverlay(int on) { gTrackOverlay = on != 0; }

LV_EXPORT int LumenvortexSetBackgroundImage(const unsigned char* rgba, int width, int height) {
    constexpr int kMaxSide = 16384;   // what GL drivers take as a texture
    if (rgba && (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)) return 0;
    bgControl.setImage(rgba, width, height);
    return 1;
}

LV_EXPORT int LumenvortexAttachCorvane(int port) {
    if (!gApplet || port < 0 || port > 65535) return 0;
    SoundsSourceCorvane* previous = gCorvaneSource;
    if (port == 0) {
        gApplet->setSoundsSource(gSoundsSourceiTunes);
        gCorvaneSource = nullptr;
    } else {
        gCorvaneSource = new SoundsSourceCorvane("127.0.0.1", port);
        gApplet->setSoundsSource(gCorvaneSource);
    }
    delete previous;
    return gCorvaneSource && gCorvaneSource->isValid() ? 1 : 0;
}
