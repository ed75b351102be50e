// GL contexts on a real X11 window (a private Xvfb): the window's visual is
// matched, frames reach the window at the buffer rectangle, and the screen's
// size is what X reports.
#include <gtest/gtest.h>   // before Xlib, whose macros (None, Bool) break it

#include <GL/gl.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "lv/gl_context.h"
#include "test_xserver.h"

namespace {

struct Window11 {
    Display* display = nullptr;
    Window window = 0;
    LVPort port{};
    Window11(const std::string& name, int w, int h) {
        display = XOpenDisplay(name.c_str());
        if (!display) return;
        window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, w, h, 0, 0, 0);
        XMapWindow(display, window);
        XSync(display, False);
        port.kind = LV_PORT_X11_WINDOW;
        port.x11Display = display;
        port.x11Window = window;
    }
    ~Window11() {
        if (!display) return;
        XDestroyWindow(display, window);
        XCloseDisplay(display);
    }
    unsigned long pixel(int x, int y) const {
        XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
        const unsigned long p = image ? XGetPixel(image, 0, 0) & 0xFFFFFF : 0xDEADBEEF;
        if (image) XDestroyImage(image);
        return p;
    }
};

}  // namespace

TEST(GLContextX11, FramesReachTheWindowAtTheBufferRectangle) {
    lvtest::XServer server(640, 480);
    if (!server.running()) GTEST_SKIP() << server.error();
    Window11 w(server.display(), 200, 150);
    ASSERT_NE(w.display, nullptr);

    int sw = 0, sh = 0, depth = 0;
    ASSERT_TRUE(lvgl::screenInfo(&w.port, &sw, &sh, &depth));
    EXPECT_EQ(sw, 640);
    EXPECT_EQ(sh, 480);
    EXPECT_EQ(depth, 24);
    ASSERT_TRUE(lvgl::portSize(&w.port, &sw, &sh));
    EXPECT_EQ(sw, 200);
    EXPECT_EQ(sh, 150);

    lvgl::PixelFormat* format = lvgl::choosePixelFormat(&w.port, false);
    ASSERT_NE(format, nullptr) << lvgl::lastError();
    lvgl::Context* c = lvgl::createContext(format);
    lvgl::destroyPixelFormat(format);
    ASSERT_NE(c, nullptr) << lvgl::lastError();
    ASSERT_TRUE(lvgl::setDrawable(c, &w.port)) << lvgl::lastError();
    ASSERT_TRUE(lvgl::makeCurrent(c)) << lvgl::lastError();
    const int rect[4] = {20, 30, 100, 50};   // window rows 70..119 from the top
    ASSERT_TRUE(lvgl::enableBufferRect(c));
    ASSERT_TRUE(lvgl::setBufferRect(c, rect));
    ASSERT_TRUE(lvgl::updateContext(c)) << lvgl::lastError();
    EXPECT_TRUE(lvgl::setSwapInterval(c, 0));

    glViewport(0, 0, 100, 50);
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 100, 50, 0, -1, 1);
    glColor3ub(0, 0, 255);
    glRecti(0, 0, 100, 25);   // the canvas's upper half
    glFinish();
    ASSERT_TRUE(lvgl::swapBuffers(c)) << lvgl::lastError();
    XSync(w.display, False);

    EXPECT_EQ(w.pixel(20, 70), 0x0000FFul);
    EXPECT_EQ(w.pixel(119, 94), 0x0000FFul);
    EXPECT_EQ(w.pixel(20, 95), 0xFF0000ul);
    EXPECT_EQ(w.pixel(119, 119), 0xFF0000ul);
    EXPECT_EQ(w.pixel(19, 70), 0ul) << "outside the canvas the window is black";
    EXPECT_EQ(w.pixel(120, 119), 0ul);
    EXPECT_EQ(w.pixel(20, 69), 0ul);
    EXPECT_EQ(w.pixel(20, 120), 0ul);
    lvgl::destroyContext(c);
}

TEST(GLContextX11, AWindowThatIsGoneFailsWithoutEndingTheProcess) {
    lvtest::XServer server;
    if (!server.running()) GTEST_SKIP() << server.error();
    Window11 w(server.display(), 64, 64);
    ASSERT_NE(w.display, nullptr);
    LVPort gone = w.port;
    gone.x11Window = w.window + 12345;   // no such window
    int width, height;
    EXPECT_FALSE(lvgl::portSize(&gone, &width, &height));
    EXPECT_EQ(lvgl::choosePixelFormat(&gone, false), nullptr);
    LVPort noDisplay = w.port;
    noDisplay.x11Display = nullptr;
    EXPECT_EQ(lvgl::choosePixelFormat(&noDisplay, false), nullptr);
}
