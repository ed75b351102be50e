// A host for the plug-in module in tests: loads build/bin/Lumenvortex.so with
// dlopen, answers its requests ("rvis", "sfop", "covr") and drives it with
// real messages on an offscreen port, on a virtual clock.
//
// Every plug-in keeps process-wide state from its first message to its
// unloading, so each test runs in a child process of its own (runIsolated):
// the module is loaded fresh there and the child's failures fail the test.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "LumenvortexHost.h"
#include "gl_test_env.h"
#include "iTunesAPI.h"
#include "lv/port.h"
#include "test_pictures.h"

namespace lvhost {

class TestHost;

void runIsolated(const std::function<void()>& body);
// runIsolated with no X display (the port then tells the screen's size at
// the first show), a loaded module, and "init" sent.
void runWithHost(const std::function<void(TestHost&)>& body);

// Message records go out zeroed, as a host's do, unions and padding included.
template <class T>
T zeroed() {
    T t;
    std::memset(static_cast<void*>(&t), 0, sizeof t);
    return t;
}

void setHostString(ITUniStr255 dest, const std::u16string& text);
ITTrackInfo makeTrack(const std::u16string& name, const std::u16string& artist, const std::u16string& album);

class TestHost {
public:
    TestHost();    // loads the module (fails the test if it cannot)
    ~TestHost();   // hides if shown; unloading is left to the process's end
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    bool loaded() const { return mEntry != nullptr; }

    // The entry point's "init" (answered with registerStatus), then the
    // handler's "init". Returns the entry point's status.
    OSStatus init(OSStatus registerStatus = noErr);
    OSStatus send(OSType message, VisualPluginMessageInfo* info);

    // An offscreen port of portWidth x portHeight, pre-filled with kUntouched;
    // the canvas is `canvas` inside it (the whole port when empty).
    OSStatus show(int portWidth, int portHeight, Rect canvas = {0, 0, 0, 0}, UInt32 options = 0);
    // Any port the test made (an X11 window, say), canvas in its coordinates.
    OSStatus showOn(LVPort* port, Rect canvas, UInt32 options = 0);
    OSStatus hide();
    // One render message; its spectrum falls from `spectrumLevel` at bin 0
    // towards the top, as music's does.
    OSStatus render(uint8_t spectrumLevel = 0);
    // `frames` render messages, each `millisEach` after the last; fails the
    // test at the first that is not answered with noErr.
    void renderFrames(int frames, int millisEach = 17);
    OSStatus idle();
    OSStatus play(const ITTrackInfo& track);
    OSStatus changeTrack(const ITTrackInfo& track);
    OSStatus key(char c, UInt16 what = keyDown);

    // The virtual clock: the plug-in's millis() counts from the first reading
    // after init; sleeps advance it.
    long long mMicros = 0;
    void advanceMillis(long long ms) { mMicros += ms * 1000; }

    // The port, row 0 at the top.
    LVPort mPort{};
    std::vector<uint8_t> mPixels;
    Rect mCanvas{};
    lvtest::RGBA pixel(int x, int y) const;          // port coordinates
    lvtest::RGBA canvasPixel(int x, int y) const;    // canvas coordinates
    std::vector<uint8_t> canvasPixels() const;       // the canvas alone, RGBA rows
    bool writeCanvasPNG(const std::string& name) const;   // into lvtest::outputDir()
    static constexpr lvtest::RGBA kUntouched{1, 2, 3, 4};

    // What the host has seen.
    int mRegisterCount = 0, mFullScreenOptionsCount = 0, mCoverArtCount = 0, mOtherRequestCount = 0;
    PlayerMessageInfo mRegisterRecord{};
    PlayerSetFullScreenOptionsMessage mFullScreenOptions{};
    VisualPluginProcPtr mHandler = nullptr;
    void* mHandlerRefCon = nullptr;

    // What the host answers to "covr": these bytes (none: no artwork).
    std::vector<uint8_t> mCoverBytes;
    OSType mCoverFormat = 0;
    OSStatus mCoverStatus = noErr;
    OSStatus mRegisterStatus = noErr;

    LumenvortexAttachCorvaneFn mAttachCorvane = nullptr;

private:
    static OSStatus appProc(void* appCookie, OSType message, PlayerMessageInfo* info);

    void* mModule = nullptr;
    OSStatus (*mEntry)(OSType, PluginMessageInfo*, void*) = nullptr;
    bool mShown = false;
};

}  // namespace lvhost
