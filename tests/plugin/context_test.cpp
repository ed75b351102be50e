// The plug-in's context on a port: the status of each failing step, on real
// Mesa contexts on offscreen ports. Where a canvas inside a larger port is
// drawn, and its reshaping, are seen from the host (host_messages_test).
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gl_test_env.h"
#include "iTunesGLUtils.h"

namespace {

using Port = lvtest::OffscreenPort;

class PluginContext : public ::testing::Test {
protected:
    void TearDown() override {
        disposeGraphics();
        gGraphicsPort = nullptr;
        gAntialias = false;
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
