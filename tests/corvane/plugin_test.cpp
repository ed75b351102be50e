// The plug-in module fed by a real corvane: it draws on while the server
// runs, after the server is killed, and on silence when no server answers.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "corvane_process.h"
#include "test_host.h"

namespace {

// `count` frames on the plug-in's virtual clock, with a little real time
// between them for the server's frames to arrive. The canvas after them.
std::vector<uint8_t> renderFrames(lvhost::TestHost& host, int count) {
    for (int i = 0; i < count; ++i) {
        host.advanceMillis(16);
        EXPECT_EQ(host.render(), noErr);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return host.canvasPixels();
}

}  // namespace

TEST(CorvanePlugin, KeepsDrawingWhenTheServerDiesAndWithoutOne) {
    lvhost::runIsolated([] {
        unsetenv("DISPLAY");   // the offscreen port on headless EGL
        cvtest::Corvane server({"--pattern", "--mute", "--rate", "120", "--port", "0"});
        const int port = server.waitForPort();
        ASSERT_GT(port, 0);
        lvhost::TestHost host;
        ASSERT_TRUE(host.loaded());
        host.init();
        ASSERT_EQ(host.show(200, 150), noErr);
        ASSERT_EQ(host.mAttachCorvane(port), 1);

        const std::vector<uint8_t> served = renderFrames(host, 40);
        EXPECT_EQ(host.mPort.frameCount, 40u);

        server.signal(SIGKILL);
        ASSERT_EQ(server.wait(10.0), 128 + SIGKILL);
        const std::vector<uint8_t> orphaned = renderFrames(host, 40);
        EXPECT_EQ(host.mPort.frameCount, 80u);
        EXPECT_NE(orphaned, served) << "the scene stood still after the server died";

        // Nobody listens there now: the visualizer runs on silence.
        EXPECT_EQ(host.mAttachCorvane(port), 0);
        const std::vector<uint8_t> silent = renderFrames(host, 40);
        EXPECT_EQ(host.mPort.frameCount, 120u);
        EXPECT_NE(silent, orphaned) << "the scene stood still on silence";
    });
}
