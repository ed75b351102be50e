// The player's link to corvane (host/src/corvane_link) with the real plug-in
// module in this process and real corvane processes on one port: a player
// started before the server, the server killed and started again, the
// plug-in drawing on throughout. Beside it on the same port, the player
// itself (--source corvane:PORT) in a window on a private Xvfb, whose title
// names the server's track and then the server's going.
#include <gtest/gtest.h>   // before Xlib, whose macros (None, Bool) break it

#include <X11/Xlib.h>
#include <signal.h>

#include <algorithm>
#include <thread>

#include "corvane_link.h"
#include "corvane_process.h"
#include "test_host.h"
#include "test_xserver.h"
#include "track_record.h"

namespace {

using Clock = CorvaneLink::Clock;

long countHaving(const std::vector<std::string>& lines, const std::string& part) {
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != l.npos; });
}

}  // namespace

TEST(CorvaneLink, FollowsTheServerAcrossRestartsSaysEachSilenceOnceAndThePlayersWindowShowsIt) {
    lvhost::runWithHost([](lvhost::TestHost& host) {   // the offscreen port on headless EGL
        const int port = lvtest::unusedPort();
        ASSERT_EQ(host.show(160, 120), noErr);
        lvtest::XServer x;
        ASSERT_TRUE(x.running()) << x.error();
        lvtest::TempDir dir;
        const std::string log = dir / "player.log";
        lvtest::Child player({lvtest::binary("lumenvortex"), "--source", "corvane:" + std::to_string(port), "--size",
                              "160x120"},
                             {"DISPLAY=" + x.display(), "WAYLAND_DISPLAY="}, log);
        ASSERT_TRUE(lvtest::waitFor([&] { return lvtest::readFile(log).find("no Corvane server") != std::string::npos; },
                                    30.0))
            << lvtest::readFile(log);
        Display* d = XOpenDisplay(x.display().c_str());
        ASSERT_NE(d, nullptr);
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });   // windows come and go
        auto window = [&](const std::string& name) {
            return lvtest::waitFor([&] { return lvtest::findWindowNamed(d, DefaultRootWindow(d), name) != 0; }, 20.0);
        };

        std::vector<std::string> said;
        CorvaneLink::Hooks hooks;
        hooks.attach = [&] { return host.attachCorvane(port); };
        // What the player does with a track line: "ctrk" with its record.
        hooks.onTrack = [&](const lv::TrackMeta& meta) {
            ITTrackInfo record;
            makeTrackRecord(meta, record);
            host.changeTrack(record);
        };
        hooks.say = [&](const std::string& m) { said.push_back(m); };
        int gone = 0;
        hooks.onGone = [&] { ++gone; };
        CorvaneLink link(port, hooks);
        link.start(Clock::now());

        // The player's frames: the link's tick, then a render message; until
        // `done`, or false after `seconds`.
        unsigned long frames = 0;
        auto play = [&](double seconds, const std::function<bool()>& done) {
            const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                              std::chrono::duration<double>(seconds));
            while (Clock::now() < end) {
                link.tick(Clock::now());
                host.advanceMillis(16);
                EXPECT_EQ(host.render(), noErr);
                ++frames;
                if (done && done()) return true;
                std::this_thread::sleep_for(std::chrono::milliseconds(8));
            }
            return false;
        };
        auto flowing = [&] { return link.attached() && link.receiving(Clock::now()); };

        // Started before the server: silence, said once over several retries;
        // the scene moves on all the same.
        play(1.0, nullptr);
        const std::vector<uint8_t> silent = host.canvasPixels();
        play(1.5, nullptr);
        EXPECT_NE(host.canvasPixels(), silent) << "the scene stood still on silence";
        EXPECT_FALSE(link.attached());
        EXPECT_EQ(said.size(), 1u);
        EXPECT_EQ(countHaving(said, "no Corvane server on 127.0.0.1:" + std::to_string(port)), 1);
        EXPECT_EQ(gone, 0) << "no server has gone: none was there";

        const std::vector<std::string> server{"--pattern", "--mute", "--port", std::to_string(port)};
        std::vector<uint8_t> served;
        {
            cvtest::Corvane first(server);
            ASSERT_EQ(first.waitForPort(), port);
            ASSERT_TRUE(play(10.0, flowing)) << "no source attached once the server appeared";
            EXPECT_EQ(link.attaches(), 1);
            // Its track line, through "ctrk", is what the overlay shows.
            ASSERT_TRUE(play(5.0, [&] { return host.mLastTrackRecord.name[0] != 0; }));
            EXPECT_EQ(uniStr255ToUtf8(host.mLastTrackRecord.name), "Framing test pattern");
            EXPECT_TRUE(window("Framing test pattern")) << "the server's track did not reach the player";
            served = host.canvasPixels();
            first.signal(SIGKILL);
            ASSERT_EQ(first.wait(10.0), 128 + SIGKILL);
        }

        // Gone for three seconds: said once, however often it retries, and
        // told once, for the window and the overlay.
        EXPECT_TRUE(play(3.0, [&] { return gone > 0; })) << "the server's end went unnoticed";
        play(3.0, nullptr);
        EXPECT_FALSE(link.attached());
        EXPECT_EQ(countHaving(said, "no frames from corvane"), 1) << said.back();
        EXPECT_EQ(gone, 1);
        EXPECT_NE(host.canvasPixels(), served) << "the scene stood still after the server died";
        // Its track must not stay on show as if it still played.
        EXPECT_TRUE(window("Corvane server gone")) << "the window still names the track of a server that has gone";

        // Back on the same port: a fresh source, frames flow again, and its
        // track line comes on a fresh track connection.
        host.mLastTrackRecord.name[0] = 0;
        cvtest::Corvane second(server);
        ASSERT_EQ(second.waitForPort(), port);
        ASSERT_TRUE(play(10.0, flowing)) << "no source attached once the server came back";
        EXPECT_TRUE(play(5.0, [&] { return host.mLastTrackRecord.name[0] != 0; }))
            << "the track channel was not opened again";
        EXPECT_EQ(link.attaches(), 2);
        EXPECT_EQ(gone, 1);
        EXPECT_EQ(countHaving(said, "is sending"), 2);
        EXPECT_EQ(said.size(), 4u) << ::testing::PrintToString(said);
        EXPECT_EQ(host.mPort.frameCount, frames) << "the plug-in missed frames while the server was away";
        XCloseDisplay(d);
        player.signal(SIGTERM);
        EXPECT_EQ(player.wait(20.0), 0) << lvtest::readFile(log);
    });
}
