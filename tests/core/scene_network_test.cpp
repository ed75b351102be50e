// The network spectrum source against a real TCP server on the loopback
// interface: framing across reads, catching up after a pause, a closing
// server, no server at all and one that accepts no one.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "program_test_support.h"
#include "soundsSource.h"

namespace {

// A listening socket on 127.0.0.1 at a port the system picks.
struct LoopbackServer {
    int listener = lvtest::holdPort(0);
    int peer = -1;
    int port = listener >= 0 ? lvtest::portOf(listener) : 0;

    ~LoopbackServer() {
        if (peer >= 0) close(peer);
        close(listener);
    }
    bool accept() { return (peer = ::accept(listener, nullptr, nullptr)) >= 0; }
    // Sends bytes [from, from + count) of `bytes` and waits (without judging
    // how long it took) until the client's socket `fd` holds them.
    void send(const std::vector<unsigned char>& bytes, size_t from, size_t count, int fd) {
        ASSERT_EQ(::send(peer, bytes.data() + from, count, 0), (ssize_t)count);
        for (int tries = 0, waiting = 0; tries < 1000; tries++) {
            ioctl(fd, FIONREAD, &waiting);
            if (waiting >= (int)count) return;
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 10);
        }
        FAIL() << "the loopback connection did not deliver " << count << " bytes";
    }
};

// Frame k: left channel all k, right channel all k + 100.
std::vector<unsigned char> frames(int n) {
    std::vector<unsigned char> bytes;
    for (int k = 1; k <= n; k++) {
        bytes.insert(bytes.end(), 512, (unsigned char)k);
        bytes.insert(bytes.end(), 512, (unsigned char)(k + 100));
    }
    return bytes;
}

// The frame on show, as its left and right channel's values.
std::pair<int, int> shown(const SoundsSource& s) { return {s.getLeftSpectrumData()[300], s.getRightSpectrumData()[511]}; }

TEST(SceneNetworkSource, FramesArriveWholeAndAPauseIsMadeUpAtOnce) {
    LoopbackServer server;
    ASSERT_GT(server.port, 0);
    SoundsSourceCorvane source("ignored.example", server.port);
    ASSERT_TRUE(source.isValid());
    ASSERT_TRUE(server.accept());
    auto bytes = frames(30);

    // Frame 1 in three pieces, each read by its own update.
    size_t cuts[] = {0, 100, 700, 1024};
    for (int piece = 0; piece < 3; piece++) {
        server.send(bytes, cuts[piece], cuts[piece + 1] - cuts[piece], source.mSocketFD);
        source.update();
        EXPECT_EQ(shown(source), piece < 2 ? std::pair(0, 0) : std::pair(1, 101)) << "a frame is applied on its last byte";
    }

    // After a pause the frames that piled up are read at once: the very next
    // update shows the newest whole one, and the part of the next frame
    // behind it waits, still aligned, for its last byte.
    server.send(bytes, 1024, 28 * 1024 + 300, source.mSocketFD);
    source.update();
    EXPECT_EQ(shown(source), std::pair(29, 129));
    server.send(bytes, 29 * 1024 + 300, 1024 - 300, source.mSocketFD);
    source.update();
    EXPECT_EQ(shown(source), std::pair(30, 130));
    source.update();   // nothing more is coming: the call comes straight back
    EXPECT_EQ(shown(source), std::pair(30, 130));

    // A server closing mid-frame leaves the last whole frame in place.
    server.send(bytes, 0, 300, source.mSocketFD);
    close(server.peer);
    server.peer = -1;
    for (int i = 0; i < 3; i++) source.update();
    EXPECT_EQ(shown(source), std::pair(30, 130));
    EXPECT_TRUE(source.isValid());
}

TEST(SceneNetworkSource, NoServerOrOneThatAcceptsNoOneLeavesTheSourceInvalidAtOnce) {
    SoundsSourceCorvane nobody(nullptr, lvtest::unusedPort());
    EXPECT_FALSE(nobody.isValid());
    for (int i = 0; i < 10; i++) nobody.update();
    for (const unsigned char* bins : {nobody.getLeftSpectrumData(), nobody.getRightSpectrumData()})
        EXPECT_TRUE(std::all_of(bins, bins + 512, [](unsigned char b) { return b == 0; }));

    // Backlog 0 holds one waiting connection; past it the kernel drops the
    // handshake, and a plain connect would retry it for two minutes.
    LoopbackServer server;
    ASSERT_EQ(listen(server.listener, 0), 0);
    const int waiting = lvtest::connectClient(server.port);
    ASSERT_GE(waiting, 0);

    auto made = std::make_shared<std::promise<std::unique_ptr<SoundsSourceCorvane>>>();
    std::thread([made, port = server.port] {
        made->set_value(std::make_unique<SoundsSourceCorvane>(nullptr, port));
    }).detach();
    auto source = made->get_future();
    // Detached: on failure the test ends without waiting for the blocked connect.
    ASSERT_TRUE(source.wait_for(std::chrono::seconds(10)) == std::future_status::ready)
        << "connecting held the frame up";
    EXPECT_FALSE(source.get()->isValid());
    close(waiting);
}

}  // namespace
