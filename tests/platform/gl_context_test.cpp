// GL contexts on offscreen ports, on the real Mesa driver: where a swap puts
// the frame, what it leaves alone, multisampling, and ports that cannot work.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "gl_test_env.h"
#include "lv/gl_context.h"

using lvtest::RGBA;

namespace {

constexpr RGBA kSentinel{9, 8, 7, 6};

struct OffscreenPort {
    LVPort port{};
    std::vector<uint8_t> pixels;
    OffscreenPort(int w, int h) : pixels(size_t(w) * h * 4) {
        for (size_t i = 0; i < pixels.size(); i += 4) std::memcpy(&pixels[i], &kSentinel, 4);
        port.kind = LV_PORT_OFFSCREEN;
        port.width = w;
        port.height = h;
        port.pixels = pixels.data();
    }
    RGBA at(int x, int y) const {
        RGBA p;
        std::memcpy(&p, &pixels[(size_t(y) * port.width + x) * 4], 4);
        return p;
    }
};

// The whole set-up chain; fails the test at the step that fails.
lvgl::Context* attach(LVPort* port, bool multisample, const int* bufferRect = nullptr) {
    lvgl::PixelFormat* format = lvgl::choosePixelFormat(port, multisample);
    EXPECT_NE(format, nullptr) << lvgl::lastError();
    if (!format) return nullptr;
    lvgl::Context* c = lvgl::createContext(format);
    lvgl::destroyPixelFormat(format);
    EXPECT_NE(c, nullptr) << lvgl::lastError();
    if (!c) return nullptr;
    EXPECT_TRUE(lvgl::setDrawable(c, port)) << lvgl::lastError();
    EXPECT_TRUE(lvgl::makeCurrent(c)) << lvgl::lastError();
    if (bufferRect) {
        EXPECT_TRUE(lvgl::enableBufferRect(c));
        EXPECT_TRUE(lvgl::setBufferRect(c, bufferRect));
    }
    EXPECT_TRUE(lvgl::updateContext(c)) << lvgl::lastError();
    EXPECT_TRUE(lvgl::setSwapInterval(c, 1));
    return c;
}

// Clears to `clear`, then fills the upper half of a w x h canvas with `top`
// under a y-down projection, as the visualizer draws.
void drawFrame(int w, int h, RGBA clear, RGBA top) {
    glViewport(0, 0, w, h);
    glDisable(GL_DEPTH_TEST);
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

TEST(GLContext, OffscreenSwapCopiesTheFrameTopRowFirst) {
    OffscreenPort p(64, 48);
    lvgl::Context* c = attach(&p.port, false);
    ASSERT_NE(c, nullptr);
    drawFrame(64, 48, {0, 0, 255, 255}, {0, 255, 0, 255});
    ASSERT_TRUE(lvgl::swapBuffers(c));
    EXPECT_EQ(p.port.frameCount, 1u);
    EXPECT_EQ(p.at(0, 0), (RGBA{0, 255, 0, 255}));
    EXPECT_EQ(p.at(63, 23), (RGBA{0, 255, 0, 255}));
    EXPECT_EQ(p.at(0, 24), (RGBA{0, 0, 255, 255}));
    EXPECT_EQ(p.at(63, 47), (RGBA{0, 0, 255, 255}));

    // Without pixels the frame is dropped but still counted.
    p.port.pixels = nullptr;
    EXPECT_TRUE(lvgl::swapBuffers(c));
    EXPECT_EQ(p.port.frameCount, 2u);
    lvgl::destroyContext(c);
}

TEST(GLContext, BufferRectangleConfinesTheFrame) {
    OffscreenPort p(200, 150);
    const int rect[4] = {20, 30, 100, 50};   // from the bottom left: port rows 70..119
    lvgl::Context* c = attach(&p.port, false, rect);
    ASSERT_NE(c, nullptr);
    int got[4];
    ASSERT_TRUE(lvgl::getBufferRect(c, got));
    EXPECT_EQ(std::vector<int>(got, got + 4), std::vector<int>(rect, rect + 4));
    drawFrame(100, 50, {255, 0, 0, 255}, {255, 255, 0, 255});
    ASSERT_TRUE(lvgl::swapBuffers(c));
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x) {
            const bool inside = x >= 20 && x < 120 && y >= 70 && y < 120;
            const RGBA want = !inside ? kSentinel : y < 95 ? RGBA{255, 255, 0, 255} : RGBA{255, 0, 0, 255};
            ASSERT_EQ(p.at(x, y), want) << "at " << x << ", " << y;
        }

    // A host that shrinks its port without telling gets a clipped copy, not
    // writes past the end of its pixels.
    p.port.width = 60;
    p.port.height = 40;
    std::vector<uint8_t> before = p.pixels;
    EXPECT_TRUE(lvgl::swapBuffers(c));
    EXPECT_TRUE(std::equal(before.begin() + 60 * 40 * 4, before.end(), p.pixels.begin() + 60 * 40 * 4));
    lvgl::destroyContext(c);
}

TEST(GLContext, MultisamplingSmoothsEdgesWhereTheDriverHasIt) {
    auto edgeShades = [](bool multisample, int* samples) {
        OffscreenPort p(64, 64);
        lvgl::Context* c = attach(&p.port, multisample);
        if (!c) return -1;
        *samples = lvgl::canvasSamples(c);
        drawFrame(64, 64, {0, 0, 0, 255}, {0, 0, 0, 255});
        glColor3ub(255, 255, 255);
        glBegin(GL_TRIANGLES);   // a diagonal edge across the canvas
        glVertex2f(0, 0);
        glVertex2f(64, 0);
        glVertex2f(0, 64);
        glEnd();
        lvgl::swapBuffers(c);
        lvgl::destroyContext(c);
        int shades = 0;
        for (size_t i = 0; i < p.pixels.size(); i += 4) shades += p.pixels[i] > 10 && p.pixels[i] < 245;
        return shades;
    };
    int plainSamples = -1, msaaSamples = -1;
    EXPECT_EQ(edgeShades(false, &plainSamples), 0);
    EXPECT_EQ(plainSamples, 0);
    const int shades = edgeShades(true, &msaaSamples);
    if (msaaSamples == 0) GTEST_SKIP() << "this driver has no multisampling";
    EXPECT_EQ(msaaSamples, 4);
    EXPECT_GT(shades, 32) << "the multisampled canvas is not resolved at the swap";
}

TEST(GLContext, PortsThatCannotWorkFailAtTheirStep) {
    EXPECT_EQ(lvgl::choosePixelFormat(nullptr, false), nullptr);
    LVPort odd{};
    odd.kind = 99;
    EXPECT_EQ(lvgl::choosePixelFormat(&odd, false), nullptr);
    EXPECT_NE(std::string(lvgl::lastError()).find("LV_PORT_OFFSCREEN"), std::string::npos);

    OffscreenPort empty(1, 1);
    empty.port.width = 0;
    lvgl::PixelFormat* format = lvgl::choosePixelFormat(&empty.port, false);
    ASSERT_NE(format, nullptr);
    lvgl::Context* c = lvgl::createContext(format);
    lvgl::destroyPixelFormat(format);
    ASSERT_NE(c, nullptr);
    EXPECT_FALSE(lvgl::setDrawable(c, &empty.port));
    EXPECT_FALSE(lvgl::updateContext(c));   // no port attached
    EXPECT_FALSE(lvgl::swapBuffers(c));

    // A canvas larger than the driver can draw.
    OffscreenPort wide(1, 1);
    wide.port.width = 100000;
    wide.port.pixels = nullptr;
    ASSERT_TRUE(lvgl::setDrawable(c, &wide.port));
    EXPECT_TRUE(lvgl::makeCurrent(c));
    EXPECT_FALSE(lvgl::updateContext(c));
    EXPECT_NE(std::string(lvgl::lastError()).find("larger"), std::string::npos);
    const int emptyRect[4] = {0, 0, 0, 10};
    EXPECT_FALSE(lvgl::setBufferRect(c, emptyRect));
    lvgl::destroyContext(c);
    lvgl::destroyContext(nullptr);
}

TEST(GLContext, ScreensAndReleasing) {
    OffscreenPort p(320, 200);
    int w = 0, h = 0, depth = 0;
    ASSERT_TRUE(lvgl::screenInfo(&p.port, &w, &h, &depth));
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 200);
    EXPECT_EQ(depth, 32);
    ASSERT_TRUE(lvgl::portSize(&p.port, &w, &h));
    EXPECT_EQ(w, 320);

    lvgl::Context* c = attach(&p.port, false);
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(lvgl::makeCurrent(nullptr));
    // Making it current again binds its canvas: drawing lands in the port.
    ASSERT_TRUE(lvgl::makeCurrent(c));
    drawFrame(320, 200, {10, 20, 30, 255}, {10, 20, 30, 255});
    ASSERT_TRUE(lvgl::swapBuffers(c));
    EXPECT_EQ(p.at(160, 100), (RGBA{10, 20, 30, 255}));
    lvgl::destroyContext(c);
}
