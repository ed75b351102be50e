// The plug-in module under a host: registration as the host receives it, the
// full-screen options, key events, messages that come early or late, and the
// host extensions. Each test loads the module afresh in a child process.
#include <EGL/egl.h>
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "MacMemory.h"
#include "test_host.h"
#include "test_xserver.h"

#include <X11/Xlib.h>   // after gtest: its macros (None, Bool) break gtest
#include <X11/Xutil.h>

using lvhost::TestHost;
using lvhost::runIsolated;
using lvtest::RGBA;

namespace {

// The test machine has no X display; the offscreen port then tells the
// screen's size at the first show.
void noDisplay() { unsetenv("DISPLAY"); }

bool isCoverRed(RGBA p) { return p.r > 190 && p.g < 60 && p.b < 60; }

void renderFrames(TestHost& host, int n) {
    for (int i = 0; i < n; ++i) {
        host.advanceMillis(17);
        ASSERT_EQ(host.render(), noErr);
    }
}

std::vector<uint8_t> redCover() {
    return lvtest::makePNG(8, 8, [](int, int) { return RGBA{255, 0, 0, 255}; });
}

}  // namespace

TEST(PluginHost, RegistrationRecordAsTheHostReceivesIt) {
    runIsolated([] {
        noDisplay();
        TestHost host;
        ASSERT_TRUE(host.loaded());
        EXPECT_EQ(host.init(), noErr);
        EXPECT_EQ(host.mRegisterCount, 1);
        const PlayerMessageInfo& m = host.mRegisterRecord;
        EXPECT_EQ(m.messageMajorVersion, 10u);
        EXPECT_EQ(m.messageMinorVersion, 5u);
        EXPECT_EQ(m.messageInfoSize, sizeof(PlayerMessageInfo));
        const PlayerRegisterVisualPluginMessage& r = m.u.registerVisualPluginMessage;
        EXPECT_EQ(r.name[0], 11);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r.name[1]), 11), "Lumenvortex");
        EXPECT_EQ(r.name[12], 0);
        EXPECT_EQ(r.options, 8u);
        EXPECT_EQ(r.creator, 0x686F6F6Bu);
        const unsigned char version[4] = {0, 0, 0, 1};
        EXPECT_EQ(std::memcmp(&r.pluginVersion, version, 4), 0);
        EXPECT_NE(r.handler, nullptr);
        EXPECT_EQ(r.registerRefCon, nullptr);
        EXPECT_EQ(r.timeBetweenDataInMS, 16u);
        EXPECT_EQ(r.numWaveformChannels, 2u);
        EXPECT_EQ(r.numSpectrumChannels, 2u);
        EXPECT_EQ(r.minWidth, 64);
        EXPECT_EQ(r.minHeight, 64);
        EXPECT_EQ(r.maxWidth, 32767);
        EXPECT_EQ(r.maxHeight, 32767);
        EXPECT_EQ(r.minFullScreenBitDepth, 0);
        EXPECT_EQ(r.maxFullScreenBitDepth, 0);
        EXPECT_EQ(r.windowAlignmentInBytes, 0);

        // Without a display the full-screen options wait for the first show,
        // and are sent once.
        EXPECT_EQ(host.mFullScreenOptionsCount, 0);
        ASSERT_EQ(host.show(320, 240), noErr);
        EXPECT_EQ(host.mFullScreenOptionsCount, 1);
        const PlayerSetFullScreenOptionsMessage& o = host.mFullScreenOptions;
        EXPECT_EQ(std::vector<int>({o.minBitDepth, o.maxBitDepth, o.preferredBitDepth, o.desiredWidth, o.desiredHeight}),
                  std::vector<int>({8, 32, 32, 320, 240}));
        host.hide();
        host.show(320, 240);
        EXPECT_EQ(host.mFullScreenOptionsCount, 1);
    });
}

TEST(PluginHost, RegistrationStatusIsPassedBackAndThePluginStillRuns) {
    runIsolated([] {
        noDisplay();
        TestHost host;
        ASSERT_TRUE(host.loaded());
        EXPECT_EQ(host.init(-108), -108);
        ASSERT_EQ(host.show(160, 120), noErr);
        renderFrames(host, 3);
        EXPECT_EQ(host.mPort.frameCount, 3u);
    });
}

