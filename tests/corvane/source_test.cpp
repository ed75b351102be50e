// The core's network source against a real corvane: the frames it applies
// are the server's, whole; a server that dies leaves the last one in place
// (a source without a server: scene_network_test).
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "corvane_process.h"
#include "soundsSource.h"

namespace {

// Both channels hold one pattern frame: every byte the same value.
bool holdsOneFrame(const SoundsSource& source) {
    const unsigned char* left = source.getLeftSpectrumData();
    const unsigned char* right = source.getRightSpectrumData();
    const unsigned char v = left[0];
    return std::all_of(left, left + SPECTRUM_BINS, [&](unsigned char b) { return b == v; }) &&
           std::all_of(right, right + SPECTRUM_BINS, [&](unsigned char b) { return b == v; });
}

}  // namespace

TEST(CorvaneSource, AppliesTheServersFramesWholeAndKeepsTheLastWhenItDies) {
    cvtest::Corvane server({"--pattern", "--mute", "--rate", "250", "--port", "0"});
    const int port = server.waitForPort();
    ASSERT_GT(port, 0);
    SoundsSourceCorvane source("127.0.0.1", port);
    ASSERT_TRUE(source.isValid());

    // A visualizer's frame loop, faster than the server: every state the
    // source shows is one whole frame, and the frames move on.
    std::set<int> values;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) {
        source.update();
        ASSERT_TRUE(holdsOneFrame(source)) << "a frame was applied in pieces";
        values.insert(source.getLeftSpectrumData()[0]);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GE(values.size(), 50u) << "250 frames a second should bring many different frames";

    server.signal(SIGKILL);
    ASSERT_EQ(server.wait(10.0), 128 + SIGKILL);
    // What was already on its way is still applied; then the source stays
    // on the last whole frame and update() keeps returning.
    for (int i = 0; i < 10; ++i) source.update();
    ASSERT_TRUE(holdsOneFrame(source));
    const unsigned char last = source.getLeftSpectrumData()[0];
    for (int i = 0; i < 1000; ++i) source.update();
    EXPECT_TRUE(source.isValid());
    EXPECT_TRUE(holdsOneFrame(source));
    EXPECT_EQ(source.getLeftSpectrumData()[0], last);
}
