// The plug-in module under a host: registration as the host receives it, the
// full-screen options, key events, unknown messages, messages that come
// early or late. Each test loads the module afresh in a child process.
#include <EGL/egl.h>
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "MacMemory.h"
#include "test_host.h"
#include "test_xserver.h"

using lvhost::TestHost;
using lvhost::runWithHost;
using lvtest::RGBA;

namespace {

bool isCoverRed(RGBA p) { return p.r > 190 && p.g < 60 && p.b < 60; }

void offerRedCover(TestHost& host) {
    host.mCoverArt = lvtest::makePNG(8, 8, lvtest::solid({255, 0, 0, 255}));
    host.mCoverArtFormat = kCoverArtPNG;
}

std::vector<int> fullScreenOptions(const TestHost& host) {
    const PlayerSetFullScreenOptionsMessage& o = host.mFullScreenOptions;
    return {o.minBitDepth, o.maxBitDepth, o.preferredBitDepth, o.desiredWidth, o.desiredHeight};
}

GLint samples() {
    GLint n = -1;
    glGetIntegerv(GL_SAMPLES, &n);
    return n;
}

}  // namespace

TEST(PluginHost, RegistrationRecordAndFullScreenOptionsAsTheHostReceivesThem) {
    lvhost::runIsolated([] {
        unsetenv("DISPLAY");
        TestHost host;
        ASSERT_TRUE(host.loaded());
        EXPECT_EQ(host.mAttachCorvane(5555), 0) << "no applet before init";
        EXPECT_EQ(host.init(), noErr);
        EXPECT_EQ(host.requests(FourCC("rvis")), 1);
        const PlayerMessageInfo& m = host.mRegisterRecord;
        EXPECT_EQ(std::vector<size_t>({m.messageMajorVersion, m.messageMinorVersion, m.messageInfoSize}),
                  std::vector<size_t>({10, 5, sizeof(PlayerMessageInfo)}));
        const PlayerRegisterVisualPluginMessage& r = m.u.registerVisualPluginMessage;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.name), 13), std::string("\x0BLumenvortex\0", 13));
        const unsigned char version[4] = {0, 0, 0, 1};
        EXPECT_EQ(std::memcmp(&r.pluginVersion, version, 4), 0);
        EXPECT_NE(r.handler, nullptr);
        EXPECT_EQ(r.registerRefCon, nullptr);
        EXPECT_EQ(std::vector<long>({r.options, r.creator, r.timeBetweenDataInMS, r.numWaveformChannels,
                                     r.numSpectrumChannels, r.minWidth, r.minHeight, r.maxWidth, r.maxHeight,
                                     r.minFullScreenBitDepth, r.maxFullScreenBitDepth, r.windowAlignmentInBytes}),
                  std::vector<long>({8, 0x686F6F6B /* hook */, 16, 2, 2, 64, 64, 32767, 32767, 0, 0, 0}));
        for (int port : {0, 70000}) EXPECT_EQ(host.mAttachCorvane(port), 0) << port;

        // Without a display the full-screen options wait for the first show,
        // which tells the screen's size, and are sent once.
        EXPECT_EQ(host.requests(FourCC("sfop")), 0);
        ASSERT_EQ(host.show(320, 240), noErr);
        EXPECT_EQ(host.requests(FourCC("sfop")), 1);
        EXPECT_EQ(fullScreenOptions(host), std::vector<int>({8, 32, 32, 320, 240}));
        host.hide();
        host.show(320, 240);
        EXPECT_EQ(host.requests(FourCC("sfop")), 1);
    });
    // On an X display they are sent at init, from X's screen.
    lvhost::runIsolated([] {
        lvtest::XServer server(1024, 768);
        if (!server.running()) GTEST_SKIP() << server.error();
        setenv("DISPLAY", server.display().c_str(), 1);
        TestHost host;
        ASSERT_TRUE(host.loaded());
        host.init();
        EXPECT_EQ(host.requests(FourCC("sfop")), 1);
        EXPECT_EQ(fullScreenOptions(host), std::vector<int>({8, 32, 24, 1024, 768}));
    });
}