TEST(PluginHost, EveryEventIsReportedUnhandled) {
    runIsolated([] {
        noDisplay();
        TestHost host;
        ASSERT_TRUE(host.loaded());
        host.init();
        ASSERT_EQ(host.show(160, 120), noErr);
        for (int c = 0; c < 256; ++c) {
            if (c == 'q' || c == 'Q') continue;   // context replacement: below
            ASSERT_EQ(host.key(char(c), keyDown), unimpErr) << c;
            ASSERT_EQ(host.key(char(c), autoKey), unimpErr) << c;
        }
        EXPECT_EQ(host.key('a', 1), unimpErr);   // mouse down
        VisualPluginMessageInfo info;
        std::memset(&info, 0, sizeof info);
        EXPECT_EQ(host.send(FourCC("vevt"), &info), unimpErr);   // no event record
        renderFrames(host, 2);
        EXPECT_EQ(host.mPort.frameCount, 2u);
    });
}

TEST(PluginHost, UpperCaseQTogglesAntialiasingLikeLowerCase) {
    runIsolated([] {
        noDisplay();
        TestHost host;
        ASSERT_TRUE(host.loaded());
        host.init();
        host.mCoverBytes = redCover();
        host.mCoverFormat = kCoverArtPNG;
        ASSERT_EQ(host.show(320, 240), noErr);
        host.play(lvhost::makeTrack(u"Name", u"Artist", u"Album"));
        ASSERT_EQ(host.mCoverArtCount, 1);
        renderFrames(host, 1);
        const EGLContext before = eglGetCurrentContext();
        // The plug-in leaves its context current with its canvas bound, so
        // the host can see how it draws.
        GLint samples = -1;
        glGetIntegerv(GL_SAMPLES, &samples);
        EXPECT_EQ(samples, 0);

        for (char q : {'Q', 'q'}) {
            const EGLContext previous = eglGetCurrentContext();
            EXPECT_EQ(host.key(q), unimpErr);
            EXPECT_NE(eglGetCurrentContext(), previous) << "a new context for " << q;
            renderFrames(host, 1);
            glGetIntegerv(GL_SAMPLES, &samples);
            EXPECT_EQ(samples, q == 'Q' ? 4 : 0) << "Mesa's llvmpipe multisamples 4x";
            // The overlay's textures were made again in the new context.
            EXPECT_TRUE(isCoverRed(host.canvasPixel(50, 240 - 50))) << q;
        }
        EXPECT_EQ(host.mCoverArtCount, 3);
        EXPECT_NE(eglGetCurrentContext(), before);
    });
}

TEST(PluginHost, UnknownAndIgnoredMessages) {
    runIsolated([] {
        noDisplay();
        TestHost host;
        ASSERT_TRUE(host.loaded());
        host.init();
        VisualPluginMessageInfo info;
        std::memset(&info, 0, sizeof info);
        for (const char* code : {"xyzw", "vpp1", "INIT", "shoW"}) {
            OSType t = OSType(uint8_t(code[0])) << 24 | OSType(uint8_t(code[1])) << 16 |
                       OSType(uint8_t(code[2])) << 8 | uint8_t(code[3]);
            EXPECT_EQ(host.send(t, &info), unimpErr) << code;
        }
        for (OSType t : {FourCC("clr "), FourCC("cnfg"), FourCC("setp"), FourCC("von "), FourCC("voff"),
                         FourCC("vpau"), FourCC("vunp"), FourCC("vstp")})
            EXPECT_EQ(host.send(t, &info), noErr);
        EXPECT_EQ(host.mOtherRequestCount, 0);
    });
}

TEST(PluginHost, PlayBeforeTheFirstShowIsKeptForIt) {
    runIsolated([] {
        noDisplay();
        TestHost host;
        ASSERT_TRUE(host.loaded());
        host.init();
        host.mCoverBytes = redCover();
        host.mCoverFormat = kCoverArtPNG;
        EXPECT_EQ(host.play(lvhost::makeTrack(u"Early", u"Bird", u"Album")), noErr);
        EXPECT_EQ(host.mCoverArtCount, 0) << "nothing is built without a context";
        ASSERT_EQ(host.show(400, 300), noErr);
        EXPECT_EQ(host.mCoverArtCount, 1);
        renderFrames(host, 1);
        EXPECT_TRUE(isCoverRed(host.canvasPixel(30, 300 - 30)));
        // The name, white, beside the cover.
        int white = 0;
        for (int y = 300 - 84; y < 300 - 20; ++y)
            for (int x = 94; x < 300; ++x) {
                const RGBA p = host.canvasPixel(x, y);
                white += p.r > 200 && p.g > 200 && p.b > 200;
            }
        EXPECT_GT(white, 30);
    });
}

