// The player itself (--source corvane:PORT) in a window on a private Xvfb,
// started before the server: it waits, takes the server's frames and track
// name once the server appears, and shows when the server has gone. (What
// the link says on the way: corvane_link_test.)
#include <gtest/gtest.h>   // before Xlib, whose macros (None, Bool) break it

#include <X11/Xlib.h>
#include <signal.h>

#include "corvane_process.h"
#include "test_xserver.h"

TEST(CorvanePlayer, StartedBeforeTheServerPicksItUpAndShowsItsTrack) {
    lvtest::XServer x;
    ASSERT_TRUE(x.running()) << x.error();
    lvtest::TempDir dir;
    const int port = lvtest::unusedPort();
    const std::string log = dir / "player.log";
    lvtest::Child player({lvtest::binary("lumenvortex"), "--source", "corvane:" + std::to_string(port), "--size",
                          "160x120"},
                         {"DISPLAY=" + x.display(), "WAYLAND_DISPLAY="}, log);
    auto logHas = [&](const std::string& part) { return lvtest::readFile(log).find(part) != std::string::npos; };
    ASSERT_TRUE(lvtest::waitFor([&] { return logHas("no Corvane server"); }, 30.0)) << lvtest::readFile(log);

    cvtest::Corvane server({"--pattern", "--mute", "--port", std::to_string(port)});
    ASSERT_EQ(server.waitForPort(), port);
    Display* d = XOpenDisplay(x.display().c_str());
    ASSERT_NE(d, nullptr);
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });   // windows come and go
    EXPECT_TRUE(lvtest::waitFor([&] { return lvtest::findWindowNamed(d, DefaultRootWindow(d), "Framing test pattern") != 0; },
                                20.0))
        << "the server's track did not reach the player";

    // Its track must not stay on show as if it still played.
    server.signal(SIGKILL);
    EXPECT_TRUE(lvtest::waitFor([&] { return lvtest::findWindowNamed(d, DefaultRootWindow(d), "Corvane server gone") != 0; },
                                20.0))
        << "the window still names the track of a server that has gone";
    XCloseDisplay(d);
    player.signal(SIGTERM);
    EXPECT_EQ(player.wait(20.0), 0) << lvtest::readFile(log);
}
