// GL contexts on ports, on the real Mesa driver: where a swap puts the frame
// in an offscreen port and what it leaves alone, multisampling where the
// driver has it, and frames reaching a real X11 window (a private Xvfb).
#include <gtest/gtest.h>   // before Xlib, whose macros (None, Bool) break it

#include <GL/gl.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "gl_test_env.h"
#include "lv/gl_context.h"
#include "test_xserver.h"

using lvtest::RGBA;

namespace {

constexpr RGBA kSentinel{9, 8, 7, 6};

struct OffscreenPort : lvtest::OffscreenPort {
    OffscreenPort(int w, int h) : lvtest::OffscreenPort(w, h, kSentinel) {}
};

// The whole set-up chain; fails the test at the step that fails.
lvgl::Context* attach(LVPort* port, bool multisample, const int* bufferRect = nullptr,
                      lvgl::Api api = lvgl::Api::DESKTOP_GL) {
    std::string error;
    lvgl::PixelFormat* format = lvgl::choosePixelFormat(port, multisample, api, error);
    EXPECT_NE(format, nullptr) << error;
    if (!format) return nullptr;
    lvgl::Context* c = lvgl::createContext(format, error);
    lvgl::destroyPixelFormat(format);
    EXPECT_NE(c, nullptr) << error;
    if (!c) return nullptr;
    EXPECT_TRUE(lvgl::setDrawable(c, port, error)) << error;
    EXPECT_TRUE(lvgl::makeCurrent(c, error)) << error;
    if (bufferRect) {
        EXPECT_TRUE(lvgl::enableBufferRect(c, error) && lvgl::setBufferRect(c, bufferRect, error)) << error;
    }
    EXPECT_TRUE(lvgl::updateContext(c, error)) << error;
    return c;
}

// Clears a w x h canvas to `clear`, then fills its upper half with `top`
// under a y-down projection, as the visualizer draws.
void drawFrame(int w, int h, RGBA clear, RGBA top) {
    glViewport(0, 0, w, h);
    glClearColor(clear.r / 255.f, clear.g / 255.f, clear.b / 255.f, clear.a / 255.f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, w, h, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor4ub(top.r, top.g, top.b, top.a);
    glRecti(0, 0, w, h / 2);
}

}  // namespace

// On either API (OpenGL ES 3 is the ES renderer's): the swap puts back the
// state it changes, on ES without GL 1's attribute stacks, and calls nothing
// the API lacks (which would leave an error behind).
TEST(GLContext, OffscreenSwapCopiesTheFrameTopRowFirstIntoItsRectangleOnly) {
    for (lvgl::Api api : {lvgl::Api::DESKTOP_GL, lvgl::Api::GLES3}) {
        const bool es = api == lvgl::Api::GLES3;
        SCOPED_TRACE(es ? "OpenGL ES 3" : "desktop GL");
        OffscreenPort p(200, 150);
        const int rect[4] = {20, 30, 100, 50};   // from the bottom left: port rows 70..119
        lvgl::Context* c = attach(&p.port, false, rect, api);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(lvgl::contextApi(c), api);
        const std::string version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        EXPECT_EQ(version.rfind("OpenGL ES 3", 0) == 0, es) << version;
        std::string error;
        EXPECT_FALSE(lvgl::takesFramesInMemory(c, 100, 50)) << "a port without frameReady wants its pixels from GL";
        EXPECT_TRUE(lvgl::setSwapInterval(c, 1, error));
        // Red below, yellow in the top half (ES has no rectangles: a scissored clear).
        glClearColor(1, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 25, 100, 25);
        glClearColor(1, 1, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glColorMask(GL_TRUE, GL_FALSE, GL_TRUE, GL_TRUE);
        ASSERT_TRUE(lvgl::swapBuffers(c, error)) << error;
        EXPECT_EQ(p.port.frameCount, 1u);
        for (int y = 0; y < 150; ++y)
            for (int x = 0; x < 200; ++x) {
                const bool inside = x >= 20 && x < 120 && y >= 70 && y < 120;
                const RGBA want = !inside ? kSentinel : y < 95 ? RGBA{255, 255, 0, 255} : RGBA{255, 0, 0, 255};
                ASSERT_EQ(p.at(x, y), want) << "at " << x << ", " << y;
            }
        EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
        GLboolean mask[4];
        glGetBooleanv(GL_COLOR_WRITEMASK, mask);
        EXPECT_FALSE(mask[1]);
        GLfloat clear[4];
        glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
        EXPECT_EQ(clear[1], 1.0f);
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);

        // A host that shrinks its port without telling gets a clipped copy, not
        // writes past the end of its pixels.
        p.port.width = 60;
        p.port.height = 40;
        const std::vector<RGBA> before = p.pixels;
        EXPECT_TRUE(lvgl::swapBuffers(c, error));
        EXPECT_TRUE(std::equal(before.begin() + 60 * 40, before.end(), p.pixels.begin() + 60 * 40));
        // Without pixels the frame is dropped but still counted.
        p.port.pixels = nullptr;
        EXPECT_TRUE(lvgl::swapBuffers(c, error));
        EXPECT_EQ(p.port.frameCount, 3u);
        lvgl::destroyContext(c);
    }
}

// A host that takes its frames through the pipelined read-back: what it
// saw of each frame, and which frames the GL layer waited for.
struct PipelineHost {
    std::vector<std::tuple<unsigned long, RGBA, RGBA>> seen;   // index, top and bottom left pixels
    std::vector<unsigned long> waited;
    unsigned long out = 0;   // frames handed over and not yet waited for
    unsigned long mostOut = 0;
    static void ready(void* user, const unsigned char* rgba, int w, int h, long stride, unsigned long index) {
        auto* self = static_cast<PipelineHost*>(user);
        RGBA top, bottom;
        std::memcpy(&top, rgba, 4);
        std::memcpy(&bottom, rgba + (h - 1) * stride, 4);
        EXPECT_EQ(w, 40);
        self->seen.push_back({index, top, bottom});
        self->mostOut = std::max(self->mostOut, ++self->out);
    }
    static void wait(void* user, unsigned long index) {
        auto* self = static_cast<PipelineHost*>(user);
        self->waited.push_back(index);
        --self->out;
    }
};

// Every third frame here comes from memory, as a frame the light layer drew
// whole does: it keeps its turn among the frames read back from GL.
TEST(GLContext, PipelinedReadBackHandsEveryFrameOverInOrderAFewSwapsLater) {
    OffscreenPort p(40, 30);
    PipelineHost host;
    p.port.frameReady = &PipelineHost::ready;
    p.port.frameWait = &PipelineHost::wait;
    p.port.frameUser = &host;
    lvgl::Context* c = attach(&p.port, false);
    ASSERT_NE(c, nullptr);
    EXPECT_NE(std::string(p.port.renderer), "") << "the port does not name its renderer";
    EXPECT_TRUE(lvgl::takesFramesInMemory(c, 40, 30));
    EXPECT_FALSE(lvgl::takesFramesInMemory(c, 40, 31));
    std::string error;
    std::vector<unsigned char> wrongSize(40 * 31 * 4, 1);
    EXPECT_FALSE(lvgl::swapBuffers(c, &wrongSize, error));
    EXPECT_NE(error, "");
    EXPECT_EQ(wrongSize, std::vector<unsigned char>(40 * 31 * 4, 1)) << "a refused frame was touched";
    const int frames = 7;
    for (int i = 0; i < frames; ++i) {
        const RGBA top{(unsigned char)(10 * i), 200, 0, 255}, blue{0, 0, 255, 255};
        if (i % 3 == 1) {
            // Rows from the bottom, as GL reads them: the upper half is `top`.
            std::vector<unsigned char> frame(40 * 30 * 4);
            for (int row = 0; row < 30; ++row)
                for (int x = 0; x < 40; ++x) std::memcpy(&frame[(row * 40 + x) * 4], row >= 15 ? &top : &blue, 4);
            ASSERT_TRUE(lvgl::swapBuffers(c, &frame, error)) << error;
        } else {
            drawFrame(40, 30, blue, top);
            ASSERT_TRUE(lvgl::swapBuffers(c, error)) << error;
        }
        // Frame i reaches the host LV_PORT_FRAME_LAG swaps after it was drawn.
        ASSERT_EQ(host.seen.size(), size_t(std::max(0, i + 1 - LV_PORT_FRAME_LAG))) << "after swap " << i;
    }
    EXPECT_EQ(p.port.frameCount, unsigned(frames));
    lvgl::destroyContext(c);   // hands the frames still on their way over first
    ASSERT_EQ(host.seen.size(), size_t(frames));
    for (int i = 0; i < frames; ++i) {
        const std::tuple<unsigned long, RGBA, RGBA> want{(unsigned long)i, {(unsigned char)(10 * i), 200, 0, 255}, {0, 0, 255, 255}};
        EXPECT_EQ(host.seen[i], want) << "frame " << i;
    }
    // Every frame was given back before its memory was used again or freed.
    EXPECT_EQ(host.waited.size(), size_t(frames));
    EXPECT_TRUE(std::is_sorted(host.waited.begin(), host.waited.end()));
    EXPECT_EQ(host.out, 0u);
    EXPECT_LE(host.mostOut, unsigned(LV_PORT_FRAMES_IN_FLIGHT));
    EXPECT_EQ(p.pixels[0], kSentinel) << "the pipelined read-back wrote the port's pixels";
}

// The device choice on made-up lists: machines here have only llvmpipe.
TEST(GLContext, OffscreenContextsPreferAHardwareDeviceOverSoftwareRenderers) {
    const lvgl::DeviceInfo llvmpipe{"llvmpipe", "EGL_MESA_device_software", ""};
    const lvgl::DeviceInfo swrastWithFile{"swrast", "EGL_EXT_device_drm", "/dev/dri/card0"};
    const lvgl::DeviceInfo gpu{"AMD Radeon RX 6600", "EGL_EXT_device_drm EGL_EXT_device_drm_render_node",
                               "/dev/dri/renderD128"};
    const lvgl::DeviceInfo unnamedGpu{"", "EGL_EXT_device_drm", "/dev/dri/card1"};
    EXPECT_EQ(lvgl::chooseDevice({}, false), -1);
    EXPECT_EQ(lvgl::chooseDevice({llvmpipe}, false), -1);
    EXPECT_EQ(lvgl::chooseDevice({llvmpipe, swrastWithFile}, false), -1);
    EXPECT_EQ(lvgl::chooseDevice({llvmpipe, gpu}, false), 1);
    EXPECT_EQ(lvgl::chooseDevice({unnamedGpu, gpu}, false), 0);
    EXPECT_EQ(lvgl::chooseDevice({llvmpipe, gpu}, true), -1) << "LIBGL_ALWAYS_SOFTWARE is not honoured";
    // A software device with a DRM file (vgem, a virtual card) is still software.
    EXPECT_TRUE(lvgl::isSoftwareDevice({"softpipe", "", "/dev/dri/renderD129"}));
    EXPECT_TRUE(lvgl::isSoftwareDevice({"", "EGL_MESA_device_software EGL_EXT_device_drm", "/dev/dri/card2"}));
    EXPECT_FALSE(lvgl::isSoftwareDevice(gpu));
}

TEST(GLContext, MultisamplingSmoothsEdgesWhereTheDriverHasIt) {
    auto edgeShades = [](bool multisample, int* samples) {
        OffscreenPort p(64, 64);
        lvgl::Context* c = attach(&p.port, multisample);   // falls back to a plain format if need be
        if (!c) return -1;
        *samples = lvgl::canvasSamples(c);
        drawFrame(64, 64, {0, 0, 0, 255}, {0, 0, 0, 255});
        glColor3ub(255, 255, 255);
        glBegin(GL_TRIANGLES);   // a diagonal edge across the canvas
        glVertex2f(0, 0);
        glVertex2f(64, 0);
        glVertex2f(0, 64);
        glEnd();
        std::string error;
        lvgl::swapBuffers(c, error);
        lvgl::destroyContext(c);
        return int(std::count_if(p.pixels.begin(), p.pixels.end(), [](RGBA q) { return q.r > 10 && q.r < 245; }));
    };
    int plainSamples = -1, msaaSamples = -1;
    EXPECT_EQ(edgeShades(false, &plainSamples), 0);
    EXPECT_EQ(plainSamples, 0);
    const int shades = edgeShades(true, &msaaSamples);
    if (msaaSamples == 0) GTEST_SKIP() << "this driver has no multisampling";
    EXPECT_EQ(msaaSamples, 4);
    EXPECT_GT(shades, 32) << "the multisampled canvas is not resolved at the swap";
}

TEST(GLContextX11, FramesReachTheWindowAtTheBufferRectangle) {
    lvtest::XServer server(640, 480);
    if (!server.running()) GTEST_SKIP() << server.error();
    Display* display = XOpenDisplay(server.display().c_str());
    ASSERT_NE(display, nullptr);
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 150, 0, 0, 0);
    XMapWindow(display, window);
    XSync(display, False);
    LVPort port{};
    port.kind = LV_PORT_X11_WINDOW;
    port.x11Display = display;
    port.x11Window = window;
    const int rect[4] = {20, 30, 100, 50};   // window rows 70..119 from the top
    lvgl::Context* c = attach(&port, false, rect);
    std::string error;
    ASSERT_NE(c, nullptr);
    drawFrame(100, 50, {255, 0, 0, 255}, {0, 0, 255, 255});
    ASSERT_TRUE(lvgl::swapBuffers(c, error)) << error;
    XSync(display, False);
    // Outside the canvas the window stays black.
    for (auto [x, y, want] : {std::tuple{20, 70, 0x0000FFul}, {119, 94, 0x0000FFul}, {20, 95, 0xFF0000ul},
                              {119, 119, 0xFF0000ul}, {19, 70, 0ul}, {120, 119, 0ul}, {20, 69, 0ul}, {20, 120, 0ul}}) {
        XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(XGetPixel(image, 0, 0) & 0xFFFFFF, want) << x << ", " << y;
        XDestroyImage(image);
    }
    lvgl::destroyContext(c);
    // A window that is gone fails without ending the process.
    port.x11Window = window + 12345;
    EXPECT_EQ(lvgl::choosePixelFormat(&port, false, error), nullptr);
    EXPECT_NE(error.find("gone"), std::string::npos) << error;
    XDestroyWindow(display, window);
    XCloseDisplay(display);
}