TEST(PluginHost, EveryEventAndEveryUnknownMessageIsReportedUnhandled) {
    runWithHost([](TestHost& host) {
        ASSERT_EQ(host.show(160, 120), noErr);
        for (int c = 0; c < 256; ++c) {
            if (c == 'q' || c == 'Q') continue;   // context replacement: below
            ASSERT_EQ(host.key(char(c), keyDown), unimpErr) << c;
            ASSERT_EQ(host.key(char(c), autoKey), unimpErr) << c;
        }
        EXPECT_EQ(host.key('a', 1), unimpErr);   // mouse down
        auto info = lvhost::zeroed<VisualPluginMessageInfo>();
        EXPECT_EQ(host.send(FourCC("vevt"), &info), unimpErr);   // no event record
        // Messages that carry a record are refused without one, track
        // messages also without the track record in it.
        for (OSType t : {FourCC("init"), FourCC("show"), FourCC("swin"), FourCC("vrnd"), FourCC("vply"),
                         FourCC("ctrk")})
            EXPECT_EQ(host.send(t, nullptr), paramErr) << std::hex << t;
        for (OSType t : {FourCC("vply"), FourCC("ctrk")}) EXPECT_EQ(host.send(t, &info), paramErr) << std::hex << t;
        for (OSType t : {FourCC("xyzw"), FourCC("vpp1"), FourCC("INIT"), FourCC("shoW")})
            EXPECT_EQ(host.send(t, &info), unimpErr) << std::hex << t;
        for (OSType t : {FourCC("clr "), FourCC("cnfg"), FourCC("setp"), FourCC("von "), FourCC("voff"),
                         FourCC("vpau"), FourCC("vunp"), FourCC("vstp")})
            EXPECT_EQ(host.send(t, &info), noErr) << std::hex << t;
        EXPECT_EQ(host.requests(FourCC("rvis")) + host.requests(FourCC("sfop")), long(host.mRequests.size()))
            << "the plug-in asks the host nothing else here";
        host.renderFrames(2);
        EXPECT_EQ(host.mPort.frameCount, 2u);
    });
}

// Q and q (antialiasing on and off), and a renderer chosen while shown, each
// put a new context in place, with the overlay's textures made again in it.
// The plug-in leaves its context current with its canvas bound, so the host
// can see how it draws. An unknown renderer changes nothing.
TEST(PluginHost, EachNewContextWhileShownDrawsTheOverlayAgain) {
    runWithHost([](TestHost& host) {
        offerRedCover(host);
        ASSERT_EQ(host.show(320, 240), noErr);
        host.play(lvhost::makeTrack(u"Name", u"Artist", u"Album"));
        ASSERT_EQ(host.mCoverRequests, 1);
        host.renderFrames(1);
        EXPECT_EQ(samples(), 0);
        const EGLContext first = eglGetCurrentContext();
        EXPECT_FALSE(host.setRenderer("vulkan"));
        EXPECT_EQ(eglGetCurrentContext(), first);
        for (const std::string change : {"Q", "q", "gles", "reference"}) {
            const EGLContext previous = eglGetCurrentContext();
            // Keys go back to the host as unhandled; a known renderer is taken.
            ASSERT_TRUE(change.size() == 1 ? host.key(change[0]) == unimpErr : host.setRenderer(change)) << change;
            EXPECT_NE(eglGetCurrentContext(), previous) << change;
            host.renderFrames(1);
            EXPECT_EQ(samples(), change == "Q" ? 4 : 0) << change << ": Mesa's llvmpipe multisamples 4x";
            const std::string version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
            EXPECT_EQ(version.rfind("OpenGL ES", 0) == 0, change == "gles") << version;
            EXPECT_TRUE(isCoverRed(host.canvasPixel(50, 240 - 50))) << change;
            EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR) << change;
            if (change == "q") {
                EXPECT_EQ(host.mCoverRequests, 3);
            }
        }
    });
}

// A track announced before the first show ("vply", or "ctrk" alone) is drawn
// once there is a context: the name white beside the red cover. After a play,
// "ctrk" replaces what every later context draws (show after hide, q).
TEST(PluginHost, PlayOrChangeTrackBeforeTheFirstShowIsKeptForEveryLaterContext) {
    for (OSType early : {FourCC("vply"), FourCC("ctrk")}) {
        runWithHost([early](TestHost& host) {
            offerRedCover(host);
            const ITTrackInfo track = lvhost::makeTrack(u"Early", u"Bird", u"Album");
            EXPECT_EQ(early == FourCC("vply") ? host.play(track) : host.changeTrack(track), noErr);
            EXPECT_EQ(host.mCoverRequests, 0) << "nothing is built without a context";
            ASSERT_EQ(host.show(400, 300), noErr);
            EXPECT_EQ(host.mCoverRequests, 1);
            // The right edge of the white name beside the cover.
            auto nameRightEdge = [&] {
                host.renderFrames(1);
                int right = -1;
                for (int y = 300 - 84; y < 300; ++y)
                    for (int x = 94; x < 400; ++x) {
                        const RGBA p = host.canvasPixel(x, y);
                        if (p.r > 200 && p.g > 200 && p.b > 200) right = std::max(right, x);
                    }
                return right;
            };
            EXPECT_GT(nameRightEdge(), 120) << "no name drawn";
            EXPECT_TRUE(isCoverRed(host.canvasPixel(30, 300 - 30)));

            // A narrow name played, then changed to a wide one.
            host.play(lvhost::makeTrack(u"i", u"", u""));
            host.changeTrack(lvhost::makeTrack(u"WWWWWWWWWWWWWWWW", u"", u""));
            for (const std::string after : {"change", "hide and show", "q"}) {
                if (after == "hide and show") host.hide(), host.show(400, 300);
                if (after == "q") host.key('q');
                EXPECT_GT(nameRightEdge(), 250) << "after " << after;
                EXPECT_TRUE(isCoverRed(host.canvasPixel(30, 300 - 30))) << "after " << after;
            }
        });
    }
}

