// The tests' host of the plug-in module: the shared host side of the
// interface (plugin/host/plugin_module.h) on build/bin/Lumenvortex.so, with
// what tests add to it: an offscreen port they can read, a virtual clock, and
// messages made from raw records.
//
// Every plug-in keeps process-wide state from its first message to its
// unloading, so each test runs in a child process of its own (runIsolated):
// the module is loaded fresh there and the child's failures fail the test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "gl_test_env.h"
#include "plugin_module.h"
#include "test_pictures.h"

namespace lvhost {

class TestHost;

void runIsolated(const std::function<void()>& body);
// runIsolated with no X display (the port then tells the screen's size at
// the first show), a loaded module, and "init" sent.
void runWithHost(const std::function<void(TestHost&)>& body);

template <class T>
T zeroed() {
    T t;
    std::memset(static_cast<void*>(&t), 0, sizeof t);
    return t;
}

void setHostString(ITUniStr255 dest, const std::u16string& text);
ITTrackInfo makeTrack(const std::u16string& name, const std::u16string& artist, const std::u16string& album);

class TestHost : public PluginModule {
public:
    TestHost();    // loads the module and sets the virtual clock (fails the test if it cannot)
    ~TestHost();   // hides if shown; unloading is left to the process's end

    // The entry point's "init", then the handler's. The entry point's status.
    OSStatus init();

    using PluginModule::render;
    using PluginModule::show;
    // An offscreen port of portWidth x portHeight, pre-filled with kUntouched;
    // the canvas is `canvas` inside it (the whole port when empty).
    OSStatus show(int portWidth, int portHeight, Rect canvas = {0, 0, 0, 0}, UInt32 options = 0);
    // One render message; its spectrum falls from `spectrumLevel` at bin 0
    // towards the top, as music's does.
    OSStatus render(uint8_t spectrumLevel = 0);
    // `frames` render messages, each `millisEach` after the last; fails the
    // test at the first that is not answered with noErr.
    void renderFrames(int frames, int millisEach = 17);
    OSStatus key(char c, UInt16 what = keyDown) { return event(what, UInt32(uint8_t(c))); }
    // How many requests with this code the plug-in has made.
    long requests(OSType code) const { return std::count(mRequests.begin(), mRequests.end(), code); }

    // The virtual clock: the plug-in's millis() counts from the first reading
    // after init; sleeps advance it.
    long long mMicros = 0;
    void advanceMillis(long long ms) { mMicros += ms * 1000; }

    // Set before show: the frames come through frameReady, as an export
    // takes them (LV_PORT_FRAME_LAG swaps late), into the pixels below; the
    // canvas must be the whole port.
    bool mFramesAsAnExport = false;

    // The port, row 0 at the top.
    LVPort mPort{};
    std::vector<uint8_t> mPixels;
    Rect mCanvas{};
    lvtest::RGBA pixel(int x, int y) const;          // port coordinates
    lvtest::RGBA canvasPixel(int x, int y) const;    // canvas coordinates
    std::vector<uint8_t> canvasPixels() const;       // the canvas alone, RGBA rows
    bool writeCanvasPNG(const std::string& name) const;   // into lvtest::outputDir()
    static constexpr lvtest::RGBA kUntouched{1, 2, 3, 4};
};

}  // namespace lvhost