TEST(PluginHost, ChangeTrackBeforeAnyShowDoesNothing) {
    runIsolated([] {
        noDisplay();
        TestHost host;
        ASSERT_TRUE(host.loaded());
        host.init();
        host.mCoverBytes = redCover();
        host.mCoverFormat = kCoverArtPNG;
        EXPECT_EQ(host.changeTrack(lvhost::makeTrack(u"Early", u"Bird", u"Album")), noErr);
        ASSERT_EQ(host.show(400, 300), noErr);
        EXPECT_EQ(host.mCoverArtCount, 0);
        renderFrames(host, 1);
        EXPECT_FALSE(isCoverRed(host.canvasPixel(30, 300 - 30)));

        // After the show it rebuilds from its own record, which a later show
        // does not remember: only play messages are kept.
        host.changeTrack(lvhost::makeTrack(u"Later", u"Bird", u"Album"));
        EXPECT_EQ(host.mCoverArtCount, 1);
        host.hide();
        host.show(400, 300);
        EXPECT_EQ(host.mCoverArtCount, 1);
        renderFrames(host, 1);
        EXPECT_FALSE(isCoverRed(host.canvasPixel(30, 300 - 30)));
        const RGBA p = host.canvasPixel(30, 300 - 30);
        EXPECT_FALSE(p.r > 200 && p.g > 200 && p.b > 200) << "a stale texture id draws as a white box";
    });
}

TEST(PluginHost, HiddenPluginDrawsNothing) {
    runIsolated([] {
        noDisplay();
        TestHost host;
        ASSERT_TRUE(host.loaded());
        host.init();
        // Before the first show there is nothing to draw with.
        EXPECT_EQ(host.render(), noErr);
        EXPECT_EQ(host.idle(), noErr);
        ASSERT_EQ(host.show(200, 150), noErr);
        renderFrames(host, 2);
        EXPECT_EQ(host.idle(), noErr);
        EXPECT_EQ(host.mPort.frameCount, 3u) << "idle messages draw while shown";
        EXPECT_EQ(host.hide(), noErr);
        EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
        EXPECT_EQ(host.idle(), noErr);
        EXPECT_EQ(host.send(FourCC("vupd"), nullptr), noErr);
        EXPECT_EQ(host.mPort.frameCount, 3u);

        // q while hidden makes no context on the old port; the next show
        // makes its context multisampled.
        EXPECT_EQ(host.key('q'), unimpErr);
        EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
        ASSERT_EQ(host.show(200, 150), noErr);
        renderFrames(host, 1);
        GLint samples = -1;
        glGetIntegerv(GL_SAMPLES, &samples);
        EXPECT_EQ(samples, 4);
    });
}

TEST(PluginHost, SetWindowMovesTheCanvas) {
    runIsolated([] {
        noDisplay();
        TestHost host;
        ASSERT_TRUE(host.loaded());
        host.init();
        ASSERT_EQ(host.show(300, 200, Rect{0, 0, 200, 300}), noErr);
        renderFrames(host, 1);
        VisualPluginMessageInfo info;
        std::memset(&info, 0, sizeof info);
        info.u.setWindowMessage.drawRect = Rect{50, 100, 150, 250};
        EXPECT_EQ(host.send(FourCC("swin"), &info), noErr);
        std::fill(host.mPixels.begin(), host.mPixels.end(), 0);
        renderFrames(host, 1);
        EXPECT_NE(host.pixel(100, 50), (RGBA{0, 0, 0, 0}));
        EXPECT_NE(host.pixel(249, 149), (RGBA{0, 0, 0, 0}));
        EXPECT_EQ(host.pixel(99, 50), (RGBA{0, 0, 0, 0}));
        EXPECT_EQ(host.pixel(250, 149), (RGBA{0, 0, 0, 0}));
        EXPECT_EQ(host.pixel(100, 150), (RGBA{0, 0, 0, 0}));
    });
}

