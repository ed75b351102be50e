// The host side of the visual plug-in interface, shared by every host of
// Lumenvortex.so: the player's (host/src/plugin_host) and the tests'
// (tests/plugin/test_host). It loads the module, reaches it only through its
// entry point, its registered handler and the host extensions
// (LumenvortexHost.h), builds each message's record as a host does (zeroed,
// then filled) and answers the plug-in's requests:
//
//   "rvis"  keeps the handler, its refCon and the whole registration record
//   "unrg"  forgets the handler
//   "sfop"  keeps the full-screen options
//   "sful"  calls mOnFullScreen
//   "covr"  a NewHandle holding mCoverArt (a null handle when it is empty)
//           and mCoverArtFormat; the plug-in disposes of the handle
//   "idle", "itsz"  answered; every other request gets unimpErr (-4)
//
// Who uses it: hosts, on one thread, the one that loaded the module. Failure:
// loadFrom() and start() return false with `error` naming the fix; every
// message returns the handler's status, and paramErr while no handler is
// registered.
#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "LumenvortexHost.h"
#include "iTunesAPI.h"
#include "lv/port.h"

// A record as hosts send them: zeroed, unions and padding included, then
// filled.
template <class T>
T zeroedRecord() {
    T t;
    std::memset(static_cast<void*>(&t), 0, sizeof t);
    return t;
}

class PluginModule {
public:
    PluginModule() = default;
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    // The module stays loaded until the process ends: its globals outlive any
    // one host object, as they do under a media player.
    bool loadFrom(const std::string& path, std::string& error);
    // The same plug-in linked into the host (the page, which has no dlopen):
    // its entry point and extensions as the linker found them.
    using EntryPoint = OSStatus (*)(OSType, PluginMessageInfo*, void*);
    void useLinked(EntryPoint entry, LumenvortexSetClockFn setClock, LumenvortexAttachCorvaneFn attachCorvane,
                   LumenvortexSetRendererFn setRenderer, const std::string& name);
    bool loaded() const { return mEntry != nullptr; }

    // "init" to the entry point (the plug-in registers), then "init" to its
    // handler. The two halves return the plug-in's statuses.
    bool start(std::string& error);
    OSStatus registerPlugin();
    OSStatus initHandler();

    // The host extensions; false when the module lacks them.
    bool setClock(LVClockNowMicros nowMicros, LVClockSleepMicros sleepMicros, void* user);
    // A Corvane server on 127.0.0.1:port as the sound source (0: the render
    // messages' spectrum again). False when it does not answer.
    bool attachCorvane(int port);
    // The drawing: "reference", "batched" or "gles", before "show". False
    // when the module lacks the extension or does not know the name.
    bool setRenderer(const std::string& name);
    // The background fixed to 0xRRGGBB, or -1 for the palette's. False when
    // the module lacks the extension or the value is out of range.
    bool setBackground(long rgb);
    // Off: render messages step the scene without drawing (LumenvortexHost.h).
    // False when the module lacks the extension.
    bool setDrawing(bool on);
    // A picture behind the field (LumenvortexHost.h); null for none.
    bool setBackgroundImage(const unsigned char* rgba, int width, int height);

    // Messages. A canvas given by its size fills the port from (0, 0).
    OSStatus send(OSType message, VisualPluginMessageInfo* info);
    OSStatus show(LVPort* port, Rect canvas, UInt32 options = 0);
    OSStatus show(LVPort* port, int width, int height, UInt32 options = 0);
    OSStatus hide();   // nothing to send while not shown
    OSStatus setWindow(LVPort* port, Rect canvas, UInt32 options = 0);
    OSStatus setWindow(LVPort* port, int width, int height, UInt32 options = 0);
    OSStatus render(const RenderVisualData& data, UInt32 positionMs);
    OSStatus idle();
    // The plug-in must copy the record during the call: the host's copy is
    // scribbled over as soon as the call returns.
    OSStatus play(const ITTrackInfo& record);          // "vply": playback starts with this track
    OSStatus changeTrack(const ITTrackInfo& record);   // "ctrk": the next track plays on
    OSStatus event(UInt16 what, UInt32 message, UInt16 modifiers = 0);   // "vevt"
    OSStatus setPaused(bool paused);
    OSStatus cleanup();

    bool shown() const { return mShown; }

    // What the host answers to "covr" and "sful". A status other than noErr
    // comes with the handle all the same: hosts are not always consistent.
    std::vector<unsigned char> mCoverArt;
    OSType mCoverArtFormat = 0;
    OSStatus mCoverArtStatus = noErr;
    std::function<void(bool)> mOnFullScreen;

    // What crossed the boundary, for diagnostics and tests.
    std::string mPluginPath;
    std::string mPluginName;            // from its registration
    PlayerMessageInfo mRegisterRecord{};
    VisualPluginProcPtr mHandler = nullptr;
    void* mHandlerRefCon = nullptr;
    UInt32 mTimeBetweenDataInMS = 0;
    PlayerSetFullScreenOptionsMessage mFullScreenOptions{};
    std::vector<OSType> mRequests;      // every request, in order
    std::vector<OSType> mMessages;      // every message sent but "vrnd"
    int mCoverRequests = 0;
    std::vector<unsigned char> mLastCoverAnswer;   // bytes put in the last covr handle
    OSType mLastCoverFormat = 0;
    ITTrackInfo mLastTrackRecord{};     // as the last "vply" or "ctrk" sent it
    unsigned long mFramesSent = 0;

    // The extensions as found in the module (null when it has none).
    LumenvortexSetClockFn mSetClock = nullptr;
    LumenvortexAttachCorvaneFn mAttachCorvane = nullptr;
    LumenvortexSetRendererFn mSetRenderer = nullptr;
    // Linked hosts set it themselves (useLinked predates it).
    LumenvortexSetBackgroundFn mSetBackground = nullptr;
    LumenvortexSetBackgroundImageFn mSetBackgroundImage = nullptr;
    LumenvortexSetDrawingFn mSetDrawing = nullptr;

private:
    static OSStatus appProc(void* appCookie, OSType message, PlayerMessageInfo* info);
    OSStatus answer(OSType message, PlayerMessageInfo* info);
    OSStatus answerCoverArt(PlayerGetCurrentTrackCoverArtMessage& c);
    OSStatus sendTrack(OSType message, const ITTrackInfo& record);

    OSStatus (*mEntry)(OSType, PluginMessageInfo*, void*) = nullptr;
    bool mShown = false;
};
