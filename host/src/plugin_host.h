// The host side of the visual plug-in interface: loads Lumenvortex.so, talks
// to it only through its entry point and its registered handler, and answers
// its requests, as a media player does.
//
//   to the entry point  "init"
//   to the handler      "init", "show", "hide", "swin", "vrnd", "vply",
//                       "ctrk", "vevt", "vpau", "vunp", "clr "
//   answered            "rvis" (keeps the handler and its refCon), "unrg",
//                       "sfop", "sful", "covr" (the current track's cover
//                       in a NewHandle, JPEG or PNG), "idle", "itsz";
//                       every other request gets unimpErr (-4)
//
// All calls on one thread, the one that loaded the plug-in. Failures: load()
// and start() return false with a message that names what to do.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "LumenvortexHost.h"
#include "iTunesAPI.h"
#include "lv/media.h"
#include "lv/port.h"

class PluginHost {
public:
    PluginHost() = default;
    ~PluginHost() = default;
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Lumenvortex.so beside the running program, then $LUMENVORTEX_PLUGIN
    // (the file, or a folder holding it).
    bool load(std::string& error);
    bool loadFrom(const std::string& path, std::string& error);

    // "init" to the entry point (the plug-in registers), then to its handler.
    bool start(std::string& error);

    // Offline renders and tests: the plug-in's clock. False when the plug-in
    // has no such extension.
    bool setClock(LVClockNowMicros nowMicros, LVClockSleepMicros sleepMicros, void* user);

    // Makes a Corvane server on 127.0.0.1:port the visualizer's sound
    // source (0: the render messages' spectrum again). False when the server
    // does not answer or the plug-in has no such extension.
    bool attachCorvane(int port);

    void show(LVPort* port, int width, int height, UInt32 options = 0);
    void hide();
    void setWindow(LVPort* port, int width, int height, UInt32 options = 0);
    void render(const RenderVisualData& data, UInt32 positionMs);
    void play(const lv::TrackMeta& track);          // "vply": playback starts with this track
    void changeTrack(const lv::TrackMeta& track);   // "ctrk": the next track plays on
    void setPaused(bool paused);
    // A key as the user typed it (case kept); `repeat` for auto-repeat.
    void key(unsigned char character, bool repeat, UInt16 modifiers = 0);
    void cleanup();

    bool shown() const { return mShown; }

    // Asked of the host when the plug-in wants full screen ("sful").
    std::function<void(bool)> mOnFullScreen;

    // What crossed the boundary, for diagnostics and tests.
    std::string mPluginPath;
    std::string mPluginName;            // from its registration
    VisualPluginProcPtr mHandler = nullptr;
    void* mHandlerRefCon = nullptr;
    UInt32 mTimeBetweenDataInMS = 0;
    PlayerSetFullScreenOptionsMessage mFullScreenOptions{};
    std::vector<OSType> mRequests;      // every request, in order
    std::vector<OSType> mMessages;      // every message sent but "vrnd"
    int mCoverRequests = 0;
    std::vector<unsigned char> mLastCoverAnswer;   // bytes put in the last covr handle
    OSType mLastCoverFormat = 0;
    ITTrackInfo mLastTrackRecord{};
    unsigned long mFramesSent = 0;

private:
    static OSStatus appProc(void* appCookie, OSType message, PlayerMessageInfo* info);
    OSStatus answer(OSType message, PlayerMessageInfo* info);
    OSStatus send(OSType message, VisualPluginMessageInfo* info);
    void sendTrack(OSType message, const lv::TrackMeta& track);

    void* mLibrary = nullptr;
    OSStatus (*mEntry)(OSType, PluginMessageInfo*, void*) = nullptr;
    lv::TrackMeta mCurrentTrack;
    bool mHasTrack = false;
    bool mShown = false;
};