TEST(PluginHost, CorvaneSourceAttachesOnlyWhenAServerListens) {
    runIsolated([] {
        noDisplay();
        TestHost host;
        ASSERT_TRUE(host.loaded());
        EXPECT_EQ(host.mAttachCorvane(5555), 0) << "no applet before init";
        host.init();
        EXPECT_EQ(host.mAttachCorvane(1), 0) << "nothing listens on port 1";
        EXPECT_EQ(host.mAttachCorvane(0), 0);
        EXPECT_EQ(host.mAttachCorvane(70000), 0);

        const int listener = socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_GE(listener, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(listen(listener, 1), 0);
        socklen_t len = sizeof addr;
        ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
        EXPECT_EQ(host.mAttachCorvane(ntohs(addr.sin_port)), 1);

        ASSERT_EQ(host.show(160, 120), noErr);
        renderFrames(host, 2);   // a silent server does not hold frames up
        EXPECT_EQ(host.mPort.frameCount, 2u);
        EXPECT_EQ(host.mAttachCorvane(0), 0);
        renderFrames(host, 1);
        EXPECT_EQ(host.mPort.frameCount, 3u);
        close(listener);
    });
}

TEST(PluginHost, OnAnXDisplayTheScreenIsToldAtInitAndFramesReachTheWindow) {
    runIsolated([] {
        lvtest::XServer server(1024, 768);
        if (!server.running()) GTEST_SKIP() << server.error();
        setenv("DISPLAY", server.display().c_str(), 1);
        Display* display = XOpenDisplay(server.display().c_str());
        ASSERT_NE(display, nullptr);
        const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 320, 200, 0, 0, 0);
        XMapWindow(display, window);
        XSync(display, False);

        TestHost host;
        ASSERT_TRUE(host.loaded());
        host.init();
        EXPECT_EQ(host.mFullScreenOptionsCount, 1);
        const PlayerSetFullScreenOptionsMessage& o = host.mFullScreenOptions;
        EXPECT_EQ(std::vector<int>({o.minBitDepth, o.maxBitDepth, o.preferredBitDepth, o.desiredWidth, o.desiredHeight}),
                  std::vector<int>({8, 32, 24, 1024, 768}));

        LVPort port{};
        port.kind = LV_PORT_X11_WINDOW;
        port.x11Display = display;
        port.x11Window = window;
        ASSERT_EQ(host.showOn(&port, Rect{0, 0, 200, 320}), noErr);
        EXPECT_EQ(host.mFullScreenOptionsCount, 1);
        renderFrames(host, 3);
        XSync(display, False);
        // The scene clears to its background colour, which is never pure
        // black on the first frames; the window is black until a frame lands.
        XImage* image = XGetImage(display, window, 0, 0, 320, 200, AllPlanes, ZPixmap);
        ASSERT_NE(image, nullptr);
        int lit = 0;
        for (int y = 0; y < 200; y += 10)
            for (int x = 0; x < 320; x += 10) lit += (XGetPixel(image, x, y) & 0xFFFFFF) != 0;
        XDestroyImage(image);
        EXPECT_GT(lit, 500);
        host.hide();
        XDestroyWindow(display, window);
        XCloseDisplay(display);
    });
}

TEST(PluginHost, AShowWithoutAUsablePortDrawsNothingUntilAGoodOne) {
    runIsolated([] {
        noDisplay();
        TestHost host;
        ASSERT_TRUE(host.loaded());
        host.init();
        EXPECT_EQ(host.showOn(nullptr, Rect{0, 0, 100, 100}), noErr);
        EXPECT_EQ(host.render(), noErr);
        EXPECT_EQ(host.idle(), noErr);
        EXPECT_EQ(host.key('q'), unimpErr);
        LVPort empty{};
        empty.kind = LV_PORT_OFFSCREEN;
        EXPECT_EQ(host.showOn(&empty, Rect{0, 0, 100, 100}), noErr);
        EXPECT_EQ(host.render(), noErr);
        EXPECT_EQ(empty.frameCount, 0u);

        ASSERT_EQ(host.show(200, 100), noErr);
        renderFrames(host, 2);
        EXPECT_EQ(host.mPort.frameCount, 2u);
    });
}