TEST(PluginHost, HiddenOrWithoutAUsablePortThePluginDrawsNothing) {
    runWithHost([](TestHost& host) {
        // Before the first show there is nothing to draw with.
        EXPECT_EQ(host.render(), noErr);
        EXPECT_EQ(host.idle(), noErr);
        ASSERT_EQ(host.show(200, 150), noErr);
        host.renderFrames(2);
        EXPECT_EQ(host.idle(), noErr);
        EXPECT_EQ(host.mPort.frameCount, 3u) << "idle messages draw while shown";
        EXPECT_EQ(host.hide(), noErr);
        EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
        EXPECT_EQ(host.idle(), noErr);
        EXPECT_EQ(host.send(FourCC("vupd"), nullptr), noErr);
        EXPECT_EQ(host.mPort.frameCount, 3u);

        // q while hidden makes no context on the old port, nor do shows on
        // ports that cannot be drawn on; the next good show is multisampled.
        EXPECT_EQ(host.key('q'), unimpErr);
        EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
        EXPECT_EQ(host.show(nullptr, Rect{0, 0, 100, 100}), noErr);
        EXPECT_EQ(host.render(), noErr);
        EXPECT_EQ(host.idle(), noErr);
        LVPort empty{};
        empty.kind = LV_PORT_OFFSCREEN;
        EXPECT_EQ(host.show(&empty, Rect{0, 0, 100, 100}), noErr);
        EXPECT_EQ(host.render(), noErr);
        EXPECT_EQ(empty.frameCount, 0u);
        ASSERT_EQ(host.show(200, 150), noErr);
        host.renderFrames(1);
        EXPECT_EQ(host.mPort.frameCount, 1u);
        EXPECT_EQ(samples(), 4);
    });
}

// A canvas inside a larger port, then moved and reshaped by "swin": drawn
// there and nowhere else, the right way up, on a viewport of its own size,
// with the cover 20 pixels from its left and bottom edges.
TEST(PluginHost, TheCanvasIsDrawnWhereTheHostPutsItAndSetWindowMovesIt) {
    runWithHost([](TestHost& host) {
        offerRedCover(host);
        auto drawnOnlyIn = [&](Rect r) {   // top, left, bottom, right
            std::fill(host.mPixels.begin(), host.mPixels.end(), 0);
            host.renderFrames(1);
            for (auto [x, y, drawn] : {std::tuple{r.left, r.top, true}, {r.right - 1, r.bottom - 1, true},
                                       {r.left - 1, r.top, false}, {r.right, r.bottom - 1, false},
                                       {r.left, r.top - 1, false}, {r.left, r.bottom, false}})
                EXPECT_EQ(host.pixel(x, y) != RGBA{}, drawn) << x << ", " << y;
            GLint v[4];
            glGetIntegerv(GL_VIEWPORT, v);
            EXPECT_EQ(std::vector<int>(v, v + 4), std::vector<int>({0, 0, r.right - r.left, r.bottom - r.top}));
            for (auto [x, y] : {std::pair{28, 76}, {76, 28}})   // inside the cover's corners, from the lower left
                EXPECT_TRUE(isCoverRed(host.pixel(r.left + x, r.bottom - y))) << x << ", " << y;
        };
        ASSERT_EQ(host.show(300, 200, Rect{10, 20, 110, 220}), noErr);
        host.play(lvhost::makeTrack(u"Track", u"", u""));
        drawnOnlyIn(Rect{10, 20, 110, 220});
        auto info = lvhost::zeroed<VisualPluginMessageInfo>();
        info.u.setWindowMessage.drawRect = Rect{60, 100, 190, 250};
        EXPECT_EQ(host.send(FourCC("swin"), &info), noErr);
        drawnOnlyIn(info.u.setWindowMessage.drawRect);
    });
}
