// The plug-in's context on a port: the status of each failing step, the
// buffer rectangle and viewport for a canvas inside a larger port, and
// reshaping. Real Mesa contexts on offscreen ports.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "iTunesGLUtils.h"

namespace {

struct Port {
    LVPort port{};
    std::vector<uint8_t> pixels;
    Port(int w, int h) : pixels(size_t(w) * h * 4) {
        port.kind = LV_PORT_OFFSCREEN;
        port.width = w;
        port.height = h;
        port.pixels = pixels.data();
    }
};

class PluginContext : public ::testing::Test {
protected:
    void TearDown() override {
        disposeGraphics();
        gGraphicsPort = nullptr;
        gAntialias = false;
    }
    static std::vector<int> viewport() {
        GLint v[4];
        glGetIntegerv(GL_VIEWPORT, v);
        return {v[0], v[1], v[2], v[3]};
    }
    static std::vector<int> bufferRect() {
        int r[4] = {-1, -1, -1, -1};
        std::string error;
        EXPECT_TRUE(lvgl::getBufferRect(gGLContext, r, error)) << error;
        return {r[0], r[1], r[2], r[3]};
    }
};

}  // namespace

TEST_F(PluginContext, SetupReportsTheStepThatFailed) {
    std::string error;
    gGraphicsPort = nullptr;
    EXPECT_EQ(setupAGL(false, error), 1) << "no port: no pixel format";
    EXPECT_EQ(gGLContext, nullptr);
    EXPECT_NE(error.find("no port"), std::string::npos) << error;
    LVPort odd{};
    odd.kind = 42;
    gGraphicsPort = &odd;
    EXPECT_EQ(setupAGL(true, error), 1);
    EXPECT_NE(error.find("LV_PORT_OFFSCREEN"), std::string::npos) << error;

    Port empty(1, 1);
    empty.port.height = 0;
    gGraphicsPort = &empty.port;
    EXPECT_EQ(setupAGL(false), 3) << "an empty port cannot be drawn on";
    EXPECT_NE(gGLContext, nullptr) << "the new context stays after failures 3 to 6";
    disposeGraphics();

    Port huge(1, 1);
    huge.port.width = 100000;
    huge.port.pixels = nullptr;
    gGraphicsPort = &huge.port;
    EXPECT_EQ(setupAGL(false, error), 5) << "a canvas larger than the driver allows";
    EXPECT_NE(error.find("larger"), std::string::npos) << error;
    disposeGraphics();

    Port fine(64, 64);
    gGraphicsPort = &fine.port;
    EXPECT_EQ(setupAGL(false, error), 0) << error;
    disposeGraphics();
    EXPECT_EQ(setupAGL(true), 0) << "antialiasing falls back to the plain format if need be";
}

TEST_F(PluginContext, CanvasInsideAPortGetsItsBufferRectangleAndViewport) {
    Port p(900, 600);
    gGraphicsPort = &p.port;
    gCanvasRect = Rect{10, 20, 510, 820};
    setupGraphics();
    ASSERT_NE(gGLContext, nullptr);
    EXPECT_EQ(bufferRect(), (std::vector<int>{20, 90, 800, 500}));
    EXPECT_EQ(viewport(), (std::vector<int>{0, 0, 800, 500}));
    EXPECT_EQ(gCanvasXOriginOffset, 0);
    EXPECT_EQ(gCanvasYOriginOffset, 0);
    const Rect bounds = getCanvasSurroundingRect();
    EXPECT_EQ(std::vector<int>({bounds.top, bounds.left, bounds.bottom, bounds.right}),
              std::vector<int>({0, 0, 600, 900}));

    // The host moves the canvas: same context, new rectangle and viewport,
    // and the projection the reshape leaves.
    const AGLContext before = gGLContext;
    gCanvasRect = Rect{0, 0, 300, 400};
    reshapeGraphics(gCanvasRect);
    EXPECT_EQ(gGLContext, before);
    EXPECT_EQ(bufferRect(), (std::vector<int>{0, 300, 400, 300}));
    EXPECT_EQ(viewport(), (std::vector<int>{0, 0, 400, 300}));
    GLfloat m[16];
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    EXPECT_FLOAT_EQ(m[0], 1.0f);
    EXPECT_FLOAT_EQ(m[10], -0.2f);   // glOrtho(-1, 1, -1, 1, 0, 10)
    EXPECT_FLOAT_EQ(m[14], -1.0f);
}
